// The steps the decoders' state machines are made of, and their scalar
// forms.
//
// Each decoder is one template over a Steps type (codec/*_machine.hpp): the
// shift codes, runs and quirks of an encoding are written there once. The
// Steps do the bulk work over bytes:
//
//   find_byte(p, end, byte)    the first `byte` in [p, end), or end
//   find_jef_shift(p, end)     the first 28 or 29 in [p, end), or end
//   find_any(p, end, set)      the first byte of a ByteSet in [p, end), or end
//   copy(in, n, out)           n bytes as they are
//   single_utf8(in, n, out)    code page 932's single-byte codes (ASCII,
//                              and half-width katakana A1-DF) in UTF-8, up
//                              to the first other byte: a prefix of in[0, n)
//                              when n >= SINGLE_UTF8_MIN; the bytes read and
//                              written (Utf8Done)
//   pairs_utf8(in, n, out)     the same for code page 932's pairs whose
//                              characters take three bytes, when
//                              n >= PAIRS_UTF8_MIN
//   host_utf8(in, n, out, table)
//                              host single-byte text through a table whose
//                              every byte is a single-byte code of code page
//                              932 (the default table), in UTF-8: a prefix
//                              of in[0, n), the bytes read and written
//                              (Utf8Done); `out` must not overlap `in`
//   host_pairs_utf8<KIND>(in, pairs, out)
//                              double-byte characters through their
//                              Shift_JIS codes (as pairs<KIND>) to code page
//                              932's characters in UTF-8: a prefix of the
//                              pairs whose characters take three bytes (the
//                              record lines' steps only); Utf8Done
//   host_text<ZERO>(in, n, out, table)
//                              host single-byte text through a table: a
//                              prefix of in[0, n), its length returned; with
//                              HostZero::STOP it ends before a step whose text
//                              holds 00 (a host page's byte whose text takes two)
//   pairs<KIND>(in, pairs, out)
//                              double-byte characters to Shift_JIS, two bytes
//                              each: a prefix of the pairs whose texts hold no
//                              00 byte; the number of pairs done
//   page_pairs(in, pairs, out, table)
//                              the same through a host page's texts by code
//   packed_text(in, n, out), zoned_text(in, n, out)
//                              the whole text of a packed item of 1 to 8
//                              bytes or a zoned item of 1 to 15 (at most 15
//                              digits: exact), where SHORT_NUMBERS says the
//                              steps have them
//   scan_short(p, n, pad, set) of a text of up to 16 bytes the steps have
//                              just written, with the slack: its length
//                              without the `pad`s it ends in, and where it
//                              holds bytes of a ByteSet, where SHORT_SCAN
//                              says the steps have it
//
// ScalarSteps below does none of the bulk work (every prefix is empty), so
// the scalar code that follows each step in a machine does it all: the
// machine with ScalarSteps is the reference decoder. The vector levels
// (codec/steps_x86.hpp) supply the same steps over 128- and 256-bit
// registers, in an exact form for the decoders, which stay within their item
// and their bound, and a form for the record lines, which may read and write
// a slack past them.
//
// Everything here has internal linkage: a translation unit built for a
// vector instruction set compiles its own copy and shares none with the
// rest of the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rekmo {

// Double-byte codes with a JIS X 0208 row and cell: KEIS and JEF with the
// high bit set (JEF's 40 40 being the ideographic space), JIS as they are.
enum class PairKind { KEIS, JEF, JIS };

// Whether a single-byte table may give 00: a host page's does, for a byte
// whose text takes two; the default table never does.
enum class HostZero { NEVER, STOP };

// A single-byte table as the steps read it: byte by byte, and as the rows
// of host_text_rows for the vector shuffles.
struct HostTable {
    const std::uint8_t* bytes;
    const std::uint8_t* rows;
};

// Up to sixteen bytes whose low halves differ, looked for with one shuffle
// by low half: lane k holds the set's byte whose low half is k, or else one
// whose low half is not k, which no byte equals. Twice over, for the 256-bit
// steps, whose shuffles look up each 128-bit lane on its own.
struct ByteSet {
    alignas(32) std::uint8_t lanes[32];
    constexpr bool has(std::uint8_t b) const noexcept { return lanes[b & 0x0F] == b; }
};

// The set of `bytes`; a byte whose low half another took is left out, which
// has() tells at compile time.
template <std::size_t N>
constexpr ByteSet byte_set(const std::uint8_t (&bytes)[N]) noexcept {
    ByteSet set{};
    for (unsigned k = 0; k < 16; ++k) set.lanes[k] = set.lanes[k + 16] = static_cast<std::uint8_t>(k ^ 1);
    for (const std::uint8_t b : bytes) {
        if (set.lanes[b & 0x0F] == ((b & 0x0F) ^ 1)) set.lanes[b & 0x0F] = set.lanes[(b & 0x0F) + 16] = b;
    }
    return set;
}

// What scan_short finds in a short text: its length without the pad bytes
// it ends in, and a bit for each of its first 16 bytes that is in the set.
struct ShortScan {
    std::size_t unpadded;
    unsigned hits;
};

// What a step to UTF-8 did: the bytes it read and the bytes it wrote.
struct Utf8Done {
    std::size_t read;
    std::size_t written;
};

// The JEF shift codes: 28 into double-byte text, 29 back.
inline constexpr std::uint8_t JEF_SHIFT_IN = 0x28;
inline constexpr std::uint8_t JEF_SHIFT_OUT = 0x29;
static_assert((JEF_SHIFT_OUT & 0xFE) == JEF_SHIFT_IN, "28 and 29 differ in the lowest bit only");

namespace {

inline bool is_jef_shift(std::uint8_t b) noexcept { return (b & 0xFE) == JEF_SHIFT_IN; }

// Host text through `table` from in[i] on, eight bytes per step through one
// 64-bit load and store: compilers turn the plain loop into slow
// byte-by-byte vector inserts instead. `out` may be `in`.
inline void host_text_from(const std::uint8_t* in, std::size_t n, std::uint8_t* out, const std::uint8_t* table,
                           std::size_t i) noexcept {
    for (; n - i >= 8; i += 8) {  // (not i + 8 <= n: with i == n known, the loop vanishes)
        std::uint64_t word;
        std::memcpy(&word, in + i, 8);
        std::uint64_t text = 0;
        for (unsigned k = 0; k < 64; k += 8) text |= std::uint64_t{table[(word >> k) & 0xFF]} << k;
        std::memcpy(out + i, &text, 8);
    }
    for (; i < n; ++i) out[i] = table[in[i]];
}

struct ScalarSteps {
    static constexpr bool SHORT_NUMBERS = false;
    static constexpr bool SHORT_SCAN = false;
    static const std::uint8_t* find_byte(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t byte) noexcept {
        if (p == end) return end;
        const void* hit = std::memchr(p, byte, static_cast<std::size_t>(end - p));
        return hit != nullptr ? static_cast<const std::uint8_t*>(hit) : end;
    }
    static const std::uint8_t* find_jef_shift(const std::uint8_t* p, const std::uint8_t* end) noexcept {
        while (p < end && !is_jef_shift(*p)) ++p;
        return p;
    }
    static const std::uint8_t* find_any(const std::uint8_t* p, const std::uint8_t* end, const ByteSet& set) noexcept {
        while (p < end && !set.has(*p)) ++p;
        return p;
    }
    static void copy(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
        if (n > 0) std::memcpy(out, in, n);
    }
    template <HostZero ZERO>
    static std::size_t host_text(const std::uint8_t*, std::size_t, std::uint8_t*, const HostTable&) noexcept {
        return 0;
    }
    // No stretch is long enough: the scalar code converts every code.
    static constexpr std::size_t SINGLE_UTF8_MIN = SIZE_MAX;
    static Utf8Done single_utf8(const std::uint8_t*, std::size_t, std::uint8_t*) noexcept { return {0, 0}; }
    static constexpr std::size_t PAIRS_UTF8_MIN = SIZE_MAX;
    static Utf8Done pairs_utf8(const std::uint8_t*, std::size_t, std::uint8_t*) noexcept { return {0, 0}; }
    static Utf8Done host_utf8(const std::uint8_t*, std::size_t, std::uint8_t*, const HostTable&) noexcept {
        return {0, 0};
    }
    template <PairKind KIND>
    static Utf8Done host_pairs_utf8(const std::uint8_t*, std::size_t, std::uint8_t*) noexcept {
        return {0, 0};
    }
    template <PairKind KIND>
    static std::size_t pairs(const std::uint8_t*, std::size_t, std::uint8_t*) noexcept {
        return 0;
    }
    static std::size_t page_pairs(const std::uint8_t*, std::size_t, std::uint8_t*, const std::uint16_t*) noexcept {
        return 0;
    }
};

}  // namespace
}  // namespace rekmo
