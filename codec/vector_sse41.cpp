// The SSE4.1 kernels: 16 bytes at a time. Built with -msse4.1; called only
// on processors that have it.
#include "codec/vector_x86.hpp"

#if REKMO_VECTOR_X86
#include "codec/vector_x86_128.hpp"

namespace rekmo {

using namespace x86;

namespace {

template <HostZero ZERO>
std::size_t host_text_sse41(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            const std::uint8_t* rows) noexcept {
    constexpr bool STOP = ZERO == HostZero::STOP;
    if (n < 8) return 0;
    if (n < 16) return host_text_short<ZERO>(in, n, out, rows);
    const __m128i last = load16(in + n - 16);  // read before any write: out may be in
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i text = host_text128(load16(in + i), rows);
        if (STOP && zero_lanes(text) != 0) return i;
        store16(out + i, text);
    }
    if (i < n) {
        const __m128i tail = host_text128(last, rows);
        if (STOP && zero_lanes(tail) != 0) return i;
        store16(out + n - 16, tail);
    }
    return n;
}

}  // namespace

std::size_t sse41_host_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            const std::uint8_t* rows) noexcept {
    return host_text_sse41<HostZero::NEVER>(in, n, out, rows);
}

std::size_t sse41_host_page_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                 const std::uint8_t* rows) noexcept {
    return host_text_sse41<HostZero::STOP>(in, n, out, rows);
}

std::size_t sse41_keis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
    return pairs_from<PairKind::KEIS>(in, pairs, out, 0);
}

std::size_t sse41_jef_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
    return pairs_from<PairKind::JEF>(in, pairs, out, 0);
}

std::size_t sse41_jis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept {
    return pairs_from<PairKind::JIS>(in, pairs, out, 0);
}

std::size_t sse41_packed_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    return packed_text128(in, n, out);
}

std::size_t sse41_zoned_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
    return zoned_text128(in, n, out);
}

std::size_t sse41_find_jef_shift(const std::uint8_t* in, std::size_t n) noexcept {
    return find_jef_shift_from(in, n, 0);
}

std::uint8_t* sse41_lines(const FieldStep* fields, std::size_t field_count, const std::uint8_t* records,
                          std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept {
    return field_lines<HostText128, HostText128, Pairs128, NoPagePairs>(fields, field_count, records, record_length,
                                                                        count, out);
}

}  // namespace rekmo
#endif
