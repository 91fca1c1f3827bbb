// KEIS host double-byte text (K and KN items) to Shift_JIS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"

namespace rekmo {

// Converts a K item (mixed = true: host single-byte text with double-byte
// stretches between 0A 42 and 0A 41) or a KN item (mixed = false: double-byte
// only). Every byte of the item is data, zero bytes included. `out` holds
// keis_bound(item.size()) bytes. Returns the text's length.
//   K   C1 C2 0A 42 B0 A1 0A 41 C3  ->  41 42 88 9F 43
//   KN  A4 A2 A4 A4                 ->  82 A0 82 A2
std::size_t decode_keis_field(bool mixed, std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

// The same conversion, noting in `report` what it dropped or found unusual.
std::size_t decode_keis_field(bool mixed, std::span<const std::uint8_t> item, std::uint8_t* out,
                              DecodeReport& report) noexcept;

// The text is never longer than the item.
constexpr std::size_t keis_bound(std::size_t n) noexcept { return n; }

}  // namespace rekmo
