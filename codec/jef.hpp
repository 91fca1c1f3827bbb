// JEF host double-byte text (F and FN items) to Shift_JIS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"

namespace rekmo {

// Converts an F item (mixed = true: host single-byte text with double-byte
// stretches between 28 and 29) or an FN item (mixed = false: double-byte
// only). Every byte of the item is data, zero bytes included. `out` holds
// jef_bound(item.size()) bytes. Returns the text's length.
//   F   C1 28 B0 A1 40 40 29 C2  ->  41 88 9F 81 40 42
//   FN  40 40 A4 A2              ->  81 40 82 A0
std::size_t decode_jef_field(bool mixed, std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

// The same conversion, noting in `report` what it dropped or found unusual.
std::size_t decode_jef_field(bool mixed, std::span<const std::uint8_t> item, std::uint8_t* out,
                             DecodeReport& report) noexcept;

// The text is never longer than the item.
constexpr std::size_t jef_bound(std::size_t n) noexcept { return n; }

}  // namespace rekmo
