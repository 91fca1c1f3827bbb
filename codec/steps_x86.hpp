// The decoders' steps (codec/steps.hpp) for x86-64, written once over a
// register width: W128 (SSE4.1) and W256 (AVX2). Included only by the
// sources built for one instruction set (codec/level_*.cpp and
// record/line_*.cpp): everything here has internal linkage, so each of them
// compiles its own copy with its own instruction set.
//
// X86Steps<Long, SLACK> takes long stretches in steps of the Long width and
// short ones in 128-bit steps. Without SLACK it reads and writes only within
// its item and the text's bound; with SLACK (the record lines) it may read
// past the item and write past the text, up to LINE_SLACK bytes past the
// last record and line, so that a short field is whole loads and stores.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/cp932.hpp"
#include "codec/steps.hpp"
#include "codec/vector.hpp"

namespace rekmo {
namespace {

// --- The register widths ---

struct W128 {
    using V = __m128i;
    static constexpr std::size_t BYTES = 16;
    static V load(const std::uint8_t* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(std::uint8_t* p, V v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static V bytes(int b) noexcept { return _mm_set1_epi8(static_cast<char>(b)); }
    static V words(int w) noexcept { return _mm_set1_epi16(static_cast<short>(w)); }
    static V zero() noexcept { return _mm_setzero_si128(); }
    static V and_(V a, V b) noexcept { return _mm_and_si128(a, b); }
    static V or_(V a, V b) noexcept { return _mm_or_si128(a, b); }
    static V xor_(V a, V b) noexcept { return _mm_xor_si128(a, b); }
    static V add8(V a, V b) noexcept { return _mm_add_epi8(a, b); }
    static V add16(V a, V b) noexcept { return _mm_add_epi16(a, b); }
    static V sub16(V a, V b) noexcept { return _mm_sub_epi16(a, b); }
    template <int N>
    static V shl16(V a) noexcept {
        return _mm_slli_epi16(a, N);
    }
    template <int N>
    static V shr16(V a) noexcept {
        return _mm_srli_epi16(a, N);
    }
    template <int N>
    static V sar16(V a) noexcept {
        return _mm_srai_epi16(a, N);
    }
    static V eq8(V a, V b) noexcept { return _mm_cmpeq_epi8(a, b); }
    static V eq16(V a, V b) noexcept { return _mm_cmpeq_epi16(a, b); }
    static V gt16(V a, V b) noexcept { return _mm_cmpgt_epi16(a, b); }
    static V shuffle(V table, V index) noexcept { return _mm_shuffle_epi8(table, index); }
    static V blend(V a, V b, V mask) noexcept { return _mm_blendv_epi8(a, b, mask); }
    static unsigned mask(V v) noexcept { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
};

#if defined(__AVX2__)
struct W256 {
    using V = __m256i;
    static constexpr std::size_t BYTES = 32;
    static V load(const std::uint8_t* p) noexcept { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(std::uint8_t* p, V v) noexcept { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static V bytes(int b) noexcept { return _mm256_set1_epi8(static_cast<char>(b)); }
    static V words(int w) noexcept { return _mm256_set1_epi16(static_cast<short>(w)); }
    static V zero() noexcept { return _mm256_setzero_si256(); }
    static V and_(V a, V b) noexcept { return _mm256_and_si256(a, b); }
    static V or_(V a, V b) noexcept { return _mm256_or_si256(a, b); }
    static V xor_(V a, V b) noexcept { return _mm256_xor_si256(a, b); }
    static V add8(V a, V b) noexcept { return _mm256_add_epi8(a, b); }
    static V add16(V a, V b) noexcept { return _mm256_add_epi16(a, b); }
    static V sub16(V a, V b) noexcept { return _mm256_sub_epi16(a, b); }
    template <int N>
    static V shl16(V a) noexcept {
        return _mm256_slli_epi16(a, N);
    }
    template <int N>
    static V shr16(V a) noexcept {
        return _mm256_srli_epi16(a, N);
    }
    template <int N>
    static V sar16(V a) noexcept {
        return _mm256_srai_epi16(a, N);
    }
    static V eq8(V a, V b) noexcept { return _mm256_cmpeq_epi8(a, b); }
    static V eq16(V a, V b) noexcept { return _mm256_cmpeq_epi16(a, b); }
    static V gt16(V a, V b) noexcept { return _mm256_cmpgt_epi16(a, b); }
    // Within each 128-bit half, as the 128-bit shuffle.
    static V shuffle(V table, V index) noexcept { return _mm256_shuffle_epi8(table, index); }
    static V blend(V a, V b, V mask) noexcept { return _mm256_blendv_epi8(a, b, mask); }
    static unsigned mask(V v) noexcept { return static_cast<unsigned>(_mm256_movemask_epi8(v)); }
};
#endif

// The lanes of a W-wide step whose text is 00.
template <class W>
inline unsigned zero_lanes(typename W::V v) noexcept {
    return W::mask(W::eq8(v, W::zero()));
}

// The lowest `n` lanes of a mask (all of them from 32 on).
inline unsigned lanes_below(std::size_t n) noexcept { return n >= 32 ? ~0u : (1u << n) - 1; }

// Whether a step's 00 lanes lie within the `left` bytes of its text. Out of
// line: it runs only when some lane is 00, and keeping it out keeps the
// loops that test it free of its registers.
[[gnu::noinline, gnu::cold]] inline bool zero_in_text(unsigned zero, std::size_t left) noexcept {
    return (zero & lanes_below(left)) != 0;
}

// --- Host single-byte text ---
//
// The 256-entry table as 16 rows of 16: one shuffle per row on the low half
// of each byte, then the high half picks the row, a bit at a time, through a
// tree of blends (a blend takes the top bit of each byte of its mask, so the
// mask is the byte shifted to bring that bit to the top). Rows 0-3 (host
// 00-3F) give 20 throughout, which host_text_rows checks when it is
// compiled: the rows are kept XOR 20, so rows 0-3 are zero and need no
// shuffle. `rows` holds rows 4-F, each twice, 32 bytes apart, for the two
// 128-bit halves of a 256-bit register.
template <class W>
[[gnu::always_inline]] inline typename W::V host_text_step(typename W::V x, const std::uint8_t* rows) noexcept {
    using V = typename W::V;
    const V low = W::and_(x, W::bytes(0x0F));
    const V bit4 = W::template shl16<3>(x);
    const V bit5 = W::template shl16<2>(x);
    const V bit6 = W::add8(x, x);
    auto row = [&](int r) { return W::shuffle(W::load(rows + HOST_ROW_STRIDE * (r - 4)), low); };
    auto pick = [&](int r) { return W::blend(row(r), row(r + 1), bit4); };  // rows r and r + 1 by bit 4
    const V r4_7 = W::blend(pick(4), pick(6), bit5);
    const V r8_b = W::blend(pick(8), pick(10), bit5);
    const V rc_f = W::blend(pick(12), pick(14), bit5);
    const V r0_7 = W::blend(W::zero(), r4_7, bit6);
    const V r8_f = W::blend(r8_b, rc_f, bit6);
    return W::xor_(W::blend(r0_7, r8_f, x), W::bytes(0x20));
}

// --- JIS X 0208 row and cell to Shift_JIS ---
//
// Characters in 16-bit lanes, row byte low, cell byte high: the scalar
// arithmetic lane by lane. Row bytes below 21 halve toward zero (m + 1 for
// negative m, then an arithmetic shift), and every byte is reduced modulo
// 256 as in the scalar code.
template <class W>
inline typename W::V sjis_step(typename W::V w) noexcept {
    using V = typename W::V;
    const V ff = W::words(0xFF);
    const V j1 = W::and_(w, ff);
    const V j2 = W::template shr16<8>(w);
    V m = W::sub16(j1, W::words(0x21));
    m = W::sub16(m, W::gt16(W::zero(), m));
    V lead = W::and_(W::add16(W::template sar16<1>(m), W::words(0x81)), ff);
    lead = W::and_(W::add16(lead, W::and_(W::gt16(lead, W::words(0x9F)), W::words(0x40))), ff);
    const V odd = W::eq16(W::and_(j1, W::words(1)), W::words(1));
    V trail = W::and_(W::add16(j2, W::blend(W::words(0x7D), W::words(0x1F), odd)), ff);
    trail = W::and_(W::sub16(trail, W::gt16(trail, W::words(0x7E))), ff);
    return W::or_(lead, W::template shl16<8>(trail));
}

template <class W, PairKind KIND>
inline typename W::V pairs_step(typename W::V w) noexcept {
    if constexpr (KIND == PairKind::JIS) return sjis_step<W>(w);
    const typename W::V text = sjis_step<W>(W::xor_(w, W::words(0x8080)));  // host codes: the high bit set
    if constexpr (KIND == PairKind::KEIS) return text;
    return W::blend(text, W::words(0x4081), W::eq16(w, W::words(0x4040)));  // JEF 40 40: 81 40
}

// --- Searches ---

// What a search looks for: a byte, or either JEF shift code.
struct ByteMatch {
    std::uint8_t byte;
    bool operator()(std::uint8_t b) const noexcept { return b == byte; }
    template <class W>
    unsigned hits(typename W::V x) const noexcept {
        return W::mask(W::eq8(x, W::bytes(byte)));
    }
};

struct SetMatch {
    const ByteSet& set;
    bool operator()(std::uint8_t b) const noexcept { return set.has(b); }
    template <class W>
    unsigned hits(typename W::V x) const noexcept {
        return W::mask(W::eq8(W::shuffle(W::load(set.lanes), W::and_(x, W::bytes(0x0F))), x));
    }
};

struct JefShiftMatch {
    bool operator()(std::uint8_t b) const noexcept { return is_jef_shift(b); }
    template <class W>
    unsigned hits(typename W::V x) const noexcept {
        return W::mask(W::eq8(W::and_(x, W::bytes(0xFE)), W::bytes(JEF_SHIFT_IN)));
    }
};

// The first byte in [p, end) that `match` takes, or end: Long steps, then
// 128-bit ones, the last overlapping the one before (a stretch of fewer
// than 16 bytes byte by byte). With SLACK, whole 128-bit steps that may read
// past end.
template <class Long, bool SLACK, class Match>
inline const std::uint8_t* find_step(const std::uint8_t* p, const std::uint8_t* end, Match match) noexcept {
    if constexpr (SLACK) {
        for (; p < end; p += Long::BYTES) {
            if (const unsigned hits = match.template hits<Long>(Long::load(p)))
                return std::min(end, p + __builtin_ctz(hits));
        }
        return end;
    } else {
        if (end - p < 16) {
            while (p < end && !match(*p)) ++p;
            return p;
        }
        for (; end - p >= static_cast<std::ptrdiff_t>(Long::BYTES); p += Long::BYTES) {
            if (const unsigned hits = match.template hits<Long>(Long::load(p))) return p + __builtin_ctz(hits);
        }
        for (; end - p >= 16; p += 16) {
            if (const unsigned hits = match.template hits<W128>(W128::load(p))) return p + __builtin_ctz(hits);
        }
        if (p == end) return end;
        // The last 16 bytes, of which those before p were looked at already.
        const unsigned hits = match.template hits<W128>(W128::load(end - 16)) >> (16 - (end - p));
        return hits != 0 ? p + __builtin_ctz(hits) : end;
    }
}

// --- Loads and stores of up to 16 bytes ---

inline __m128i load8(const std::uint8_t* p) noexcept { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline void store8(std::uint8_t* p, __m128i v) noexcept { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }

// in[0, n) for 1 <= n <= 16 in the low lanes, zeros above; reads nothing
// past in + n.
inline __m128i load_upto16(const std::uint8_t* in, std::size_t n) noexcept {
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    if (n == 16) return W128::load(in);
    if (n >= 8) {  // two overlapping halves; the high one moved up to lane n - 8
        const __m128i high =
            _mm_shuffle_epi8(load8(in + n - 8), _mm_sub_epi8(lanes, W128::bytes(static_cast<int>(n) - 8)));
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

// Writes count bytes (1 to 16) of `text` exactly: overlapping stores.
inline void store_upto16(std::uint8_t* out, __m128i text, std::size_t count) noexcept {
    alignas(16) std::uint8_t bytes16[16];
    W128::store(bytes16, text);
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

// --- Code page 932's single-byte codes to UTF-8 ---
//
// ASCII stays one byte; the half-width katakana A1-DF (U+FF61-FF9F) take
// three, EF BD A1-BF for A1-BF and EF BE 80-9F for C0-DF:
//
//   byte b:   A1-BF   ->  EF  BD  b
//             C0-DF   ->  EF  BE  b - 40     (bit 6 of b picks the row)
//
// Each group of four codes is widened to four 32-bit lanes, lane k holding
// code k's text [b] or [EF, BD|BE, trail] (and a fourth byte never written),
// and one shuffle chosen by which of the four are katakana packs the texts
// together: 4 to 12 bytes.
struct Utf8Packs {
    alignas(16) std::uint8_t shuffle[16][16];  // by the katakana among the four codes, bit k for code k
    std::uint8_t length[16];
};

constexpr Utf8Packs make_utf8_packs() {
    Utf8Packs packs{};
    for (unsigned kana = 0; kana < 16; ++kana) {
        unsigned at = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const unsigned bytes = (kana >> k & 1u) != 0 ? 3 : 1;
            for (unsigned j = 0; j < bytes; ++j) packs.shuffle[kana][at++] = static_cast<std::uint8_t>(4 * k + j);
        }
        packs.length[kana] = static_cast<std::uint8_t>(at);
        for (; at < 16; ++at) packs.shuffle[kana][at] = 0x80;  // a zero byte
    }
    return packs;
}

alignas(16) constexpr Utf8Packs UTF8_PACKS = make_utf8_packs();

// The lanes of x that hold half-width katakana, A1-DF: b - 21 (mod 256) is
// 80-BE for them, the lowest signed bytes, below -41 (BF) for nothing else.
inline __m128i katakana_lanes(__m128i x) noexcept {
    return _mm_cmpgt_epi8(W128::bytes(-0x41), _mm_sub_epi8(x, W128::bytes(0x21)));
}

// The UTF-8 of 16 codes, each ASCII or, where `kana` has its bit, half-width
// katakana, in whole 16-byte stores: returns the length of the texts, whose
// last store may reach 16 bytes past the last text's start. A code whose
// bit is clear is written as its own byte, whatever it is.
inline std::size_t single_utf8_step(__m128i x, unsigned kana, std::uint8_t* out) noexcept {
    const __m128i is_kana = katakana_lanes(x);
    const __m128i row2 = _mm_and_si128(x, W128::bytes(0x40));
    const __m128i first = _mm_blendv_epi8(x, W128::bytes(0xEF), is_kana);
    const __m128i second = _mm_sub_epi8(W128::bytes(0xBD), _mm_cmpeq_epi8(row2, W128::bytes(0x40)));  // BD or BE
    const __m128i third = _mm_sub_epi8(x, row2);
    const __m128i pairs_low = _mm_unpacklo_epi8(first, second);
    const __m128i pairs_high = _mm_unpackhi_epi8(first, second);
    const __m128i third_low = _mm_unpacklo_epi8(third, _mm_setzero_si128());
    const __m128i third_high = _mm_unpackhi_epi8(third, _mm_setzero_si128());
    const __m128i groups[4] = {_mm_unpacklo_epi16(pairs_low, third_low), _mm_unpackhi_epi16(pairs_low, third_low),
                               _mm_unpacklo_epi16(pairs_high, third_high), _mm_unpackhi_epi16(pairs_high, third_high)};
    std::size_t o = 0;
    for (unsigned g = 0; g < 4; ++g) {
        const unsigned k = kana >> (4 * g) & 0xFu;
        const __m128i pack = _mm_load_si128(reinterpret_cast<const __m128i*>(UTF8_PACKS.shuffle[k]));
        W128::store(out + o, _mm_shuffle_epi8(groups[g], pack));
        o += UTF8_PACKS.length[k];
    }
    return o;
}

// The UTF-8 of the first `left` (1 to 16) of 16 single-byte codes, of
// which `kana` (taken below `left`) are half-width katakana: their length.
// The stores reach less than 28 bytes past the text (single_utf8_step, the
// codes past `left` one byte each).
inline std::size_t single_utf8_lanes(__m128i x, unsigned kana, std::size_t left, std::uint8_t* out) noexcept {
    if (kana == 0) {
        W128::store(out, x);
        return left;
    }
    return single_utf8_step(x, kana, out) - (16 - left);
}

#if defined(__AVX2__)
// Eight code page 932 pairs in UTF-8 (the lanes of `codes`, lead byte low,
// trail byte above it): their texts, 24 bytes, in the low 12 bytes of each
// 128-bit half, and the lanes whose pair has a character of three bytes
// (U+0800 on) as a mask. Each character is gathered from CP932_BY_CODE as
// four bytes at twice the code, of which the low two are it; a code that is
// no pair gives 0 there.
//
//   U+wxyz  ->  E0|w   80|(xyz >> 6 & 3F)   80|(yz & 3F)
inline __m256i pairs_utf8_step(__m256i codes, unsigned& good) noexcept {
    const __m256i c =
        _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(CP932_BY_CODE.data()), codes, 2),
                         _mm256_set1_epi32(0xFFFF));
    good =
        static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(c, _mm256_set1_epi32(0x7FF)))));
    const __m256i text =
        _mm256_or_si256(_mm256_or_si256(_mm256_set1_epi32(0x8080E0), _mm256_srli_epi32(c, 12)),
                        _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi32(c, 2), _mm256_set1_epi32(0x3F00)),
                                        _mm256_and_si256(_mm256_slli_epi32(c, 16), _mm256_set1_epi32(0x3F0000))));
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                          0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    return _mm256_shuffle_epi8(text, pack);
}
#endif

// --- Zoned and packed decimal, up to 15 digits ---

// The text of `count` digit half-bytes (one per lane, count <= 16): leading
// zeros skipped, ended by the first half-byte above 9, '-' before a negative
// number (a `sign` half-byte other than C and F), and 0 for a number without
// a significant digit. EXACT prints numbers only: an item with a digit above
// 9, or a sign half-byte of 0-9, gives no text. With room for 16 bytes the
// text is one store.
template <bool EXACT>
inline std::size_t number_step(__m128i digits, unsigned count, unsigned sign, std::uint8_t* out,
                               std::size_t room) noexcept {
    const unsigned lanes = (1u << count) - 1;
    const auto above9 = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(digits, W128::bytes(9))));
    unsigned stop = count;
    if constexpr (EXACT) {
        if ((above9 & lanes) != 0 || sign <= 9) return 0;
    } else {
        stop = static_cast<unsigned>(__builtin_ctz((above9 & lanes) | (1u << count)));
    }
    const unsigned significant = ~zero_lanes<W128>(digits) & ((1u << stop) - 1);
    if (significant == 0) {
        out[0] = '0';
        return 1;
    }
    const bool negative = sign != 0xC && sign != 0xF;
    const auto first = static_cast<unsigned>(__builtin_ctz(significant));
    const unsigned minus = negative ? 1 : 0;
    const __m128i lanes16 = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i text =
        _mm_shuffle_epi8(_mm_add_epi8(digits, W128::bytes('0')),
                         _mm_add_epi8(lanes16, W128::bytes(static_cast<int>(first) - static_cast<int>(minus))));
    if (negative) text = _mm_insert_epi8(text, '-', 0);
    const std::size_t len = minus + stop - first;
    if (room >= 16) {
        W128::store(out, text);
    } else {
        store_upto16(out, text, len);
    }
    return len;
}

// Packed: two digits a byte, high half first; the low half of the last byte
// is the sign. `x` holds the item's bytes in its low lanes.
template <bool EXACT>
inline std::size_t packed_step(__m128i x, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                               std::size_t room) noexcept {
    const __m128i digits =
        _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(x, 4), W128::bytes(0x0F)), _mm_and_si128(x, W128::bytes(0x0F)));
    return number_step<EXACT>(digits, static_cast<unsigned>(2 * n - 1), in[n - 1] & 0x0Fu, out, room);
}

// Zoned: the low half of each byte a digit; the high half of the last byte
// is the sign.
template <bool EXACT>
inline std::size_t zoned_step(__m128i x, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                              std::size_t room) noexcept {
    return number_step<EXACT>(_mm_and_si128(x, W128::bytes(0x0F)), static_cast<unsigned>(n), in[n - 1] >> 4u, out,
                              room);
}

// --- The steps ---

template <class Long, bool SLACK>
struct X86Steps {
    static const std::uint8_t* find_byte(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t byte) noexcept {
        return find_step<Long, SLACK>(p, end, ByteMatch{byte});
    }
    static const std::uint8_t* find_jef_shift(const std::uint8_t* p, const std::uint8_t* end) noexcept {
        return find_step<Long, SLACK>(p, end, JefShiftMatch{});
    }
    static const std::uint8_t* find_any(const std::uint8_t* p, const std::uint8_t* end, const ByteSet& set) noexcept {
        return find_step<Long, SLACK>(p, end, SetMatch{set});
    }

    // 16 codes a step, up to the first byte that is not a single-byte code.
    // A step's stores reach 52 bytes past the text written before it, and
    // less than 28 past three for each byte it has read (single_utf8_step;
    // the codes past the stop count one byte each). So without SLACK, whole
    // steps while 20 bytes are left: the stores stay within the text's bound
    // and behind the bytes not yet read when the input lies 2n + 2 bytes
    // after the output (codec/cp932.hpp). With SLACK, any stretch, the last
    // step reading past it, for an input that lies STEP_REACH bytes further
    // (the record lines' fields, record/field.hpp).
    static constexpr std::size_t SINGLE_UTF8_MIN = SLACK ? 1 : 20;
    static Utf8Done single_utf8(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
        std::size_t i = 0;
        std::size_t o = 0;
        while (SLACK ? i < n : n - i >= SINGLE_UTF8_MIN) {
            const __m128i x = W128::load(in + i);
            const std::size_t left = std::min<std::size_t>(n - i, 16);
            const unsigned lanes = (1u << left) - 1;
            const unsigned high = W128::mask(x) & lanes;
            if (high == 0) {  // ASCII
                W128::store(out + o, x);
                i += left;
                o += left;
                continue;
            }
            const unsigned kana = W128::mask(katakana_lanes(x)) & lanes;
            const auto stop = static_cast<unsigned>(__builtin_ctz((high & ~kana) | (1u << left)));
            o += single_utf8_step(x, kana & ((1u << stop) - 1), out + o) - (16 - stop);  // without the codes past stop
            i += stop;
            if (stop < 16) break;  // a byte that is no single-byte code, or the end
        }
        return {i, o};
    }

    // Runs of pairs whose characters take three bytes in UTF-8 (kanji, kana,
    // full-width forms), eight a step, up to the first that is not one (AVX2
    // only: the 128-bit level has no gather). A step's stores reach 28 bytes
    // past the text written before it: without SLACK, whole steps while 16
    // bytes are left, which keeps them within the text's bound and behind
    // the bytes not yet read (as single_utf8); with SLACK, any stretch, the
    // last step reading past it.
    static constexpr std::size_t PAIRS_UTF8_MIN = Long::BYTES == 32 ? (SLACK ? 2 : 16) : SIZE_MAX;
    [[gnu::noinline]] static Utf8Done pairs_utf8(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
        std::size_t i = 0;
        std::size_t o = 0;
#if defined(__AVX2__)
        if constexpr (Long::BYTES == 32) {
            while (n - i >= PAIRS_UTF8_MIN) {
                const auto pairs = static_cast<unsigned>(std::min<std::size_t>((n - i) / 2, 8));
                unsigned good = 0;
                const __m256i text = pairs_utf8_step(_mm256_cvtepu16_epi32(W128::load(in + i)), good);
                const auto done = static_cast<unsigned>(__builtin_ctz(~good | (1u << pairs)));
                W128::store(out + o, _mm256_castsi256_si128(text));
                W128::store(out + o + 12, _mm256_extracti128_si256(text, 1));
                i += 2 * done;
                o += 3 * done;
                if (done < 8) break;
            }
        }
#endif
        (void)in;
        (void)n;
        (void)out;
        return {i, o};
    }

    // Host text through a table of single-byte codes, in UTF-8: the table
    // step (host_text_step), then the katakana widened (single_utf8_lanes);
    // a step that holds none is stored as it is. With SLACK, any stretch,
    // up to 8 bytes through the table byte by byte, up to 16 in one 128-bit
    // step, longer in Long steps, the last reading past the stretch and
    // writing less than 32 bytes past the text. Without SLACK, whole steps
    // while 4 bytes more than a step are left: the stores reach 12 bytes
    // past the text of a whole step, so they stay within 3n.
    static Utf8Done host_utf8(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                              const HostTable& table) noexcept {
        std::size_t i = 0;
        std::size_t o = 0;
        if constexpr (SLACK) {
            if (n <= 8) {
                std::uint64_t text = 0;
                for (unsigned k = 0; k < 8; ++k) text |= std::uint64_t{table.bytes[in[k]]} << (8 * k);
                const __m128i x = _mm_cvtsi64_si128(static_cast<long long>(text));
                return {n, single_utf8_lanes(x, W128::mask(x) & lanes_below(n), n, out)};
            }
            const std::uint8_t* const rows = rows_of(table);
            if (n <= 16) {
                const __m128i x = host_text_step<W128>(W128::load(in), rows);
                return {n, single_utf8_lanes(x, W128::mask(x) & lanes_below(n), n, out)};
            }
            for (; i < n; i += Long::BYTES) {
                const typename Long::V x = host_text_step<Long>(Long::load(in + i), rows);
                const std::size_t left = std::min(n - i, Long::BYTES);
                o += long_utf8_lanes(x, Long::mask(x) & lanes_below(left), left, out + o);
            }
            return {n, o};
        } else {
            if (n < 20) return {0, 0};
            const std::uint8_t* const rows = rows_of(table);
            for (; n - i >= Long::BYTES + 4; i += Long::BYTES) {
                const typename Long::V x = host_text_step<Long>(Long::load(in + i), rows);
                o += long_utf8_lanes(x, Long::mask(x), Long::BYTES, out + o);
            }
            for (; n - i >= 20; i += 16) {
                const __m128i x = host_text_step<W128>(W128::load(in + i), rows);
                o += single_utf8_lanes(x, W128::mask(x), 16, out + o);
            }
            return {i, o};
        }
    }

    // single_utf8_lanes over a Long step: its 128-bit halves in turn.
    static std::size_t long_utf8_lanes(typename Long::V x, unsigned kana, std::size_t left,
                                       std::uint8_t* out) noexcept {
        if constexpr (Long::BYTES == 16) {
            return single_utf8_lanes(x, kana, left, out);
        } else {
#if defined(__AVX2__)
            if (kana == 0) {
                Long::store(out, x);
                return left;
            }
            std::size_t o =
                single_utf8_lanes(_mm256_castsi256_si128(x), kana & 0xFFFF, std::min<std::size_t>(left, 16), out);
            if (left > 16) o += single_utf8_lanes(_mm256_extracti128_si256(x, 1), kana >> 16, left - 16, out + o);
            return o;
#else
            (void)x;
            (void)kana;
            (void)left;
            (void)out;
            return 0;
#endif
        }
    }

    // Host pairs to code page 932's characters in UTF-8, sixteen a step:
    // their Shift_JIS codes (pairs_step) are the codes pairs_utf8_step
    // gathers by, eight at a time, up to the first pair whose character does
    // not take three bytes (AVX2 only). With SLACK only, any stretch, the
    // last step reading past it; the stores reach 28 bytes past the text
    // written before a step, or before its second eight, which are written
    // only when the first eight are. (The exact decoders do not write UTF-8
    // from host pairs.)
    template <PairKind KIND>
    static Utf8Done host_pairs_utf8(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
        std::size_t i = 0;
        std::size_t o = 0;
#if defined(__AVX2__)
        if constexpr (Long::BYTES == 32 && SLACK) {
            while (i < pairs) {
                const auto left = static_cast<unsigned>(std::min<std::size_t>(pairs - i, 16));
                const __m256i codes = pairs_step<W256, KIND>(W256::load(in + 2 * i));
                unsigned good = 0;
                unsigned good_high = 0;
                const __m256i text = pairs_utf8_step(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(codes)), good);
                W128::store(out + o, _mm256_castsi256_si128(text));
                W128::store(out + o + 12, _mm256_extracti128_si256(text, 1));
                if (good == 0xFF && left > 8) {
                    const __m256i high =
                        pairs_utf8_step(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(codes, 1)), good_high);
                    W128::store(out + o + 24, _mm256_castsi256_si128(high));
                    W128::store(out + o + 36, _mm256_extracti128_si256(high, 1));
                }
                const auto done = static_cast<unsigned>(__builtin_ctz(~(good | good_high << 8) | (1u << left)));
                i += done;
                o += 3 * done;
                if (done < 16) break;
            }
        }
#endif
        (void)in;
        (void)pairs;
        (void)out;
        return {2 * i, o};
    }

    static void copy(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
        if constexpr (SLACK) {
            for (std::size_t i = 0; i < n; i += 16) W128::store(out + i, W128::load(in + i));
        } else if (n > 0) {
            std::memcpy(out, in, n);
        }
    }

    // Host text in W steps, the last overlapping the one before; every step
    // read before it is written, since `out` may be `in`. With STOP, the
    // prefix before the first step holding a 00 text.
    template <class W, HostZero ZERO>
    static std::size_t host_text_steps(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                       const std::uint8_t* rows) noexcept {
        constexpr bool STOP = ZERO == HostZero::STOP;
        const typename W::V last = W::load(in + n - W::BYTES);
        std::size_t i = 0;
        for (; i + W::BYTES <= n; i += W::BYTES) {
            const typename W::V text = host_text_step<W>(W::load(in + i), rows);
            if (STOP && zero_lanes<W>(text) != 0) return i;
            W::store(out + i, text);
        }
        if (i < n) {
            const typename W::V tail = host_text_step<W>(last, rows);
            if (STOP && zero_lanes<W>(tail) != 0) return i;
            W::store(out + n - W::BYTES, tail);
        }
        return n;
    }

    // Host text of up to WIDTH bytes (4 or 8) a byte at a time through the
    // table, WIDTH bytes whatever n is. With STOP, 0 when one of the first n
    // texts is 00 (it takes two).
    template <unsigned WIDTH, bool STOP>
    static std::size_t table_bytes(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                   const std::uint8_t* table) noexcept {
        std::uint64_t text = 0;
        for (unsigned k = 0; k < WIDTH; ++k) text |= std::uint64_t{table[in[k]]} << (8 * k);
        std::memcpy(out, &text, 8);
        if (STOP) {
            // A 00 byte among the first n: its high bit set by the borrow, its own clear.
            const std::uint64_t zero = (text - 0x0101010101010101u) & ~text & 0x8080808080808080u;
            if ((zero & (~std::uint64_t{0} >> (64 - 8 * n))) != 0) return 0;
        }
        return n;
    }

    // The rows of a table, opaque to the optimiser: the default table's rows
    // are a constant, and compilers would load all twelve rows (and spill
    // them) on entry to every machine that might convert a stretch, though
    // most stretches of mixed text are short and never read them.
    static const std::uint8_t* rows_of(const HostTable& table) noexcept {
        const std::uint8_t* rows = table.rows;
        asm("" : "+r"(rows));
        return rows;
    }

    template <HostZero ZERO>
    static std::size_t host_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                 const HostTable& table) noexcept {
        constexpr bool STOP = ZERO == HostZero::STOP;
        if constexpr (SLACK) {
            // Up to 8 bytes a byte at a time through the table, 4 or 8
            // bytes whatever n is; up to 16 one 128-bit step; longer in Long
            // steps.
            if (n <= 8)
                return n <= 4 ? table_bytes<4, STOP>(in, n, out, table.bytes)
                              : table_bytes<8, STOP>(in, n, out, table.bytes);
            const std::uint8_t* const rows = rows_of(table);
            if (n <= 16) {
                const __m128i text = host_text_step<W128>(W128::load(in), rows);
                W128::store(out, text);
                if (STOP && (zero_lanes<W128>(text) & lanes_below(n)) != 0) return 0;
                return n;
            }
            for (std::size_t i = 0; i < n; i += Long::BYTES) {
                const typename Long::V text = host_text_step<Long>(Long::load(in + i), rows);
                Long::store(out + i, text);
                if (STOP) {
                    const unsigned zero = zero_lanes<Long>(text);
                    if (zero != 0 && zero_in_text(zero, n - i)) [[unlikely]]
                        return i;
                }
            }
            return n;
        } else {
            if (n < 8) return 0;
            const std::uint8_t* const rows = rows_of(table);
            if (n < 16) {  // two overlapping halves, both read before either is written
                const __m128i text = host_text_step<W128>(_mm_unpacklo_epi64(load8(in), load8(in + n - 8)), rows);
                if (STOP && zero_lanes<W128>(text) != 0) return 0;
                store8(out, text);
                store8(out + n - 8, _mm_unpackhi_epi64(text, text));
                return n;
            }
            if (n < Long::BYTES) return host_text_steps<W128, ZERO>(in, n, out, rows);
            return host_text_steps<Long, ZERO>(in, n, out, rows);
        }
    }

    // Pairs i to `pairs` in W steps, the last overlapping those before;
    // stops before a step whose text holds a 00 byte. Returns the pairs done.
    template <class W, PairKind KIND>
    static std::size_t pairs_steps(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out,
                                   std::size_t i) noexcept {
        constexpr std::size_t STEP = W::BYTES / 2;
        const typename W::V last = W::load(in + 2 * (pairs - STEP));
        for (; i + STEP <= pairs; i += STEP) {
            const typename W::V text = pairs_step<W, KIND>(W::load(in + 2 * i));
            if (zero_lanes<W>(text) != 0) return i;
            W::store(out + 2 * i, text);
        }
        if (i == pairs) return i;
        const typename W::V text = pairs_step<W, KIND>(last);
        if (zero_lanes<W>(text) != 0) return i;
        W::store(out + 2 * (pairs - STEP), text);
        return pairs;
    }

    template <PairKind KIND>
    static std::size_t pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
        if constexpr (SLACK) {
            // Whole steps; lanes past the pairs do not count.
            const std::size_t bytes = 2 * pairs;
            for (std::size_t i = 0; i < bytes; i += Long::BYTES) {
                const typename Long::V text = pairs_step<Long, KIND>(Long::load(in + i));
                Long::store(out + i, text);
                const unsigned zero = zero_lanes<Long>(text);
                if (zero != 0 && (zero & lanes_below(bytes - i)) != 0) return i / 2;
            }
            return pairs;
        } else {
            if (pairs < 8) {
                // All at once (more than 2: the scalar code does fewer as quickly).
                if (pairs < 3) return 0;
                const std::size_t len = 2 * pairs;
                const __m128i text = pairs_step<W128, KIND>(load_upto16(in, len));
                if ((zero_lanes<W128>(text) & lanes_below(len)) != 0) return 0;
                store_upto16(out, text, len);
                return pairs;
            }
            if (pairs < Long::BYTES / 2) return pairs_steps<W128, KIND>(in, pairs, out, 0);
            const std::size_t done = pairs_steps<Long, KIND>(in, pairs, out, 0);
            if constexpr (Long::BYTES > 16) {
                // A 00 text in a long step: the 128-bit steps find where.
                if (done < pairs) return pairs_steps<W128, KIND>(in, pairs, out, done);
            }
            return done;
        }
    }

    // A host page's pairs, 16 a step (AVX2 only: the 128-bit level has no
    // gather). Each code (lead << 8 | trail) gathers four bytes from the
    // page's table at twice the code, of which the low two are its text,
    // first byte low. Every character of both hosts' pages is two bytes
    // there, neither of them 00; a text of one byte (its second byte 00)
    // shows as a 00 lane, as does a code without a text.
    static std::size_t page_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out,
                                  const std::uint16_t* table) noexcept {
#if defined(__AVX2__)
        if constexpr (Long::BYTES == 32) {
            const auto* base = reinterpret_cast<const int*>(table);
            const __m256i mask = _mm256_set1_epi32(0xFFFF);
            auto step = [&](const std::uint8_t* a, std::uint8_t* o) {
                const __m256i w = W256::load(a);
                const __m256i codes = _mm256_or_si256(_mm256_slli_epi16(w, 8), _mm256_srli_epi16(w, 8));
                const __m256i low =
                    _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(codes)), 2);
                const __m256i high =
                    _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(codes, 1)), 2);
                // Eight texts of each half, packed per 128-bit lane and then put in order.
                const __m256i packed = _mm256_packus_epi32(_mm256_and_si256(low, mask), _mm256_and_si256(high, mask));
                const __m256i text = _mm256_permute4x64_epi64(packed, 0xD8);
                W256::store(o, text);
                return zero_lanes<W256>(text);
            };
            const std::size_t bytes = 2 * pairs;
            std::size_t i = 0;
            if constexpr (SLACK) {
                for (; i < bytes; i += 32) {
                    if ((step(in + i, out + i) & lanes_below(bytes - i)) != 0) return i / 2;
                }
                return pairs;
            } else {
                // Whole steps only, within the item and the text; a step
                // whose text holds a 00 is written again by the scalar code.
                for (; i + 32 <= bytes; i += 32) {
                    if (step(in + i, out + i) != 0) return i / 2;
                }
                return i / 2;
            }
        }
#endif
        (void)in;
        (void)pairs;
        (void)out;
        (void)table;
        return 0;
    }

    // With SLACK: a text of up to 16 bytes read as the steps wrote it, 8
    // bytes or 16, so that the load takes the store's bytes whole.
    static constexpr bool SHORT_SCAN = SLACK;
    static ShortScan scan_short(const std::uint8_t* p, std::size_t n, std::uint8_t pad, const ByteSet& set) noexcept {
        const __m128i x = n <= 8 ? load8(p) : W128::load(p);
        const unsigned lanes = lanes_below(n);
        const unsigned kept = ~W128::mask(W128::eq8(x, W128::bytes(pad))) & lanes;
        return {kept != 0 ? static_cast<std::size_t>(32 - __builtin_clz(kept)) : 0,
                SetMatch{set}.template hits<W128>(x) & lanes};
    }

    // A packed item of 1 to 8 bytes, a zoned item of 1 to 15 (at most 15
    // digits: exact). The text lies within the item's bound; with SLACK the
    // item is read as 8 or 16 bytes and the text is one 16-byte store. With
    // EXACT, an item that is no number gives no text.
    static constexpr bool SHORT_NUMBERS = true;
    template <bool EXACT = false>
    static std::size_t packed_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
        if constexpr (SLACK) return packed_step<EXACT>(load8(in), in, n, out, 16);
        return packed_step<EXACT>(load_upto16(in, n), in, n, out, 2 * n + 1);
    }
    template <bool EXACT = false>
    static std::size_t zoned_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
        if constexpr (SLACK) return zoned_step<EXACT>(W128::load(in), in, n, out, 16);
        return zoned_step<EXACT>(load_upto16(in, n), in, n, out, n + 2);
    }
};

}  // namespace
}  // namespace rekmo
