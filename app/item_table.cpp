#include "app/item_table.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/decimal.hpp"
#include "codec/ebcdic.hpp"
#include "codec/jef.hpp"
#include "codec/jis.hpp"
#include "codec/keis.hpp"

namespace rekmo {
namespace {

using Item = std::span<const std::uint8_t>;

// ITEM_NONE is refused when the format is checked; should it ever get here,
// its raw bytes are written up to the first zero byte.
std::size_t decode_raw(Item item, std::uint8_t* out) noexcept {
    const auto n = static_cast<std::size_t>(std::find(item.begin(), item.end(), std::uint8_t{0}) - item.begin());
    if (n > 0) std::memcpy(out, item.data(), n);
    return n;
}

std::size_t same_length(std::size_t n) noexcept { return n; }

std::size_t decode_raw(Item item, std::uint8_t* out, DecodeReport&) noexcept { return decode_raw(item, out); }

std::size_t decode_ebcdic(Item in, std::uint8_t* out) noexcept {
    ebcdic_to_jis8(in, out);
    return in.size();
}
std::size_t decode_ebcdic(Item in, std::uint8_t* out, DecodeReport&) noexcept { return decode_ebcdic(in, out); }

// One decoder per type and mode, in the converter's and the report's form.
template <DecimalMode MODE, class... Report>
std::size_t decode_decimal_item(Item in, std::uint8_t* out, Report&... report) noexcept {
    return decimal_to_text(MODE, in, out, report...);
}
template <bool MIXED, class... Report>
std::size_t decode_jef_item(Item in, std::uint8_t* out, Report&... report) noexcept {
    return decode_jef_field(MIXED, in, out, report...);
}
template <bool MIXED, class... Report>
std::size_t decode_keis_item(Item in, std::uint8_t* out, Report&... report) noexcept {
    return decode_keis_field(MIXED, in, out, report...);
}

template <DecimalMode MODE>
std::size_t decimal_bound_of(std::size_t n) noexcept {
    return decimal_bound(MODE, n);
}

// Indexed by ItemType. Text decoders never write more bytes than they read.
constexpr std::array<ItemCodec, 9> ITEM_CODECS = {{
    /* ITEM_NONE   */ {decode_raw, same_length, decode_raw},
    /* ITEM_EBCDIC */ {decode_ebcdic, same_length, decode_ebcdic},
    /* ITEM_PACKED */ {decode_decimal_item<DECIMAL_PACKED>, decimal_bound_of<DECIMAL_PACKED>,
                       decode_decimal_item<DECIMAL_PACKED, DecodeReport>},
    /* ITEM_ZONED  */ {decode_decimal_item<DECIMAL_ZONED>, decimal_bound_of<DECIMAL_ZONED>,
                       decode_decimal_item<DECIMAL_ZONED, DecodeReport>},
    /* ITEM_JIS    */ {decode_jis_field, same_length, decode_jis_field},
    /* ITEM_JEF    */ {decode_jef_item<true>, same_length, decode_jef_item<true, DecodeReport>},
    /* ITEM_JEF_N  */ {decode_jef_item<false>, same_length, decode_jef_item<false, DecodeReport>},
    /* ITEM_KEIS   */ {decode_keis_item<true>, same_length, decode_keis_item<true, DecodeReport>},
    /* ITEM_KEIS_N */ {decode_keis_item<false>, same_length, decode_keis_item<false, DecodeReport>},
}};

static_assert(ebcdic_bound(7) == 7 && jis_bound(7) == 7 && jef_bound(7) == 7 && keis_bound(7) == 7,
              "the table takes text decoders' bounds as the item length");

}  // namespace

const ItemCodec& item_codec(ItemType type) noexcept {
    const auto index = static_cast<std::size_t>(type);
    return index < ITEM_CODECS.size() ? ITEM_CODECS[index] : ITEM_CODECS[ITEM_NONE];
}

}  // namespace rekmo
