// Zoned and packed decimal (P and Z items) as a machine over steps
// (codec/steps.hpp): ledger amounts and dates, of up to 8 packed bytes or 15
// zoned ones, are the steps' whole work; longer items, and every item under
// the scalar steps, go through the scalar code (codec/decimal.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/decimal.hpp"

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

template <class S>
[[gnu::always_inline]] inline std::size_t decimal_text(DecimalMode mode, std::span<const std::uint8_t> item,
                                                       std::uint8_t* out) noexcept {
    if (short_decimal(mode, item.size())) return short_decimal_text<S>(mode, item, out);
    return decimal_text_scalar(mode, item, out);
}

}  // namespace
}  // namespace rekmo
