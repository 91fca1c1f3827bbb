// KEIS host double-byte text (K and KN items) to Shift_JIS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/host_code.hpp"
#include "codec/report.hpp"
#include "codec/vector.hpp"

namespace rekmo {

// Converts a K item: host single-byte text with double-byte stretches
// between 0A 42 and 0A 41. Every byte of the item is data, zero bytes
// included. `out` holds keis_bound(item.size()) bytes. Returns the text's
// length.
//   C1 C2 0A 42 B0 A1 0A 41 C3  ->  41 42 88 9F 43
std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

// Converts a KN item: double-byte characters only, no shift codes.
//   A4 A2 A4 A4  ->  82 A0 82 A2
std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

// With the decoders of a given level (the plain forms take the best this
// processor has; SCALAR is the reference, and what a report uses).
std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                              const VectorKernels& kernels) noexcept;
std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const VectorKernels& kernels) noexcept;

// The same conversions, noting in `report` what they drop or find unusual.
std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;
std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;

// The text is never longer than the item.
constexpr std::size_t keis_bound(std::size_t n) noexcept { return n; }

// The same conversions through a host code page (HOSTCODE=): its tables for
// the double-byte characters and the single-byte stretches. An K item's text
// may be twice as long as the item (host_single_bound), an KN item's is not
// longer (host_pairs_bound).
std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page) noexcept;
std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const HostCodePage& page) noexcept;
std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                              DecodeReport& report) noexcept;
std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                                DecodeReport& report) noexcept;

// The same conversions through a UTF-8 page (CSV=UTF8 with HOSTCODE=): the
// table's own characters in UTF-8. `out` holds host_utf8_bound(item.size())
// bytes.
std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page) noexcept;
std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const HostUtf8Page& page) noexcept;
std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                              DecodeReport& report) noexcept;
std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                                DecodeReport& report) noexcept;

}  // namespace rekmo
