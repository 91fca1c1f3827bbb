// 7-bit JIS text with escape sequences (J items) to Shift_JIS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"
#include "codec/vector.hpp"

namespace rekmo {

// Converts a J item: the bytes before its first zero byte, single-byte
// stretches copied as they are, double-byte stretches (ESC $ B ... ESC ( J or
// ESC ( H) converted to Shift_JIS. `out` holds jis_bound(item.size()) bytes.
// Returns the text's length.
//   1B 24 42 24 22 24 24 1B 28 4A 41  ->  82 A0 82 A2 41
std::size_t decode_jis_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

// With the decoders of a given level (the plain forms take the best this
// processor has; SCALAR is the reference, and what a report uses).
std::size_t decode_jis_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                             const VectorKernels& kernels) noexcept;

// The same conversion, noting in `report` what it dropped or found unusual.
std::size_t decode_jis_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;

// The text is never longer than the item.
constexpr std::size_t jis_bound(std::size_t n) noexcept { return n; }

}  // namespace rekmo
