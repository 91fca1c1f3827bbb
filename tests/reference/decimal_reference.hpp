// Slow, obviously right zoned and packed decoding, for differential tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "codec/decimal.hpp"

namespace rekmo::reference {

// The item's text, built from glibc's strtod (reading) and printf (exact
// digits) and string arithmetic for the 17-digit rule.
std::string decimal_text(DecimalMode mode, std::span<const std::uint8_t> item);

}  // namespace rekmo::reference
