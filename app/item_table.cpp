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

// Indexed by ItemType. Text decoders never write more bytes than they read.
constexpr std::array<ItemCodec, 9> ITEM_CODECS = {{
    /* ITEM_NONE   */ {decode_raw, same_length},
    /* ITEM_EBCDIC */ {[](Item in, std::uint8_t* out) noexcept {
                           ebcdic_to_jis8(in, out);
                           return in.size();
                       },
                       same_length},
    /* ITEM_PACKED */ {[](Item in, std::uint8_t* out) noexcept { return decimal_to_text(DECIMAL_PACKED, in, out); },
                       [](std::size_t n) noexcept { return decimal_bound(DECIMAL_PACKED, n); }},
    /* ITEM_ZONED  */ {[](Item in, std::uint8_t* out) noexcept { return decimal_to_text(DECIMAL_ZONED, in, out); },
                       [](std::size_t n) noexcept { return decimal_bound(DECIMAL_ZONED, n); }},
    /* ITEM_JIS    */ {decode_jis_field, same_length},
    /* ITEM_JEF    */ {[](Item in, std::uint8_t* out) noexcept { return decode_jef_field(true, in, out); },
                       same_length},
    /* ITEM_JEF_N  */ {[](Item in, std::uint8_t* out) noexcept { return decode_jef_field(false, in, out); },
                       same_length},
    /* ITEM_KEIS   */ {[](Item in, std::uint8_t* out) noexcept { return decode_keis_field(true, in, out); },
                       same_length},
    /* ITEM_KEIS_N */ {[](Item in, std::uint8_t* out) noexcept { return decode_keis_field(false, in, out); },
                       same_length},
}};

static_assert(ebcdic_bound(7) == 7 && jis_bound(7) == 7 && jef_bound(7) == 7 && keis_bound(7) == 7,
              "the table takes text decoders' bounds as the item length");

}  // namespace

const ItemCodec& item_codec(ItemType type) noexcept {
    const auto index = static_cast<std::size_t>(type);
    return index < ITEM_CODECS.size() ? ITEM_CODECS[index] : ITEM_CODECS[ITEM_NONE];
}

}  // namespace rekmo
