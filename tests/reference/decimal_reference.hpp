// Slow, obviously right zoned and packed decoding, for differential tests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "codec/decimal.hpp"
#include "codec/number.hpp"

namespace rekmo::reference {

// The item's text, built from glibc's strtod (reading) and printf (exact
// digits) and string arithmetic for the 17-digit rule.
std::string decimal_text(DecimalMode mode, std::span<const std::uint8_t> item);

// The exact text of the number options, built from the item's hex digits
// with string operations; nullopt for an item that is no number.
std::optional<std::string> number_text(const NumberForm& form, std::span<const std::uint8_t> item);

}  // namespace rekmo::reference
