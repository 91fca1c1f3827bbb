// JIS X 0208 row and cell to Shift_JIS: arithmetic, no table. Shared by the
// J, K, KN, F and FN decoders, and always inline: they call it per character,
// and a level's source (built for its instruction set) must not leave a copy
// of its own for the rest of the program to link.
//
// Two JIS rows share one Shift_JIS lead byte: rows 21-5E give leads 81-9F,
// rows 5F-7E give E0-EF (the leads A0-DF are left to half-width katakana).
// Odd rows take the trail bytes 40-9E (skipping 7F), even rows 9F-FC.
//
// Out-of-range bytes go through the same arithmetic, reduced modulo 256: row
// 20 halves -1 toward zero and gives lead 81; row A0 gives lead 00, so the
// character's string is empty; (30, 82) gives 88 00, the single byte 88.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/report.hpp"

namespace rekmo {

// Writes the Shift_JIS bytes s1 s2 of JIS X 0208 character (j1, j2), then a
// zero byte, into `out` (3 bytes). Bytes outside 0x21-0x7E are not rejected:
// the same arithmetic applies modulo 256, and a computed 0x00 ends the string.
//   (0x24, 0x22) -> 82 A0 00    hiragana A
//   (0xA0, 0x21) -> 00 ...      an empty string
[[gnu::always_inline]] inline void jis_to_sjis(std::uint8_t j1, std::uint8_t j2, std::uint8_t out[3]) noexcept {
    const int row = static_cast<int>(j1) - 0x21;  // negative below 0x21; halved toward zero
    auto lead = static_cast<std::uint8_t>(row / 2 + 0x81);
    if (lead >= 0xA0) lead = static_cast<std::uint8_t>(lead + 0x40);
    auto trail = static_cast<std::uint8_t>(j2 + ((j1 & 1) != 0 ? 0x1F : 0x7D));
    if (trail >= 0x7F) trail = static_cast<std::uint8_t>(trail + 1);
    out[0] = lead;
    out[1] = trail;
    out[2] = 0;
}

// Appends the character's Shift_JIS string (the bytes before its first zero
// byte, 0 to 2 of them) to `out`; returns how many. Both bytes are stored
// whatever the count, so `out` must have room for two: the decoders' bounds
// allow it, since a pair never yields more bytes than it reads.
[[gnu::always_inline]] inline std::size_t append_sjis(std::uint8_t j1, std::uint8_t j2, std::uint8_t* out) noexcept {
    std::uint8_t s[3];
    jis_to_sjis(j1, j2, s);
    out[0] = s[0];
    out[1] = s[1];
    return s[0] == 0 ? 0 : (s[1] == 0 ? 1 : 2);
}

// Host double-byte codes (KEIS, JEF) carry the JIS row and cell with the high
// bit set: the pair (a, b) is JIS (a - 0x80, b - 0x80), modulo 256.
[[gnu::always_inline]] inline std::size_t append_host_sjis(std::uint8_t a, std::uint8_t b, std::uint8_t* out) noexcept {
    return append_sjis(static_cast<std::uint8_t>(a - 0x80), static_cast<std::uint8_t>(b - 0x80), out);
}

// The 6879 characters of JIS X 0208 (1990), as rows and cells 1-94: runs of
// assigned cells per row. Row 2 holds symbols with gaps, rows 3-8 digits,
// Latin and kana, Greek, Cyrillic and box drawing; rows 16-47 the first kanji
// level (ending at 47-51), rows 48-84 the second (ending at 84-6). Rows 9-15
// and 85-94 are empty: codes there are gaiji or damage.
namespace jis0208_detail {
struct CellRun {
    int row, first, last;
};
inline constexpr CellRun PARTIAL_ROWS[] = {
    {1, 1, 94},  {2, 1, 14},  {2, 26, 33}, {2, 42, 48}, {2, 60, 74}, {2, 82, 89}, {2, 94, 94},
    {3, 16, 25}, {3, 33, 58}, {3, 65, 90}, {4, 1, 83},  {5, 1, 86},  {6, 1, 24},  {6, 33, 56},
    {7, 1, 33},  {7, 49, 81}, {8, 1, 32},  {47, 1, 51}, {84, 1, 6},
};
// Bit (cell - 1) of word (row - 1) * 2 + (cell - 1) / 64.
inline constexpr auto ASSIGNED = [] {
    std::array<std::uint64_t, 94 * 2> bits{};
    auto set = [&](int row, int first, int last) {
        for (int cell = first; cell <= last; ++cell) {
            bits[static_cast<std::size_t>((row - 1) * 2 + (cell - 1) / 64)] |= std::uint64_t{1} << ((cell - 1) % 64);
        }
    };
    for (const CellRun& run : PARTIAL_ROWS) set(run.row, run.first, run.last);
    for (int row = 16; row <= 46; ++row) set(row, 1, 94);
    for (int row = 48; row <= 83; ++row) set(row, 1, 94);
    return bits;
}();
}  // namespace jis0208_detail

// True when (j1, j2), both 0x21-0x7E, is one of the 6879 characters.
constexpr bool jis0208_assigned(std::uint8_t j1, std::uint8_t j2) noexcept {
    if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) return false;
    const int row = j1 - 0x20;
    const int cell = j2 - 0x20;
    const std::uint64_t word = jis0208_detail::ASSIGNED[static_cast<std::size_t>((row - 1) * 2 + (cell - 1) / 64)];
    return ((word >> ((cell - 1) % 64)) & 1u) != 0;
}

// Notes what a converted character tells: a code outside JIS X 0208, and a
// Shift_JIS code cut short by a 00 byte (`added` bytes of 2 were kept).
template <class Report>
constexpr void note_jis_char(Report& report, std::uint8_t j1, std::uint8_t j2, std::size_t added) noexcept {
    if constexpr (Report::ACTIVE) {
        if (!jis0208_assigned(j1, j2)) report.note(FINDING_UNASSIGNED);
        if (added < 2) report.note(FINDING_MAPPING_ZERO);
    }
}

// A host double-byte character (KEIS, JEF: JIS with the high bit set)
// appended as append_host_sjis does, its findings noted.
template <class Report>
[[gnu::always_inline]] inline std::size_t append_host_char(std::uint8_t a, std::uint8_t b, std::uint8_t* out,
                                                           Report& report) noexcept {
    const std::size_t added = append_host_sjis(a, b, out);
    note_jis_char(report, static_cast<std::uint8_t>(a - 0x80), static_cast<std::uint8_t>(b - 0x80), added);
    return added;
}

}  // namespace rekmo
