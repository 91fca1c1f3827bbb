// Host single-byte code: EBCDIC in which half-width katakana take the places
// that other EBCDIC variants give to lower-case letters. Used by E items and
// by the single-byte stretches of K and F items.
//
// Deliberate oddities, kept because converted files depend on them:
//   00-3F        all control positions give a space
//   40, 41       the EBCDIC space and 41 both give a space
//   42, 43       the corner brackets A2, A3 are carried; the other katakana
//                punctuation (41, 44-49, 51-58) gives a space
//   5B           gives 5C, the yen sign of JIS X 0201
//   60, 6D       both give the hyphen 2D
//   C0, D0, E0   give a space
//   lower-case letters have no position: they read as spaces
// Every position without a character gives a space (20), never 00, so a
// converted byte never ends a text.
#include "codec/ebcdic.hpp"

#include <cstring>

#include "codec/host_code.hpp"

namespace rekmo {

// clang-format off
constexpr std::array<std::uint8_t, 256> HOST_SB_TABLE = {
    /* 00 */ 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    /* 10 */ 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    /* 20 */ 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    /* 30 */ 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    /* 40 */ 0x20, 0x20, 0xA2, 0xA3, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x2E, 0x3C, 0x28, 0x2B, 0x7C,
    /* 50 */ 0x26, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x21, 0x5C, 0x2A, 0x29, 0x3B, 0x5E,
    /* 60 */ 0x2D, 0x2F, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x2C, 0x25, 0x2D, 0x3E, 0x3F,
    /* 70 */ 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x3A, 0x23, 0x40, 0x27, 0x3D, 0x22,
    /* 80 */ 0x20, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0x20, 0xBB, 0xBC, 0xBD, 0xBE,
    /* 90 */ 0xBF, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x20, 0x20, 0xCA, 0xCB, 0xCC,
    /* A0 */ 0x20, 0x20, 0xCD, 0xCE, 0xCF, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0x20, 0xD6, 0xD7, 0xD8, 0xD9,
    /* B0 */ 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    /* C0 */ 0x20, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    /* D0 */ 0x20, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    /* E0 */ 0x20, 0x20, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    /* F0 */ 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
};
// clang-format on

alignas(32) constexpr HostTextRows HOST_SB_ROWS = host_text_rows(HOST_SB_TABLE.data());

namespace {

// Inline in each form below: E items are many and short.
inline std::size_t host_text(std::span<const std::uint8_t> in, std::uint8_t* out,
                             const VectorKernels& kernels) noexcept {
    const std::uint8_t* src = in.data();
    const std::size_t n = in.size();
    std::size_t i = kernels.host_text(src, n, out, HOST_SB_ROWS.data());
    // Eight bytes per step through one 64-bit load and store: compilers turn
    // the plain loop into slow byte-by-byte vector inserts instead.
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, src + i, 8);
        std::uint64_t text = 0;
        for (unsigned k = 0; k < 64; k += 8) text |= std::uint64_t{HOST_SB_TABLE[(word >> k) & 0xFF]} << k;
        std::memcpy(out + i, &text, 8);
    }
    for (; i < n; ++i) out[i] = HOST_SB_TABLE[src[i]];
    return n;
}

}  // namespace

std::size_t ebcdic_to_jis8(std::span<const std::uint8_t> in, std::uint8_t* out, const VectorKernels& kernels) noexcept {
    return host_text(in, out, kernels);
}

std::size_t ebcdic_to_jis8(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept {
    return host_text(in, out, active_kernels());
}

std::size_t ebcdic_to_jis8(std::span<const std::uint8_t> in, std::uint8_t* out, DecodeReport& report) noexcept {
    note_host_spaces(in, report);
    return host_text(in, out, scalar_kernels());
}

namespace {

// The scalar part of host_single_to_sjis, from in[i] on, after the kernels
// have converted in[0, i) with no byte widened. Eight bytes per step through
// `narrow`, which is 0 for a byte whose text takes two (£ gives ￡). Every
// one-byte text (20-7E, A1-DF) has bit 5 or bit 6 set and 0 has neither, so
// bit 6 of each byte of text | text << 1, ANDed over the steps, stays set
// until a 0 comes. Should one come, the item is converted again byte by byte.
inline std::size_t page_text_from(std::span<const std::uint8_t> in, std::uint8_t* out, const HostSingleByte& page,
                                  std::size_t i) noexcept {
    constexpr std::uint64_t BIT6 = 0x4040404040404040u;
    const std::uint8_t* src = in.data();
    const std::size_t n = in.size();
    std::uint64_t narrow = BIT6;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, src + i, 8);
        std::uint64_t text = 0;
        for (unsigned k = 0; k < 64; k += 8) text |= std::uint64_t{page.narrow[(word >> k) & 0xFF]} << k;
        narrow &= text | text << 1;
        std::memcpy(out + i, &text, 8);
    }
    bool wide = (narrow & BIT6) != BIT6;
    for (; i < n; ++i) {
        out[i] = page.narrow[src[i]];
        wide = wide || out[i] == 0;
    }
    if (!wide) return n;
    std::size_t o = 0;
    for (i = 0; i < n; ++i) o += append_host_text(page.text[src[i]], out + o);
    return o;
}

}  // namespace

std::size_t host_single_to_sjis(std::span<const std::uint8_t> in, std::uint8_t* out, const HostSingleByte& page,
                                const VectorKernels& kernels) noexcept {
    return page_text_from(in, out, page, kernels.host_page_text(in.data(), in.size(), out, page.rows.data()));
}

std::size_t host_single_to_sjis(std::span<const std::uint8_t> in, std::uint8_t* out,
                                const HostSingleByte& page) noexcept {
    // Mixed text has many short stretches, which the kernels leave alone: the
    // call to them stays off their path (a tail call from here).
    if (in.size() < 8) return page_text_from(in, out, page, 0);
    return host_single_to_sjis(in, out, page, active_kernels());
}

}  // namespace rekmo
