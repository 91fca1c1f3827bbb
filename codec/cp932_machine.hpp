// Code page 932 to UTF-8 (codec/cp932.hpp) as a machine over steps
// (codec/steps.hpp): runs of ASCII through the steps, every other code here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/cp932.hpp"
#include "codec/steps.hpp"

namespace rekmo {
namespace {

// A character of the Basic Multilingual Plane in UTF-8: one to three bytes.
[[gnu::always_inline]] inline std::size_t put_utf8(char32_t c, std::uint8_t* out) noexcept {
    if (c < 0x80) {
        out[0] = static_cast<std::uint8_t>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (c >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        return 2;
    }
    out[0] = static_cast<std::uint8_t>(0xE0 | (c >> 12));
    out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    return 3;
}

// A byte that is a whole code by itself and has a character: ASCII, or
// half-width katakana.
constexpr bool is_cp932_single(std::uint8_t b) noexcept { return b < 0x80 || (b >= 0xA1 && b <= 0xDF); }

// A single-byte code in UTF-8: ASCII as it is, half-width katakana
// (U+FF61-FF9F) as EF BD A1-BF for A1-BF and EF BE 80-9F for C0-DF.
[[gnu::always_inline]] inline std::size_t put_single_utf8(std::uint8_t b, std::uint8_t* out) noexcept {
    if (b < 0x80) {
        out[0] = b;
        return 1;
    }
    const bool second_row = b >= 0xC0;
    out[0] = 0xEF;
    out[1] = static_cast<std::uint8_t>(second_row ? 0xBE : 0xBD);
    out[2] = static_cast<std::uint8_t>(second_row ? b - 0x40 : b);
    return 3;
}

// A Shift_JIS text of n bytes in UTF-8 where it is one whole pair, as the
// machine below reads a pair: its character, or 〓 for a pair without one.
// 0 for any other text, which would read together with its neighbours' bytes.
[[gnu::always_inline]] inline std::size_t whole_pair_utf8(const std::uint8_t* sjis, std::size_t n,
                                                          std::uint8_t* out) noexcept {
    if (n != 2 || !is_cp932_lead(sjis[0]) || !is_cp932_trail(sjis[1])) return 0;
    const char32_t c = cp932_pair(sjis[0], sjis[1]);
    return put_utf8(c != 0 ? c : GETA_MARK, out);
}

// The scalar code writes no more than three bytes for each byte it has read,
// and reads a code's bytes before it writes its text: the text may be read
// from the end of the buffer it is written to (codec/cp932.hpp; the record
// lines' steps, which may write past their text, need their reach more).
// Where a step applies it takes a stretch of single-byte codes (ASCII and
// half-width katakana) or of pairs with three-byte characters; where it takes
// nothing (a stretch too short for it, a pair of another kind, a byte that
// is no code), the scalar code converts one code.
template <class S>
std::size_t cp932_utf8_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < n) {
        const std::uint8_t b = in[i];
        Utf8Done done{0, 0};
        if (is_cp932_single(b)) {
            if (n - i >= S::SINGLE_UTF8_MIN) done = S::single_utf8(in + i, n - i, out + o);
        } else if (n - i >= S::PAIRS_UTF8_MIN) {
            done = S::pairs_utf8(in + i, n - i, out + o);
        }
        if (done.read > 0) {
            i += done.read;
            o += done.written;
        } else if (is_cp932_single(b)) {
            o += put_single_utf8(b, out + o);
            ++i;
        } else if (const std::size_t written = i + 1 < n ? whole_pair_utf8(in + i, 2, out + o) : 0; written > 0) {
            i += 2;
            o += written;
        } else {
            ++i;
            o += put_utf8(GETA_MARK, out + o);
        }
    }
    return o;
}

}  // namespace
}  // namespace rekmo
