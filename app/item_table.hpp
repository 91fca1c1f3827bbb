// Item type -> decoder: the one place that lists every decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"
#include "format/format.hpp"

namespace rekmo {

// Writes the item's text (never holding a 0x00 byte) to `out` and returns its
// length. `out` holds at least bound(item.size()) bytes.
using DecodeFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;
// The same decoder, noting its findings in `report`.
using InspectFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;
// Worst-case text length for an item of n bytes.
using BoundFn = std::size_t (*)(std::size_t n) noexcept;

struct ItemCodec {
    DecodeFn decode;
    BoundFn bound;
    InspectFn inspect;
};

// The codec for an item type. ITEM_NONE never reaches conversion (the format
// check rejects it); it maps to the raw-bytes row.
const ItemCodec& item_codec(ItemType type) noexcept;

}  // namespace rekmo
