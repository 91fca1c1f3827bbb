#include "app/item_table.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/decimal.hpp"
#include "codec/ebcdic.hpp"
#include "codec/jis.hpp"

namespace rekmo {
namespace {

std::size_t decode_ebcdic(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    ebcdic_to_jis8(item, out);
    return item.size();
}

// A type without a decoder yet: its raw bytes, up to the first zero byte.
std::size_t decode_raw(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    const auto end = std::find(item.begin(), item.end(), std::uint8_t{0});
    const auto n = static_cast<std::size_t>(end - item.begin());
    if (n > 0) std::memcpy(out, item.data(), n);
    return n;
}

std::size_t decode_packed(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return decimal_to_text(DECIMAL_PACKED, item, out);
}

std::size_t decode_zoned(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return decimal_to_text(DECIMAL_ZONED, item, out);
}

std::size_t raw_bound(std::size_t n) noexcept { return n; }
std::size_t packed_bound(std::size_t n) noexcept { return decimal_bound(DECIMAL_PACKED, n); }
std::size_t zoned_bound(std::size_t n) noexcept { return decimal_bound(DECIMAL_ZONED, n); }
std::size_t jis_text_bound(std::size_t n) noexcept { return jis_bound(n); }
std::size_t ebcdic_text_bound(std::size_t n) noexcept { return ebcdic_bound(n); }

constexpr ItemCodec RAW{decode_raw, raw_bound};

// Indexed by ItemType.
constexpr std::array<ItemCodec, 9> ITEM_CODECS = {{
    /* ITEM_NONE   */ RAW,
    /* ITEM_EBCDIC */ {decode_ebcdic, ebcdic_text_bound},
    /* ITEM_PACKED */ {decode_packed, packed_bound},
    /* ITEM_ZONED  */ {decode_zoned, zoned_bound},
    /* ITEM_JIS    */ {decode_jis_field, jis_text_bound},
    /* ITEM_JEF    */ RAW,
    /* ITEM_JEF_N  */ RAW,
    /* ITEM_KEIS   */ RAW,
    /* ITEM_KEIS_N */ RAW,
}};

}  // namespace

const ItemCodec& item_codec(ItemType type) noexcept {
    const auto index = static_cast<std::size_t>(type);
    return index < ITEM_CODECS.size() ? ITEM_CODECS[index] : ITEM_CODECS[ITEM_NONE];
}

}  // namespace rekmo
