// Host single-byte code (EBCDIC with half-width katakana) to JIS X 0201.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"
#include "codec/vector.hpp"

namespace rekmo {

// Host byte -> JIS X 0201 byte (ASCII plus half-width katakana 0xA1-0xDF,
// the single-byte half of Shift_JIS). No position gives 0x00.
extern const std::array<std::uint8_t, 256> HOST_SB_TABLE;
// The same table as the vector kernels read it.
extern const HostTextRows HOST_SB_ROWS;

// Converts an E item: every byte of `in` through HOST_SB_TABLE into `out`,
// which holds ebcdic_bound(in.size()) bytes; `out` may be in.data()
// (conversion in place). Zero bytes are data like any other: 00 becomes a
// space. Returns the text's length, always in.size().
//   C1 C2 C3 40 F1 F2  ->  "ABC 12"
std::size_t ebcdic_to_jis8(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept;

// the same conversion with the decoders of a given level (the plain form
// takes the best this processor has); SCALAR is the reference.
std::size_t ebcdic_to_jis8(std::span<const std::uint8_t> in, std::uint8_t* out, const VectorKernels& kernels) noexcept;

// The same conversion for a report: single-byte text drops nothing.
std::size_t ebcdic_to_jis8(std::span<const std::uint8_t> in, std::uint8_t* out, DecodeReport& report) noexcept;

// Worst-case output size of ebcdic_to_jis8 for an input of n bytes.
constexpr std::size_t ebcdic_bound(std::size_t n) noexcept { return n; }

// An E item's text in UTF-8 with the decoders of a level, in one pass: the
// code page 932 decoding of ebcdic_to_jis8's text. `out` holds 3 * in.size()
// bytes and must not overlap `in`. Returns the text's length.
//   C1 81 40  ->  41 EF BD B1 20
std::size_t ebcdic_to_utf8(std::span<const std::uint8_t> in, std::uint8_t* out, const VectorKernels& kernels) noexcept;

}  // namespace rekmo
