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
// The same decoder, noting what it drops or finds unusual in `report`.
using ReportFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;
// Worst-case text length for an item of n bytes.
using BoundFn = std::size_t (*)(std::size_t n) noexcept;

struct ItemCodec {
    DecodeFn decode;
    ReportFn report;
    BoundFn bound;
};

// The codec for an item type. ITEM_NONE never reaches conversion (the format
// check refuses it); it maps to a row that writes the raw bytes.
const ItemCodec& item_codec(ItemType type) noexcept;

// The codec for an item type under a format's HOSTCODE: the host code page's
// decoders for the types it covers, the default ones for the others.
const ItemCodec& item_codec(ItemType type, HostCode host) noexcept;

}  // namespace rekmo
