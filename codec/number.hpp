// Zoned and packed numbers printed exactly from their digits, as the format
// file's number options ask: every digit, with a decimal point where the
// host program implied one, the sign where the host program kept it, or the
// digits of a code with their leading zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/decimal.hpp"
#include "codec/report.hpp"

namespace rekmo {

// Where a zoned item keeps its sign.
enum class ZonedSign : std::uint8_t {
    TRAILING,           // the zone (high half) of the last byte
    LEADING,            // the zone of the first byte
    LEADING_SEPARATE,   // a byte of its own before the digits: 60 '-' or 4E '+'
    TRAILING_SEPARATE,  // the same after the digits
};

struct NumberForm {
    DecimalMode mode = DECIMAL_ZONED;
    ZonedSign sign = ZonedSign::TRAILING;  // zoned items only
    bool digits = false;                   // a code: every digit, leading zeros kept
    std::int32_t scale = 0;                // implied decimal places; negative: that many zeros follow the digits
};

// Writes the item's number exactly and returns the text's length:
//   value    no leading zeros, '-' before a value other than zero, zero
//            never signed; with scale n > 0 a point and n digits, a 0 before
//            the point when no other digit stands there, trailing zeros kept:
//            Z F3 F0 F5 D0, scale 2  ->  "-30.50";  P 00 5D, scale 2 -> "-0.05";
//            scale -2: the digits and two zeros: Z F1 F2 C3 -> "12300";
//   digits   every digit, leading zeros kept, '-' before them when the sign
//            is negative: Z F0 F6 F0 F0 F0 F0 F1 -> "0600001".
// An item whose digit positions hold anything but 0-9, whose sign half-byte
// is 0-9, or whose separate sign byte is neither 4E nor 60, is no number: its
// text is empty (a host field of spaces, 40 40 40, is one). Sign half-bytes
// A-F read as they always have: C and F positive, the others negative. An
// item of no bytes reads as zero. `out` holds number_bound(item.size(), form)
// bytes.
std::size_t decode_number(std::span<const std::uint8_t> item, const NumberForm& form, std::uint8_t* out) noexcept;

// Amounts and dates of up to 15 digits in the plain form: when the item is
// a number, its exact text is the default decoder's (codec/decimal.hpp: the
// same digits, sign and zero), whose fast paths the callers that convert
// many items take then.
//
// The plain form: sign trailing, no scale, no DIGITS.
bool plain_form(const NumberForm& form) noexcept;
// Whether an item of n bytes, 1 to 8 packed or 1 to 15 zoned, is a number:
// every digit position 0-9 and the sign half-byte above 9. `low` holds its
// first eight bytes and `high` the rest, first byte lowest, bytes past the
// item 00. Eight bytes at a time: a half-byte above 9 carries into bit 4 of
// its byte when 6 is added.
// Always inline: the record lines, built for each vector level, call it.
[[gnu::always_inline]] inline bool plain_number(DecimalMode mode, std::size_t n, std::uint64_t low,
                                                std::uint64_t high) noexcept {
    constexpr std::uint64_t LOWS = 0x0F0F0F0F0F0F0F0Fu;
    constexpr std::uint64_t SIXES = 0x0606060606060606u;
    constexpr std::uint64_t CARRIES = 0x1010101010101010u;
    const auto above9 = [&](std::uint64_t halves) { return (halves + SIXES) & CARRIES; };
    if (mode == DECIMAL_PACKED) {
        const unsigned last = static_cast<unsigned>(low >> (8 * (n - 1))) & 0xFFu;
        const std::uint64_t lows = low & LOWS & ~(std::uint64_t{0x0F} << (8 * (n - 1)));  // the sign left out
        return above9(lows) == 0 && above9((low >> 4) & LOWS) == 0 && (last & 0x0Fu) > 9;
    }
    const unsigned last = static_cast<unsigned>(n > 8 ? high >> (8 * (n - 9)) : low >> (8 * (n - 1))) & 0xFFu;
    return above9(low & LOWS) == 0 && above9(high & LOWS) == 0 && (last >> 4u) > 9;
}

// Both, for an item of any length: its text is the default decoder's.
bool number_is_default_text(std::span<const std::uint8_t> item, const NumberForm& form) noexcept;

// The same, noting FINDING_BAD_NUMBER for an item that is no number and
// FINDING_UNUSUAL_SIGN for a sign half-byte A, B or E.
std::size_t decode_number(std::span<const std::uint8_t> item, const NumberForm& form, std::uint8_t* out,
                          DecodeReport& report) noexcept;

// The digit positions of an item of n bytes: 2n - 1 packed, n zoned, one
// fewer for a separate sign.
constexpr std::size_t number_digits(std::size_t n, const NumberForm& form) noexcept {
    if (n == 0) return 0;
    if (form.mode == DECIMAL_PACKED) return 2 * n - 1;
    const bool separate = form.sign == ZonedSign::LEADING_SEPARATE || form.sign == ZonedSign::TRAILING_SEPARATE;
    return separate ? n - 1 : n;
}

// Worst-case text length: a sign, the digits, a 0 and a point before them
// or the zeros after them.
constexpr std::size_t number_bound(std::size_t n, const NumberForm& form) noexcept {
    const std::size_t scale = form.scale < 0 ? static_cast<std::size_t>(-static_cast<std::int64_t>(form.scale))
                                             : static_cast<std::size_t>(form.scale);
    return 1 + number_digits(n, form) + scale + 2;
}

}  // namespace rekmo
