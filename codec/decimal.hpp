// Zoned and packed decimal: host numbers, read as a double and printed as an
// integer text with at most 17 significant digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"
#include "codec/vector.hpp"

namespace rekmo {

enum DecimalMode {
    DECIMAL_ZONED = 1,   // one digit per byte, the sign in the high half of the last byte
    DECIMAL_PACKED = 2,  // two digits per byte, the sign in the low half of the last byte
};

// The item's value: its digits up to the first half-byte above 9, read as the
// nearest double (leading zeros skipped, the first 25 significant digits read,
// later digits counted as zeros), negative unless the sign half-byte is C or F.
// More than 308 significant digits leave the range of a double: infinity.
double decode_decimal(DecimalMode mode, std::span<const std::uint8_t> item) noexcept;

// Writes an integral double as "%.0lf" with at most 17 significant digits: the
// exact decimal value rounded at the 17th digit, half up from the 18th digit
// alone, the remaining integer places printed as 0; '-' for negative values;
// zero (also -0) as "0"; infinity as "inf". `out` holds as many bytes as the
// value has integer digits, and one more for a sign: at most 310.
//   1234567890123456768.0  ->  "1234567890123456800"
std::size_t print_decimal(double value, std::uint8_t* out) noexcept;

// Converts a P or a Z item: print_decimal(decode_decimal(mode, item)), without
// the detour through a double where the number is short enough to be exact.
// `out` holds packed_bound(item.size()) or zoned_bound(item.size()) bytes.
// Returns the text's length.
//   P  01 23 4D  ->  "-1234"
//   Z  F1 F2 C3  ->  "123"
// The format check keeps P items to 150 bytes and Z items to 300, so that
// rekmo's numbers stay finite; longer items print "inf" (or "-inf") when they
// hold more than 308 significant digits, as "%.0lf" prints infinity.
std::size_t decode_packed_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;
std::size_t decode_zoned_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

// With the decoders of a given level (the plain forms take the best this
// processor has; SCALAR is the reference, and what a report uses).
std::size_t decode_packed_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const VectorKernels& kernels) noexcept;
std::size_t decode_zoned_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                               const VectorKernels& kernels) noexcept;

// The same conversions, noting in `report` non-digit half-bytes, a sign other
// than C, D or F, and a printed text that differs from the item's digits.
std::size_t decode_packed_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;
std::size_t decode_zoned_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;

// For a program that stores numbers rather than texts: the integer that a P
// item of 1 to 8 bytes or a Z item of 1 to 15 bytes prints as (at most 15
// digits, so the text read back is exact), and in `number` whether every
// digit position holds 0-9 and the sign half-byte is above 9 (where the
// exact forms print no number otherwise). Eight bytes at a time when every
// digit is one; the text's own rules (a half-byte above 9 ends the number)
// for the others.
//   P  01 23 4D  ->  -1234, number
//   Z  F1 4A C3  ->  1, not a number
std::int64_t short_decimal_value(DecimalMode mode, std::span<const std::uint8_t> item, bool& number) noexcept;
// The same for the n bytes at `at` of `bytes` (a record), which may be read
// around them.
std::int64_t short_decimal_value(DecimalMode mode, std::span<const std::uint8_t> bytes, std::size_t at, std::size_t n,
                                 bool& number) noexcept;
// The same for every whole record of `records` (records of `record_length`
// bytes one after another): values[r] of record r, and where `not_numbers`
// is given, not_numbers[r] when its item is no number.
void short_decimal_values(DecimalMode mode, std::span<const std::uint8_t> records, std::size_t record_length,
                          std::size_t at, std::size_t n, std::int64_t* values, bool* not_numbers) noexcept;
constexpr bool short_decimal_item(DecimalMode mode, std::size_t n) noexcept {
    return n >= 1 && n <= (mode == DECIMAL_PACKED ? 8u : 15u);
}

// Worst-case text length: every digit, one more from rounding up, a sign.
constexpr std::size_t zoned_bound(std::size_t n) noexcept { return n + 2; }
constexpr std::size_t packed_bound(std::size_t n) noexcept { return (n == 0 ? 0 : 2 * n - 1) + 2; }

}  // namespace rekmo
