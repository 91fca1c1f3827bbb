// Helpers shared by the decoders of mixed single- and double-byte text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "codec/report.hpp"

namespace rekmo {

// A Pair converts one double-byte character: `pair(a, b, out)` appends 0 to 2
// bytes and returns how many; `pair.report` receives its findings.
// `pair.bulk(p, pairs, out)` converts a prefix of many pairs at once with a
// vector kernel, two bytes each, and returns how many it did (0 when it does
// none, as in a report).

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
        const std::size_t done = pair_.bulk(p, len / 2, out + o);
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
    std::size_t j = 2 * pair.bulk(item.data(), item.size() / 2, out);
    std::size_t o = j;
    for (; j + 1 < item.size(); j += 2) o += pair(item[j], item[j + 1], out + o);
    if (item.size() % 2 != 0) pair.report.note(FINDING_LONE_BYTE);
    return o;
}

// The position of the first `byte` in [p, end), or end.
inline const std::uint8_t* find_byte(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t byte) noexcept {
    const void* hit = p < end ? std::memchr(p, byte, static_cast<std::size_t>(end - p)) : nullptr;
    return hit != nullptr ? static_cast<const std::uint8_t*>(hit) : end;
}

}  // namespace rekmo
