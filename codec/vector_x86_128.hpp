// The 128-bit steps of the x86-64 kernels. Included only by vector_sse41.cpp
// and vector_avx2.cpp: every function here has internal linkage, so each of
// them compiles its own copy with its own instruction set.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/vector.hpp"

namespace rekmo {
namespace x86 {

static inline __m128i load16(const std::uint8_t* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
static inline void store16(std::uint8_t* p, __m128i v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
static inline __m128i load8(const std::uint8_t* p) noexcept {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
static inline void store8(std::uint8_t* p, __m128i v) noexcept { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }
static inline __m128i bytes(int b) noexcept { return _mm_set1_epi8(static_cast<char>(b)); }
static inline __m128i words(int w) noexcept { return _mm_set1_epi16(static_cast<short>(w)); }
static inline unsigned zero_lanes(__m128i v) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
}

// in[0, n) for 1 <= n <= 16 in the low lanes, zeros above; reads nothing
// past in + n.
static inline __m128i load_upto16(const std::uint8_t* in, std::size_t n) noexcept {
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    if (n == 16) return load16(in);
    if (n >= 8) {  // two overlapping halves; the high one moved up to lane n - 8
        const __m128i high = _mm_shuffle_epi8(load8(in + n - 8), _mm_sub_epi8(lanes, bytes(static_cast<int>(n) - 8)));
        return _mm_or_si128(load8(in), high);
    }
    if (n >= 4) {
        std::uint32_t low;
        std::uint32_t high;
        std::memcpy(&low, in, 4);
        std::memcpy(&high, in + n - 4, 4);
        return _mm_cvtsi64_si128(static_cast<long long>(low | std::uint64_t{high} << (8 * (n - 4))));
    }
    std::uint32_t word = in[0];
    if (n > 1) word |= std::uint32_t{in[1]} << 8;
    if (n > 2) word |= std::uint32_t{in[2]} << 16;
    return _mm_cvtsi32_si128(static_cast<int>(word));
}

// Writes count bytes (at most 16) of `text` exactly: overlapping stores.
static inline void store_upto16(std::uint8_t* out, __m128i text, std::size_t count) noexcept {
    alignas(16) std::uint8_t bytes16[16];
    store16(bytes16, text);
    if (count >= 8) {
        std::memcpy(out, bytes16, 8);
        std::memcpy(out + count - 8, bytes16 + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(out, bytes16, 4);
        std::memcpy(out + count - 4, bytes16 + count - 4, 4);
    } else {
        out[0] = bytes16[0];
        if (count > 1) out[1] = bytes16[1];
        if (count > 2) out[2] = bytes16[2];
    }
}

// --- Host single-byte text ---
//
// The 256-entry table as 16 rows of 16: one shuffle per row on the low half
// of each byte, then the high half picks the row, a bit at a time, through a
// tree of blends (a blend takes the top bit of each byte of its mask, so the
// mask is the byte shifted to bring that bit to the top). Rows 0-3 (host
// 00-3F) give 20 throughout, which the caller checks when it is compiled: the
// rows are kept XOR 20, so rows 0-3 are zero and need no shuffle.
//
// `rows` holds rows 4-F (host 40-FF), XOR 20, 32 bytes apart: each row twice,
// for the two 128-bit halves of an AVX2 register.
constexpr int HOST_ROW_STRIDE = 32;

static inline __m128i host_row128(const std::uint8_t* rows, int row, __m128i low) noexcept {
    return _mm_shuffle_epi8(load16(rows + HOST_ROW_STRIDE * (row - 4)), low);
}

[[gnu::always_inline]] static inline __m128i host_text128(__m128i x, const std::uint8_t* rows) noexcept {
    const __m128i low = _mm_and_si128(x, bytes(0x0F));
    const __m128i bit4 = _mm_slli_epi16(x, 3);
    const __m128i bit5 = _mm_slli_epi16(x, 2);
    const __m128i bit6 = _mm_add_epi8(x, x);
    auto pick = [&](int row) {  // rows row and row + 1 by bit 4
        return _mm_blendv_epi8(host_row128(rows, row, low), host_row128(rows, row + 1, low), bit4);
    };
    const __m128i r4_7 = _mm_blendv_epi8(pick(4), pick(6), bit5);
    const __m128i r8_b = _mm_blendv_epi8(pick(8), pick(10), bit5);
    const __m128i rc_f = _mm_blendv_epi8(pick(12), pick(14), bit5);
    const __m128i r0_7 = _mm_blendv_epi8(_mm_setzero_si128(), r4_7, bit6);
    const __m128i r8_f = _mm_blendv_epi8(r8_b, rc_f, bit6);
    return _mm_xor_si128(_mm_blendv_epi8(r0_7, r8_f, x), bytes(0x20));
}

// Whether a text may hold 00 (a host page's byte whose text takes two): the
// default table never gives it, so its kernels do not look.
enum class HostZero { NEVER, STOP };

// 8 to 15 bytes: two overlapping halves, both read before either is written
// (the text may replace its input); nothing when a byte's text is 00.
template <HostZero ZERO>
static inline std::size_t host_text_short(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                          const std::uint8_t* rows) noexcept {
    const __m128i text = host_text128(_mm_unpacklo_epi64(load8(in), load8(in + n - 8)), rows);
    if (ZERO == HostZero::STOP && zero_lanes(text) != 0) return 0;
    store8(out, text);
    store8(out + n - 8, _mm_unpackhi_epi64(text, text));
    return n;
}

// --- JIS X 0208 to Shift_JIS ---
//
// Eight characters at once in 16-bit lanes, row byte low, cell byte high:
// the scalar arithmetic lane by lane. Row bytes below 21 halve toward zero
// (m + 1 for negative m, then an arithmetic shift), and every byte is reduced
// modulo 256 as in the scalar code.
enum class PairKind { KEIS, JEF, JIS };

static inline __m128i sjis128(__m128i w) noexcept {
    const __m128i ff = words(0xFF);
    const __m128i j1 = _mm_and_si128(w, ff);
    const __m128i j2 = _mm_srli_epi16(w, 8);
    __m128i m = _mm_sub_epi16(j1, words(0x21));
    m = _mm_sub_epi16(m, _mm_cmpgt_epi16(_mm_setzero_si128(), m));
    __m128i lead = _mm_and_si128(_mm_add_epi16(_mm_srai_epi16(m, 1), words(0x81)), ff);
    lead = _mm_and_si128(_mm_add_epi16(lead, _mm_and_si128(_mm_cmpgt_epi16(lead, words(0x9F)), words(0x40))), ff);
    const __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(j1, words(1)), words(1));
    __m128i trail = _mm_and_si128(_mm_add_epi16(j2, _mm_blendv_epi8(words(0x7D), words(0x1F), odd)), ff);
    trail = _mm_and_si128(_mm_sub_epi16(trail, _mm_cmpgt_epi16(trail, words(0x7E))), ff);
    return _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
}

template <PairKind KIND>
static inline __m128i pairs128(__m128i w) noexcept {
    if constexpr (KIND == PairKind::JIS) return sjis128(w);
    const __m128i text = sjis128(_mm_xor_si128(w, words(0x8080)));  // host codes: the high bit set
    if constexpr (KIND == PairKind::KEIS) return text;
    return _mm_blendv_epi8(text, words(0x4081), _mm_cmpeq_epi16(w, words(0x4040)));  // JEF 40 40: 81 40
}

// Pairs i to `pairs`, 8 at a time, the last 8 overlapping those before, or
// all at once when fewer than 8 (but more than 2, which the scalar code does
// as quickly); stops before a step whose text holds a 00 byte. Returns the
// pairs done.
template <PairKind KIND>
static inline std::size_t pairs_from(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out,
                                     std::size_t i) noexcept {
    if (pairs < 8) {
        const std::size_t len = 2 * (pairs - i);
        if (pairs - i < 3) return i;
        const __m128i text = pairs128<KIND>(load_upto16(in + 2 * i, len));
        if ((zero_lanes(text) & ((1u << len) - 1)) != 0) return i;
        store_upto16(out + 2 * i, text, len);
        return pairs;
    }
    const __m128i last = load16(in + 2 * (pairs - 8));
    for (; i + 8 <= pairs; i += 8) {
        const __m128i text = pairs128<KIND>(load16(in + 2 * i));
        if (zero_lanes(text) != 0) return i;
        store16(out + 2 * i, text);
    }
    if (i == pairs) return i;
    const __m128i text = pairs128<KIND>(last);
    if (zero_lanes(text) != 0) return i;
    store16(out + 2 * (pairs - 8), text);
    return pairs;
}

// --- The JEF shift codes 28 and 29 ---

static inline unsigned jef_shifts128(__m128i x) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(x, bytes(0xFE)), bytes(0x28))));
}

static inline std::size_t find_jef_shift_from(const std::uint8_t* in, std::size_t n, std::size_t i) noexcept {
    for (; i + 16 <= n; i += 16) {
        const unsigned hits = jef_shifts128(load16(in + i));
        if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctz(hits));
    }
    while (i < n && (in[i] & 0xFE) != 0x28) ++i;
    return i;
}

// --- Zoned and packed decimal, up to 15 digits ---

// The text of `count` digit half-bytes (one per lane, count <= 16): leading
// zeros skipped, ended by the first half-byte above 9, '-' before a negative
// number, and 0 for a number without a significant digit. `room` is the
// item's bound: with room for 16 bytes the text is one store.
static inline std::size_t number_text(__m128i digits, unsigned count, bool negative, std::uint8_t* out,
                                      std::size_t room) noexcept {
    const unsigned lanes = (1u << count) - 1;
    const auto above9 = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(digits, bytes(9))));
    const auto stop = static_cast<unsigned>(__builtin_ctz((above9 & lanes) | (1u << count)));
    const unsigned significant = ~zero_lanes(digits) & ((1u << stop) - 1);
    if (significant == 0) {
        out[0] = '0';
        return 1;
    }
    const auto first = static_cast<unsigned>(__builtin_ctz(significant));
    const unsigned sign = negative ? 1 : 0;
    const __m128i lanes16 = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i text = _mm_shuffle_epi8(_mm_add_epi8(digits, bytes('0')),
                                    _mm_add_epi8(lanes16, bytes(static_cast<int>(first) - static_cast<int>(sign))));
    if (negative) text = _mm_insert_epi8(text, '-', 0);
    const std::size_t len = sign + stop - first;
    if (room >= 16) {
        store16(out, text);
    } else {
        store_upto16(out, text, len);
    }
    return len;
}

// Packed, 1 to 8 bytes: two digits a byte, high half first; the low half of
// the last byte is the sign.
static inline std::size_t packed_text128(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    if (n == 0 || n > 8) return 0;
    const __m128i x = load_upto16(in, n);
    const __m128i digits =
        _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(x, 4), bytes(0x0F)), _mm_and_si128(x, bytes(0x0F)));
    const unsigned sign = in[n - 1] & 0x0Fu;
    return number_text(digits, static_cast<unsigned>(2 * n - 1), sign != 0xC && sign != 0xF, out, 2 * n + 1);
}

// Zoned, 1 to 15 bytes: the low half of each byte a digit; the high half of
// the last byte is the sign.
static inline std::size_t zoned_text128(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    if (n == 0 || n > 15) return 0;
    const __m128i digits = _mm_and_si128(load_upto16(in, n), bytes(0x0F));
    const unsigned sign = in[n - 1] >> 4u;
    return number_text(digits, static_cast<unsigned>(n), sign != 0xC && sign != 0xF, out, n + 2);
}

// --- Whole lines ---
//
// The fields of each record one after another, the common short ones
// inline. The caller lets a line reach LINE_SLACK bytes past the last record
// and the last line, so a field is whole loads and stores: a text of up to 16
// bytes is one load, one conversion and one store, and the bytes stored past
// a field's text are overwritten by the separator and the fields after it.

// A 128-bit step of host text: converts in[0, 16) into out[0, 16). With
// STOP, returns the lanes whose text is 00 (a byte whose text takes two).
struct HostText128 {
    static constexpr std::size_t WIDTH = 16;
    template <HostZero ZERO>
    [[gnu::always_inline]] static inline unsigned step(const std::uint8_t* in, std::uint8_t* out,
                                                       const std::uint8_t* rows) noexcept {
        const __m128i text = host_text128(load16(in), rows);
        store16(out, text);
        return ZERO == HostZero::STOP ? zero_lanes(text) : 0;
    }
};

// A host text field of n bytes in steps of Step::WIDTH. False (and nothing
// to keep) when STOP finds a byte whose text takes two: the caller converts
// the field again through its decoder.
template <class Step, HostZero ZERO>
static inline bool host_field(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                              const std::uint8_t* rows) noexcept {
    for (std::size_t i = 0; i < n; i += Step::WIDTH) {
        const unsigned zero = Step::template step<ZERO>(in + i, out + i, rows);
        if (ZERO == HostZero::STOP && zero != 0) {
            const std::size_t left = n - i;
            const unsigned valid = left >= 32 ? ~0u : (1u << left) - 1;
            if ((zero & valid) != 0) return false;
        }
    }
    return true;
}

// Host text of up to 8 bytes: a byte at a time through `table`, WIDTH bytes
// (4 or 8) whatever n is. With STOP, false when one of the first n texts is
// 00 (it takes two).
template <unsigned WIDTH, HostZero ZERO>
static inline bool host_field_bytes(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                    const std::uint8_t* table) noexcept {
    std::uint64_t text = 0;
    for (unsigned k = 0; k < WIDTH; ++k) text |= std::uint64_t{table[in[k]]} << (8 * k);
    std::memcpy(out, &text, 8);
    if (ZERO == HostZero::STOP) {
        // A 00 byte among the first n: its high bit set by the borrow, its own clear.
        const std::uint64_t zero = (text - 0x0101010101010101u) & ~text & 0x8080808080808080u;
        if ((zero & (~std::uint64_t{0} >> (64 - 8 * n))) != 0) return false;
    }
    return true;
}

template <HostZero ZERO>
static inline bool host_field_upto8(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                    const std::uint8_t* table) noexcept {
    return n <= 4 ? host_field_bytes<4, ZERO>(in, n, out, table) : host_field_bytes<8, ZERO>(in, n, out, table);
}

// Packed decimal of 1 to 8 bytes, read as 8.
static inline std::size_t packed_field(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    const __m128i x = load8(in);
    const __m128i digits =
        _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(x, 4), bytes(0x0F)), _mm_and_si128(x, bytes(0x0F)));
    const unsigned sign = in[n - 1] & 0x0Fu;
    return number_text(digits, static_cast<unsigned>(2 * n - 1), sign != 0xC && sign != 0xF, out, 16);
}

// Zoned decimal of 1 to 15 bytes, read as 16.
static inline std::size_t zoned_field(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    const __m128i digits = _mm_and_si128(load16(in), bytes(0x0F));
    const unsigned sign = in[n - 1] >> 4u;
    return number_text(digits, static_cast<unsigned>(n), sign != 0xC && sign != 0xF, out, 16);
}

// The first byte at or after p that is `byte`, or `end` when none comes before
// it; reads 16 bytes at a time.
static inline std::size_t next_byte(const std::uint8_t* in, std::size_t p, std::size_t end,
                                    std::uint8_t byte) noexcept {
    for (; p < end; p += 16) {
        const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load16(in + p), bytes(byte))));
        if (hits != 0) return std::min(end, p + static_cast<std::size_t>(__builtin_ctz(hits)));
    }
    return end;
}

// A J field in its common shapes: text between ESC $ B and ESC ( J or
// ESC ( H, characters copied between them. NOT_INLINE for what the decoder
// itself must do: an ESC that starts no sequence or lies too near the end,
// ESC ( B, a run of odd length, a character whose Shift_JIS code holds 00.
constexpr std::size_t NOT_INLINE = SIZE_MAX;

static inline std::size_t jis_field(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    constexpr std::uint8_t ESC = 0x1B;
    const std::size_t end = next_byte(in, 0, n, 0);  // the text ends at a zero byte
    std::size_t o = 0;
    std::size_t p = 0;
    std::size_t run = 0;
    bool double_byte = false;
    while (true) {
        const std::size_t esc = next_byte(in, p, end, ESC);
        if (!double_byte) {
            for (std::size_t i = 0; i < esc - p; i += 16) store16(out + o + i, load16(in + p + i));
            o += esc - p;
        }
        if (esc == end) return o;  // an unclosed run is dropped
        if (end - esc < 3) return NOT_INLINE;
        const std::uint8_t a = in[esc + 1];
        const std::uint8_t b = in[esc + 2];
        p = esc + 3;
        if (a == 0x24 && b == 0x42) {  // ESC $ B: a new run
            double_byte = true;
            run = p;
        } else if (a == 0x28 && (b == 0x4A || b == 0x48) && double_byte) {  // ESC ( J, ESC ( H
            const std::size_t len = esc - run;
            if (len % 2 != 0) return NOT_INLINE;
            for (std::size_t i = 0; i < len; i += 16) {
                const __m128i text = pairs128<PairKind::JIS>(load16(in + run + i));
                store16(out + o + i, text);
                const std::size_t left = len - i;
                if ((zero_lanes(text) & (left >= 16 ? 0xFFFFu : (1u << left) - 1)) != 0) return NOT_INLINE;
            }
            o += len;
            double_byte = false;
        } else if (!(a == 0x28 && (b == 0x4A || b == 0x48))) {
            return NOT_INLINE;
        }
    }
}

// Double-byte text (KN, FN): the pairs from the start, an odd last byte
// ignored, Step::PAIRS a step. False when a character's text holds 00 (or,
// through a page, takes one byte): the caller converts the field again
// through its decoder.
struct Pairs128 {
    static constexpr std::size_t PAIRS = 8;
    template <PairKind KIND>
    [[gnu::always_inline]] static inline unsigned step(const std::uint8_t* in, std::uint8_t* out) noexcept {
        const __m128i text = pairs128<KIND>(load16(in));
        store16(out, text);
        return zero_lanes(text);
    }
};

template <std::size_t PAIRS, class Step>
static inline bool pairs_field(const std::uint8_t* in, std::size_t n, std::uint8_t* out, Step step) noexcept {
    const std::size_t bytes = n & ~std::size_t{1};
    for (std::size_t i = 0; i < bytes; i += 2 * PAIRS) {
        const unsigned zero = step(in + i, out + i);
        const std::size_t left = bytes - i;
        if ((zero & (left >= 32 ? ~0u : (1u << left) - 1)) != 0) return false;
    }
    return true;
}

// No vector form for a host page's pairs (the 128-bit kernels have no
// gather): their fields are calls.
struct NoPagePairs {
    static constexpr std::size_t PAIRS = 0;
};

// The first JEF shift code (28 or 29) at or after p, or `end`.
static inline std::size_t next_jef_shift(const std::uint8_t* in, std::size_t p, std::size_t end) noexcept {
    for (; p < end; p += 16) {
        const unsigned hits = jef_shifts128(load16(in + p));
        if (hits != 0) return std::min(end, p + static_cast<std::size_t>(__builtin_ctz(hits)));
    }
    return end;
}

// Host text of n >= 1 bytes through a field's table: up to 8 a byte at a
// time, up to 16 in one `Short` step, longer in `Long` steps.
template <class Short, class Long, HostZero ZERO>
static inline bool host_text_field(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                   const FieldStep& field) noexcept {
    if (n <= 8) return host_field_upto8<ZERO>(in, n, out, field.table);
    if (n <= 16) return host_field<Short, ZERO>(in, n, out, field.rows);
    return host_field<Long, ZERO>(in, n, out, field.rows);
}

// The steps a field of mixed text is made of: single-byte stretches through
// the field's table (a host page's stops at a byte whose text takes two) and
// double-byte runs (through the page's texts by code when `pairs` is set).
template <class Short, class Long, class Pairs, class PagePairs>
struct MixedSteps {
    const FieldStep& field;
    bool single(const std::uint8_t* in, std::size_t n, std::uint8_t* out) const noexcept {
        if (n == 0) return true;
        return field.pairs != nullptr ? host_text_field<Short, Long, HostZero::STOP>(in, n, out, field)
                                      : host_text_field<Short, Long, HostZero::NEVER>(in, n, out, field);
    }
    template <PairKind KIND>
    bool pairs(const std::uint8_t* in, std::size_t n, std::uint8_t* out) const noexcept {
        if (field.pairs != nullptr) {
            if constexpr (PagePairs::PAIRS != 0) {
                const std::uint16_t* const table = field.pairs;
                return pairs_field<PagePairs::PAIRS>(in, n, out, [table](const std::uint8_t* a, std::uint8_t* o) {
                    return PagePairs::step(a, o, table);
                });
            }
            return false;
        }
        return pairs_field<Pairs::PAIRS>(
            in, n, out, [](const std::uint8_t* a, std::uint8_t* o) { return Pairs::template step<KIND>(a, o); });
    }
};

// A K field in its common shapes: single-byte stretches, and KEIS runs of
// whole pairs between 0A 42 and 0A 41; a run never closed is dropped. A 0A
// that is no shift code, a run stretch of odd length, a character whose code
// holds 00 or a page text of another length: NOT_INLINE.
template <class Steps>
static inline std::size_t keis_mixed(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                     const Steps& steps) noexcept {
    std::size_t o = 0;
    std::size_t p = 0;
    std::size_t run_start = 0;
    bool double_byte = false;
    while (true) {
        const std::size_t shift = next_byte(in, p, n, 0x0A);
        const std::size_t len = shift - p;
        if (double_byte ? len % 2 != 0 || !steps.template pairs<PairKind::KEIS>(in + p, len, out + o)
                        : !steps.single(in + p, len, out + o)) {
            return NOT_INLINE;
        }
        o += len;
        if (shift == n) return double_byte ? run_start : o;
        if (shift + 1 == n) return NOT_INLINE;
        if (in[shift + 1] == 0x42) {
            if (!double_byte) run_start = o;
            double_byte = true;
        } else if (in[shift + 1] == 0x41) {
            double_byte = false;
        } else {
            return NOT_INLINE;
        }
        p = shift + 2;
    }
}

// An F field in its common shapes: single-byte stretches, and JEF runs of
// whole pairs after 28, up to 29 (a 28 within a run goes on with it); a run
// never closed is dropped. Otherwise as keis_mixed.
template <class Steps>
static inline std::size_t jef_mixed(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                    const Steps& steps) noexcept {
    std::size_t o = 0;
    std::size_t p = 0;
    std::size_t run_start = 0;
    while (true) {
        const std::size_t shift_in = next_byte(in, p, n, 0x28);
        if (!steps.single(in + p, shift_in - p, out + o)) return NOT_INLINE;
        o += shift_in - p;
        if (shift_in == n) return o;
        run_start = o;
        p = shift_in + 1;
        while (true) {
            const std::size_t shift = next_jef_shift(in, p, n);
            const std::size_t len = shift - p;
            if (len % 2 != 0 || !steps.template pairs<PairKind::JEF>(in + p, len, out + o)) return NOT_INLINE;
            o += len;
            if (shift == n) return run_start;
            p = shift + 1;
            if (in[shift] == 0x29) break;
        }
    }
}

// `Short` converts host text of up to 16 bytes, `Long` longer text; `Pairs`
// and `PagePairs` double-byte text.
template <class Short, class Long, class Pairs, class PagePairs>
static inline std::uint8_t* field_lines(const FieldStep* fields, std::size_t field_count, const std::uint8_t* record,
                                        std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept {
    if (count == 0) return out;
    if (field_count == 0) {
        std::memset(out, '\n', count);
        return out + count;
    }
    // One loop over every field of every record: nested loops cost a
    // shuffle of registers per record.
    const FieldStep* const end = fields + field_count;
    const std::uint8_t* const last = record + (count - 1) * record_length;
    for (const FieldStep* field = fields;; ++field) {
        if (field == end) {
            out[-1] = '\n';  // the last separator ends the line
            if (record == last) return out;
            record += record_length;
            field = fields;
        }
        {
            const std::uint8_t* in = record + field->start;
            const std::size_t n = field->length;
            switch (field->op) {
                case FieldOp::HOST_TEXT:
                    (void)host_text_field<Short, Long, HostZero::NEVER>(in, n, out, *field);
                    out += n;
                    break;
                case FieldOp::PAGE_TEXT:
                    out += host_text_field<Short, Long, HostZero::STOP>(in, n, out, *field)
                               ? n
                               : call_field(*field, record, out);
                    break;
                case FieldOp::PACKED:
                    out += packed_field(in, n, out);
                    break;
                case FieldOp::ZONED:
                    out += zoned_field(in, n, out);
                    break;
                case FieldOp::JIS: {
                    const std::size_t len = jis_field(in, n, out);
                    out += len != NOT_INLINE ? len : call_field(*field, record, out);
                    break;
                }
                case FieldOp::KEIS_PAIRS:
                case FieldOp::JEF_PAIRS: {
                    const bool done =
                        field->op == FieldOp::KEIS_PAIRS
                            ? pairs_field<Pairs::PAIRS>(in, n, out,
                                                        [](const std::uint8_t* a, std::uint8_t* o) {
                                                            return Pairs::template step<PairKind::KEIS>(a, o);
                                                        })
                            : pairs_field<Pairs::PAIRS>(in, n, out, [](const std::uint8_t* a, std::uint8_t* o) {
                                  return Pairs::template step<PairKind::JEF>(a, o);
                              });
                    out += done ? n & ~std::size_t{1} : call_field(*field, record, out);
                    break;
                }
                case FieldOp::PAGE_PAIRS: {
                    bool done = false;
                    if constexpr (PagePairs::PAIRS != 0) {
                        const std::uint16_t* const table = field->pairs;
                        done = pairs_field<PagePairs::PAIRS>(
                            in, n, out,
                            [table](const std::uint8_t* a, std::uint8_t* o) { return PagePairs::step(a, o, table); });
                    }
                    out += done ? n & ~std::size_t{1} : call_field(*field, record, out);
                    break;
                }
                case FieldOp::KEIS_MIXED:
                case FieldOp::JEF_MIXED: {
                    const MixedSteps<Short, Long, Pairs, PagePairs> steps{*field};
                    const std::size_t len =
                        field->op == FieldOp::KEIS_MIXED ? keis_mixed(in, n, out, steps) : jef_mixed(in, n, out, steps);
                    out += len != NOT_INLINE ? len : call_field(*field, record, out);
                    break;
                }
                case FieldOp::CALL:
                    out += call_field(*field, record, out);
                    break;
                default:
                    __builtin_unreachable();  // the plan makes no other op
            }
            *out++ = ',';
        }
    }
}

}  // namespace x86
}  // namespace rekmo
