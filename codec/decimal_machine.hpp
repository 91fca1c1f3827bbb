// Zoned and packed decimal (P and Z items) as a machine over steps
// (codec/steps.hpp): ledger amounts and dates, of up to 8 packed bytes or 15
// zoned ones, are the steps' whole work; longer items, and every item under
// the scalar steps, go through the scalar code (codec/decimal.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "codec/decimal.hpp"
#include "codec/number.hpp"

namespace rekmo {

// The text of any P or Z item without the steps: the reference.
std::size_t decimal_text_scalar(DecimalMode mode, std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

namespace {

// Items of at most 15 digits, whose values are exact.
inline constexpr std::size_t SHORT_PACKED_BYTES = 8;
inline constexpr std::size_t SHORT_ZONED_BYTES = 15;

// True for an item the steps take whole: 1 to 8 packed bytes or 1 to 15
// zoned ones (n - 1 below the limit, an empty item wrapping round).
constexpr bool short_decimal(DecimalMode mode, std::size_t n) noexcept {
    return n - 1 < (mode == DECIMAL_PACKED ? SHORT_PACKED_BYTES : SHORT_ZONED_BYTES);
}

// The text of a short item (short_decimal holds).
template <class S>
[[gnu::always_inline]] inline std::size_t short_decimal_text(DecimalMode mode, std::span<const std::uint8_t> item,
                                                             std::uint8_t* out) noexcept {
    if constexpr (S::SHORT_NUMBERS) {
        return mode == DECIMAL_PACKED ? S::packed_text(item.data(), item.size(), out)
                                      : S::zoned_text(item.data(), item.size(), out);
    } else {
        return decimal_text_scalar(mode, item, out);
    }
}

// The text of a short item printed exactly in the plain form
// (codec/number.hpp): its default text when it is a number, else none (an
// empty field). The vector steps test the digits they already hold; the
// scalar code reads the item as two words.
template <class S>
[[gnu::always_inline]] inline std::size_t short_exact_text(DecimalMode mode, std::span<const std::uint8_t> item,
                                                           std::uint8_t* out) noexcept {
    if constexpr (S::SHORT_NUMBERS) {
        return mode == DECIMAL_PACKED ? S::template packed_text<true>(item.data(), item.size(), out)
                                      : S::template zoned_text<true>(item.data(), item.size(), out);
    } else {
        const std::size_t n = item.size();
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        std::memcpy(&low, item.data(), n < 8 ? n : 8);
        if (n > 8) std::memcpy(&high, item.data() + 8, n - 8);
        if (!plain_number(mode, n, low, high)) return 0;
        return decimal_text_scalar(mode, item, out);
    }
}

template <class S>
[[gnu::always_inline]] inline std::size_t decimal_text(DecimalMode mode, std::span<const std::uint8_t> item,
                                                       std::uint8_t* out) noexcept {
    if (short_decimal(mode, item.size())) return short_decimal_text<S>(mode, item, out);
    return decimal_text_scalar(mode, item, out);
}

}  // namespace
}  // namespace rekmo
