// JIS X 0208 row and cell to Shift_JIS: arithmetic, no table. Shared by the
// J, K, KN, F and FN decoders.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rekmo {

// Writes the Shift_JIS bytes s1 s2 of JIS X 0208 character (j1, j2), then a
// zero byte, into `out` (3 bytes). Bytes outside 0x21-0x7E are not rejected:
// the same arithmetic applies modulo 256, and a computed 0x00 ends the string.
//   (0x24, 0x22) -> 82 A0 00    hiragana A
//   (0xA0, 0x21) -> 00 ...      an empty string
void jis_to_sjis(std::uint8_t j1, std::uint8_t j2, std::uint8_t out[3]) noexcept;

// Appends the character's Shift_JIS string (the bytes before its first zero
// byte, 0 to 2 of them) to `out`; returns how many.
inline std::size_t append_sjis(std::uint8_t j1, std::uint8_t j2, std::uint8_t* out) noexcept {
    std::uint8_t s[3];
    jis_to_sjis(j1, j2, s);
    if (s[0] == 0) return 0;
    out[0] = s[0];
    if (s[1] == 0) return 1;
    out[1] = s[1];
    return 2;
}

// Host double-byte codes (KEIS, JEF) carry the JIS row and cell with the high
// bit set: the pair (a, b) is JIS (a - 0x80, b - 0x80), modulo 256.
inline std::size_t append_host_sjis(std::uint8_t a, std::uint8_t b, std::uint8_t* out) noexcept {
    return append_sjis(static_cast<std::uint8_t>(a - 0x80), static_cast<std::uint8_t>(b - 0x80), out);
}

}  // namespace rekmo
