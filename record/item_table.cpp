#include "record/item_table.hpp"

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

// ITEM_NONE is refused when the format is checked; should it ever get here,
// its raw bytes are written up to the first zero byte.
std::size_t decode_raw(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    const auto n = static_cast<std::size_t>(std::find(item.begin(), item.end(), std::uint8_t{0}) - item.begin());
    if (n > 0) std::memcpy(out, item.data(), n);
    return n;
}

std::size_t decode_raw(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport&) noexcept {
    return decode_raw(item, out);
}

// Indexed by ItemType: the decoder, its reporting form and its bound.
constexpr std::array<ItemCodec, 9> ITEM_CODECS = {{
    /* ITEM_NONE   */ {decode_raw, decode_raw, ebcdic_bound},
    /* ITEM_EBCDIC */ {ebcdic_to_jis8, ebcdic_to_jis8, ebcdic_bound},
    /* ITEM_PACKED */ {decode_packed_field, decode_packed_field, packed_bound},
    /* ITEM_ZONED  */ {decode_zoned_field, decode_zoned_field, zoned_bound},
    /* ITEM_JIS    */ {decode_jis_field, decode_jis_field, jis_bound},
    /* ITEM_JEF    */ {decode_jef_field, decode_jef_field, jef_bound},
    /* ITEM_JEF_N  */ {decode_jef_n_field, decode_jef_n_field, jef_bound},
    /* ITEM_KEIS   */ {decode_keis_field, decode_keis_field, keis_bound},
    /* ITEM_KEIS_N */ {decode_keis_n_field, decode_keis_n_field, keis_bound},
}};

}  // namespace

const ItemCodec& item_codec(ItemType type) noexcept {
    const auto index = static_cast<std::size_t>(type);
    return index < ITEM_CODECS.size() ? ITEM_CODECS[index] : ITEM_CODECS[ITEM_NONE];
}

}  // namespace rekmo
