// Host single-byte text as a machine over steps (codec/steps.hpp): the
// default table of E items and the single-byte stretches of K and F items,
// and a host code page's table, in which a byte's text may take two bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/cp932_machine.hpp"
#include "codec/ebcdic.hpp"
#include "codec/host_code.hpp"
#include "codec/steps.hpp"

namespace rekmo {
namespace {

// E text through the default table: every byte gives one, never 00. `out`
// may be `in`.
// Always inline: E items are many and short, and the mixed machines call
// this for every single-byte stretch.
template <class S>
[[gnu::always_inline]] inline std::size_t ebcdic_text(const std::uint8_t* in, std::size_t n,
                                                      std::uint8_t* out) noexcept {
    const std::size_t done =
        S::template host_text<HostZero::NEVER>(in, n, out, HostTable{HOST_SB_TABLE.data(), HOST_SB_ROWS.data()});
    host_text_from(in, n, out, HOST_SB_TABLE.data(), done);
    return n;
}

// E text through the default table in UTF-8, in one pass: each byte's text
// is ASCII or half-width katakana (codec/ebcdic.cpp), one byte or three.
// `out` holds 3n bytes and must not overlap `in`.
template <class S>
[[gnu::always_inline]] inline std::size_t ebcdic_utf8_text(const std::uint8_t* in, std::size_t n,
                                                           std::uint8_t* out) noexcept {
    const Utf8Done done = S::host_utf8(in, n, out, HostTable{HOST_SB_TABLE.data(), HOST_SB_ROWS.data()});
    std::size_t o = done.written;
    for (std::size_t i = done.read; i < n; ++i) o += put_single_utf8(HOST_SB_TABLE[in[i]], out + o);
    return o;
}

// Single-byte text through a host page, after the steps have converted
// in[0, i) with no byte widened. Eight bytes per step through `narrow`, which
// is 0 for a byte whose text takes two (£ gives ￡). Every one-byte text
// (20-7E, A1-DF) has bit 5 or bit 6 set and 0 has neither, so bit 6 of each
// byte of text | text << 1, ANDed over the steps, stays set until a 0 comes.
// Should one come, the stretch is converted again byte by byte. `out` must
// not overlap `in`.
template <class S>
[[gnu::always_inline]] inline std::size_t page_single_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                                           const HostSingleByte& page) noexcept {
    constexpr std::uint64_t BIT6 = 0x4040404040404040u;
    std::size_t i = S::template host_text<HostZero::STOP>(in, n, out, HostTable{page.narrow.data(), page.rows.data()});
    if (i == n) return n;
    std::uint64_t narrow = BIT6;
    for (; n - i >= 8; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, in + i, 8);
        std::uint64_t text = 0;
        for (unsigned k = 0; k < 64; k += 8) text |= std::uint64_t{page.narrow[(word >> k) & 0xFF]} << k;
        narrow &= text | text << 1;
        std::memcpy(out + i, &text, 8);
    }
    bool wide = (narrow & BIT6) != BIT6;
    for (; i < n; ++i) {
        out[i] = page.narrow[in[i]];
        wide = wide || out[i] == 0;
    }
    if (!wide) return n;
    std::size_t o = 0;
    for (i = 0; i < n; ++i) o += append_host_text(page.text[in[i]], out + o);
    return o;
}

}  // namespace
}  // namespace rekmo
