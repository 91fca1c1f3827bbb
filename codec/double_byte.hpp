// Helpers shared by the decoders of mixed single- and double-byte text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/ebcdic.hpp"
#include "codec/host_code.hpp"
#include "codec/report.hpp"

namespace rekmo {

// A Pair converts one double-byte character: `pair(a, b, out)` appends 0 to 2
// bytes and returns how many; `pair.report` receives its findings.
// A Pair may also have `pair.bulk(p, pairs, out)`, which converts a prefix of
// many pairs at once with a vector kernel, two bytes each, and returns how
// many it did (0 when it does none, as in a report).

template <class Pair>
std::size_t bulk_pairs(const Pair& pair, const std::uint8_t* p, std::size_t pairs, std::uint8_t* out) noexcept {
    if constexpr (requires { pair.bulk(p, pairs, out); }) {
        return pair.bulk(p, pairs, out);
    } else {
        return 0;
    }
}

// The double-byte run of a mixed item, converted as it grows. Its bytes pair
// up from the start of the run, across shift codes that do not end it: a byte
// left over at the end of one stretch pairs with the first byte of the next.
template <class Pair>
class PairedRun {
public:
    explicit PairedRun(Pair pair) noexcept : pair_(pair) {}
    // Appends the pairs of `len` more run bytes at out + o; returns the new o.
    std::size_t add(const std::uint8_t* p, std::size_t len, std::uint8_t* out, std::size_t o) noexcept {
        if (half_ && len > 0) {
            o += pair_(first_, *p++, out + o);
            --len;
            half_ = false;
        }
        const std::size_t done = bulk_pairs(pair_, p, len / 2, out + o);
        p += 2 * done;
        len -= 2 * done;
        o += 2 * done;
        for (; len >= 2; p += 2, len -= 2) o += pair_(p[0], p[1], out + o);
        if (len > 0) {
            first_ = *p;
            half_ = true;
        }
        return o;
    }
    // Ends the run: a lone byte left in it is dropped.
    void close() noexcept {
        if (half_) pair_.report.note(FINDING_LONE_BYTE);
        half_ = false;
    }

private:
    Pair pair_;
    bool half_ = false;  // the run holds the first byte of a pair
    std::uint8_t first_ = 0;
};

// Double-byte-only text (KN, FN): pairs from the start while both bytes lie
// within the item; an odd last byte is ignored.
template <class Pair>
std::size_t decode_pairs(std::span<const std::uint8_t> item, std::uint8_t* out, Pair pair) noexcept {
    std::size_t j = 2 * bulk_pairs(pair, item.data(), item.size() / 2, out);
    std::size_t o = j;
    for (; j + 1 < item.size(); j += 2) o += pair(item[j], item[j + 1], out + o);
    if (item.size() % 2 != 0) pair.report.note(FINDING_LONE_BYTE);
    return o;
}

// The single-byte stretches of the default decoders: the fixed table.
template <class Report>
struct DefaultSingle {
    Report& report;
    const VectorKernels& kernels;
    std::size_t operator()(std::span<const std::uint8_t> in, std::uint8_t* out) const noexcept {
        if (in.empty()) return 0;  // a shift code right after another
        note_host_spaces(in, report);
        return ebcdic_to_jis8(in, out, kernels);
    }
};

// Single-byte stretches and double-byte characters through a host code page.
struct HostSingle {
    const HostSingleByte& page;
    std::size_t operator()(std::span<const std::uint8_t> in, std::uint8_t* out) const noexcept {
        return in.empty() ? 0 : host_single_to_sjis(in, out, page);
    }
};

template <class Report>
struct HostPair {
    Report& report;
    const HostDoubleByte& pairs;
    std::size_t operator()(std::uint8_t a, std::uint8_t b, std::uint8_t* out) const noexcept {
        const HostText text = pairs.rows[a][b];
        // 〓 for a code with no character; A2AE is 〓 itself in both hosts' codes.
        if constexpr (Report::ACTIVE) {
            if (text == HOST_TEXT_GETA && !(a == 0xA2 && b == 0xAE)) report.note(FINDING_UNASSIGNED);
        }
        return append_host_text(text, out);
    }
};

// The position of the first `byte` in [p, end), or end. Shift codes come
// every few bytes, so this runs inline: 16 bytes a step where the processor
// has SSE2 (every x86-64 has), the last step overlapping the one before.
inline const std::uint8_t* find_byte(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t byte) noexcept {
#if defined(__SSE2__)
    if (end - p >= 16) {
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
        auto hits = [&](const std::uint8_t* at) {
            return static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), wanted)));
        };
        for (; end - p >= 16; p += 16) {
            if (const unsigned found = hits(p)) return p + __builtin_ctz(found);
        }
        if (p == end) return end;
        // The last 16 bytes, of which those before p were looked at already.
        const unsigned found = hits(end - 16) >> (16 - (end - p));
        return found != 0 ? p + __builtin_ctz(found) : end;
    }
#endif
    while (p < end && *p != byte) ++p;
    return p;
}

}  // namespace rekmo
