// JIS X 0208 to Shift_JIS.
//
// Two JIS rows share one Shift_JIS lead byte: rows 21-5E give leads 81-9F,
// rows 5F-7E give E0-EF (the leads A0-DF are left to half-width katakana).
// Odd rows take the trail bytes 40-9E (skipping 7F), even rows 9F-FC.
//
// Out-of-range bytes go through the same arithmetic, reduced modulo 256: row
// 20 halves -1 toward zero and gives lead 81; row A0 gives lead 00, so the
// character's string is empty; (30, 82) gives 88 00, the single byte 88.
#include "codec/jis0208.hpp"

namespace rekmo {

void jis_to_sjis(std::uint8_t j1, std::uint8_t j2, std::uint8_t out[3]) noexcept {
    const int row = static_cast<int>(j1) - 0x21;  // negative below 0x21; halved toward zero
    auto lead = static_cast<std::uint8_t>(row / 2 + 0x81);
    if (lead >= 0xA0) lead = static_cast<std::uint8_t>(lead + 0x40);
    auto trail = static_cast<std::uint8_t>(j2 + ((j1 & 1) != 0 ? 0x1F : 0x7D));
    if (trail >= 0x7F) trail = static_cast<std::uint8_t>(trail + 1);
    out[0] = lead;
    out[1] = trail;
    out[2] = 0;
}

}  // namespace rekmo
