// The AVX2 kernels: 32 bytes at a time, and the 128-bit steps (built here
// with the AVX encoding) for what is left. Built with -mavx2; called only on
// processors that have it.
#include "codec/vector_x86.hpp"

#if REKMO_VECTOR_X86
#include "codec/vector_x86_128.hpp"

namespace rekmo {

using namespace x86;

namespace {

__m256i load32(const std::uint8_t* p) noexcept { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
void store32(std::uint8_t* p, __m256i v) noexcept { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
__m256i bytes32(int b) noexcept { return _mm256_set1_epi8(static_cast<char>(b)); }
__m256i words32(int w) noexcept { return _mm256_set1_epi16(static_cast<short>(w)); }
unsigned zero_lanes32(__m256i v) noexcept {
    return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
}

// host_text128, 32 bytes at a time (a shuffle works within each 128-bit
// half: every row is in both halves).
__m256i host_row256(const std::uint8_t* rows, int row, __m256i low) noexcept {
    return _mm256_shuffle_epi8(load32(rows + HOST_ROW_STRIDE * (row - 4)), low);
}

// Always inline: out of line, a kernel pays a call and a realigned stack
// frame for each step (gcc stops inlining it once four steps call it).
[[gnu::always_inline]] inline __m256i host_text256(__m256i x, const std::uint8_t* rows) noexcept {
    const __m256i low = _mm256_and_si256(x, bytes32(0x0F));
    const __m256i bit4 = _mm256_slli_epi16(x, 3);
    const __m256i bit5 = _mm256_slli_epi16(x, 2);
    const __m256i bit6 = _mm256_add_epi8(x, x);
    auto pick = [&](int row) {
        return _mm256_blendv_epi8(host_row256(rows, row, low), host_row256(rows, row + 1, low), bit4);
    };
    const __m256i r4_7 = _mm256_blendv_epi8(pick(4), pick(6), bit5);
    const __m256i r8_b = _mm256_blendv_epi8(pick(8), pick(10), bit5);
    const __m256i rc_f = _mm256_blendv_epi8(pick(12), pick(14), bit5);
    const __m256i r0_7 = _mm256_blendv_epi8(_mm256_setzero_si256(), r4_7, bit6);
    const __m256i r8_f = _mm256_blendv_epi8(r8_b, rc_f, bit6);
    return _mm256_xor_si256(_mm256_blendv_epi8(r0_7, r8_f, x), bytes32(0x20));
}

// sjis128, sixteen characters at once.
__m256i sjis256(__m256i w) noexcept {
    const __m256i ff = words32(0xFF);
    const __m256i j1 = _mm256_and_si256(w, ff);
    const __m256i j2 = _mm256_srli_epi16(w, 8);
    __m256i m = _mm256_sub_epi16(j1, words32(0x21));
    m = _mm256_sub_epi16(m, _mm256_cmpgt_epi16(_mm256_setzero_si256(), m));
    __m256i lead = _mm256_and_si256(_mm256_add_epi16(_mm256_srai_epi16(m, 1), words32(0x81)), ff);
    lead = _mm256_and_si256(
        _mm256_add_epi16(lead, _mm256_and_si256(_mm256_cmpgt_epi16(lead, words32(0x9F)), words32(0x40))), ff);
    const __m256i odd = _mm256_cmpeq_epi16(_mm256_and_si256(j1, words32(1)), words32(1));
    __m256i trail = _mm256_and_si256(_mm256_add_epi16(j2, _mm256_blendv_epi8(words32(0x7D), words32(0x1F), odd)), ff);
    trail = _mm256_and_si256(_mm256_sub_epi16(trail, _mm256_cmpgt_epi16(trail, words32(0x7E))), ff);
    return _mm256_or_si256(lead, _mm256_slli_epi16(trail, 8));
}

template <PairKind KIND>
__m256i pairs256(__m256i w) noexcept {
    if constexpr (KIND == PairKind::JIS) return sjis256(w);
    const __m256i text = sjis256(_mm256_xor_si256(w, words32(0x8080)));
    if constexpr (KIND == PairKind::KEIS) return text;
    return _mm256_blendv_epi8(text, words32(0x4081), _mm256_cmpeq_epi16(w, words32(0x4040)));
}

// As pairs_from, 16 pairs a step; fewer than 16 go 8 at a time.
template <PairKind KIND>
std::size_t pairs_avx2(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
    if (pairs < 16) return pairs_from<KIND>(in, pairs, out, 0);
    const __m256i last = load32(in + 2 * (pairs - 16));
    std::size_t i = 0;
    for (; i + 16 <= pairs; i += 16) {
        const __m256i text = pairs256<KIND>(load32(in + 2 * i));
        if (zero_lanes32(text) != 0) return pairs_from<KIND>(in, pairs, out, i);
        store32(out + 2 * i, text);
    }
    if (i == pairs) return i;
    const __m256i text = pairs256<KIND>(last);
    if (zero_lanes32(text) != 0) return pairs_from<KIND>(in, pairs, out, i);
    store32(out + 2 * (pairs - 16), text);
    return pairs;
}

template <HostZero ZERO>
std::size_t host_text_avx2(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                           const std::uint8_t* rows) noexcept {
    constexpr bool STOP = ZERO == HostZero::STOP;
    if (n < 8) return 0;
    if (n < 16) return host_text_short<ZERO>(in, n, out, rows);
    if (n < 32) {  // two overlapping halves of 16, both converted before either is written
        const __m128i low = host_text128(load16(in), rows);
        const __m128i high = host_text128(load16(in + n - 16), rows);
        if (STOP && (zero_lanes(low) | zero_lanes(high)) != 0) return 0;
        store16(out, low);
        store16(out + n - 16, high);
        return n;
    }
    const __m256i last = load32(in + n - 32);  // read before any write: out may be in
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i text = host_text256(load32(in + i), rows);
        if (STOP && zero_lanes32(text) != 0) return i;
        store32(out + i, text);
    }
    if (i < n) {
        const __m256i tail = host_text256(last, rows);
        if (STOP && zero_lanes32(tail) != 0) return i;
        store32(out + n - 32, tail);
    }
    return n;
}

// The 256-bit step of host text for the lines.
struct HostText256 {
    static constexpr std::size_t WIDTH = 32;
    template <HostZero ZERO>
    [[gnu::always_inline]] static inline unsigned step(const std::uint8_t* in, std::uint8_t* out,
                                                       const std::uint8_t* rows) noexcept {
        const __m256i text = host_text256(load32(in), rows);
        store32(out, text);
        return ZERO == HostZero::STOP ? zero_lanes32(text) : 0;
    }
};

// Pairs, 16 a step.
struct Pairs256 {
    static constexpr std::size_t PAIRS = 16;
    template <PairKind KIND>
    [[gnu::always_inline]] static inline unsigned step(const std::uint8_t* in, std::uint8_t* out) noexcept {
        const __m256i text = pairs256<KIND>(load32(in));
        store32(out, text);
        return zero_lanes32(text);
    }
};

// A host page's pairs, 16 a step: each code (lead << 8 | trail) gathers four
// bytes from the page's table at twice the code, of which the low two are
// its text, first byte low. Every character of both hosts' pages is two
// bytes there, neither of them 00; a text of one byte (its second byte 00)
// shows as a 00 lane, as does a code without a text.
struct PagePairs256 {
    static constexpr std::size_t PAIRS = 16;
    [[gnu::always_inline]] static inline unsigned step(const std::uint8_t* in, std::uint8_t* out,
                                                       const std::uint16_t* table) noexcept {
        const __m256i w = load32(in);
        const __m256i codes = _mm256_or_si256(_mm256_slli_epi16(w, 8), _mm256_srli_epi16(w, 8));
        const auto* base = reinterpret_cast<const int*>(table);
        const __m256i low = _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(codes)), 2);
        const __m256i high = _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(codes, 1)), 2);
        const __m256i mask = _mm256_set1_epi32(0xFFFF);
        // Eight texts of each half, packed per 128-bit lane and then put in order.
        const __m256i packed = _mm256_packus_epi32(_mm256_and_si256(low, mask), _mm256_and_si256(high, mask));
        const __m256i text = _mm256_permute4x64_epi64(packed, 0xD8);
        store32(out, text);
        return zero_lanes32(text);
    }
};

}  // namespace

std::size_t avx2_host_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                           const std::uint8_t* rows) noexcept {
    return host_text_avx2<HostZero::NEVER>(in, n, out, rows);
}

std::size_t avx2_host_page_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                const std::uint8_t* rows) noexcept {
    return host_text_avx2<HostZero::STOP>(in, n, out, rows);
}

std::size_t avx2_keis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
    return pairs_avx2<PairKind::KEIS>(in, pairs, out);
}

std::size_t avx2_jef_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
    return pairs_avx2<PairKind::JEF>(in, pairs, out);
}

std::size_t avx2_jis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
    return pairs_avx2<PairKind::JIS>(in, pairs, out);
}

std::size_t avx2_find_jef_shift(const std::uint8_t* in, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = load32(in + i);
        const auto hits = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(x, bytes32(0xFE)), bytes32(0x28))));
        if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctz(hits));
    }
    return find_jef_shift_from(in, n, i);
}

std::uint8_t* avx2_lines(const FieldStep* fields, std::size_t field_count, const std::uint8_t* records,
                         std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept {
    return field_lines<HostText128, HostText256, Pairs256, PagePairs256>(fields, field_count, records, record_length,
                                                                         count, out);
}

}  // namespace rekmo
#endif
