// Item type -> decoder: the one place that lists every decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"
#include "codec/vector.hpp"
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
    // How the line kernels convert it when it is short enough (see
    // field_op), the single-byte table they read, as bytes and as rows, and
    // a host page's double-byte texts by code.
    FieldOp field = FieldOp::CALL;
    const std::uint8_t* table = nullptr;
    const std::uint8_t* rows = nullptr;
    const std::uint16_t* pairs = nullptr;
};

// The codec for an item type. ITEM_NONE never reaches conversion (the format
// check refuses it); it maps to a row that writes the raw bytes.
const ItemCodec& item_codec(ItemType type) noexcept;

// The codec for an item type under a format's HOSTCODE: the host code page's
// decoders for the types it covers, the default ones for the others.
const ItemCodec& item_codec(ItemType type, HostCode host) noexcept;

// The line kernels' op for an item of `length` bytes of this codec: its
// field op where the kernels take that length (never 0), CALL otherwise.
FieldOp field_op(const ItemCodec& codec, std::size_t length) noexcept;

}  // namespace rekmo
