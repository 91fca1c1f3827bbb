// The parts the machines of mixed single- and double-byte text share: the
// double-byte run, double-byte-only items, and the single-byte stretches
// and characters of the default tables and of a host page, each over the
// steps S (codec/steps.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/cp932_machine.hpp"
#include "codec/ebcdic_machine.hpp"
#include "codec/host_code.hpp"
#include "codec/report.hpp"
#include "codec/steps.hpp"

namespace rekmo {
namespace {

// A Pair converts one double-byte character: `pair(a, b, out)` appends 0 to 2
// bytes (a UTF-8 Pair: 0 to 4) and returns how many; `pair.report` receives
// its findings, and `pair.bulk(p, pairs, out)` converts a prefix of many
// pairs at once through the steps and returns the pairs done and the bytes
// written.
struct BulkDone {
    std::size_t pairs;
    std::size_t written;
};

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
        const BulkDone done = pair_.bulk(p, len / 2, out + o);
        p += 2 * done.pairs;
        len -= 2 * done.pairs;
        o += done.written;
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
// within the item; an odd last byte is ignored. Always inline, with the KN
// and FN forms over it: the record lines take those items in their loop,
// and the compiler's own choice there changes with the size of the rest of
// the program.
template <class Pair>
[[gnu::always_inline]] inline std::size_t decode_pairs(std::span<const std::uint8_t> item, std::uint8_t* out,
                                                       Pair pair) noexcept {
    const BulkDone done = pair.bulk(item.data(), item.size() / 2, out);
    std::size_t j = 2 * done.pairs;
    std::size_t o = done.written;
    for (; j + 1 < item.size(); j += 2) o += pair(item[j], item[j + 1], out + o);
    if (item.size() % 2 != 0) pair.report.note(FINDING_LONE_BYTE);
    return o;
}

// The single-byte stretches of the default decoders: the fixed table.
template <class S, class Report>
struct DefaultSingle {
    Report& report;
    std::size_t operator()(std::span<const std::uint8_t> in, std::uint8_t* out) const noexcept {
        if (in.empty()) return 0;  // a shift code right after another
        note_host_spaces(in, report);
        return ebcdic_text<S>(in.data(), in.size(), out);
    }
};

// Single-byte stretches and double-byte characters through a host code page.
template <class S, class Report>
struct HostSingle {
    Report& report;
    const HostCodePage& page;
    std::size_t operator()(std::span<const std::uint8_t> in, std::uint8_t* out) const noexcept {
        if (in.empty()) return 0;
        note_lost_singles(in, page.lost_singles, report);
        return page_single_text<S>(in.data(), in.size(), out, page.single);
    }
};

template <class S, class Report>
struct HostPair {
    Report& report;
    const HostCodePage& page;
    std::size_t operator()(std::uint8_t a, std::uint8_t b, std::uint8_t* out) const noexcept {
        const HostText text = page.pairs.rows[a][b];
        // 〓 for a code with no character (A2AE is 〓 itself in both hosts'
        // codes); a character the Shift_JIS text does not hold is a loss.
        if constexpr (Report::ACTIVE) {
            if (in_code_set(page.gaiji, unsigned{a} << 8 | b)) {
                report.note(FINDING_GAIJI);
            } else if (in_code_set(page.lost_pairs, unsigned{a} << 8 | b)) {
                report.note(FINDING_CP932_LOSS);
            } else if (text == HOST_TEXT_GETA && !(a == 0xA2 && b == 0xAE)) {
                report.note(FINDING_UNASSIGNED);
            }
            if (page.pair_notes != nullptr) report.note(static_cast<Finding>(page.pair_notes[unsigned{a} << 8 | b]));
        }
        return append_host_text(text, out);
    }
    BulkDone bulk(const std::uint8_t* p, std::size_t pairs, std::uint8_t* out) const noexcept {
        const std::size_t done = S::page_pairs(p, pairs, out, page.table.data());
        return {done, 2 * done};
    }
};

// The same through a UTF-8 page (CSV=UTF8 with HOSTCODE=): each byte and
// each pair gives the table's own character. No bulk step: a pair's text has
// no fixed width.
struct Utf8Single {
    const HostUtf8Page& page;
    std::size_t operator()(std::span<const std::uint8_t> in, std::uint8_t* out) const noexcept {
        std::size_t o = 0;
        for (const std::uint8_t b : in) o += append_page_utf8(page, page.single.text[b], out + o);
        return o;
    }
};

template <class Report>
struct Utf8Pair {
    Report& report;
    const HostUtf8Page& page;
    std::size_t operator()(std::uint8_t a, std::uint8_t b, std::uint8_t* out) const noexcept {
        const HostUtf8 text = page.pairs.rows[a][b];
        if constexpr (Report::ACTIVE) {
            if (in_code_set(page.gaiji, unsigned{a} << 8 | b)) {
                report.note(FINDING_GAIJI);
            } else if (text == HOST_UTF8_GETA && !(a == 0xA2 && b == 0xAE)) {
                report.note(FINDING_UNASSIGNED);
            }
            if (page.pair_notes != nullptr) report.note(static_cast<Finding>(page.pair_notes[unsigned{a} << 8 | b]));
        }
        return append_page_utf8(page, text, out);
    }
    BulkDone bulk(const std::uint8_t*, std::size_t, std::uint8_t*) const noexcept { return {0, 0}; }
};

// The default tables in UTF-8 (CSV=UTF8 without HOSTCODE): the code page
// 932 decoding of the Shift_JIS text, written in one pass. Single-byte
// stretches straight from the host bytes (ebcdic_utf8_text).
template <class S, class Report>
struct DefaultUtf8Single {
    Report& report;
    std::size_t operator()(std::span<const std::uint8_t> in, std::uint8_t* out) const noexcept {
        if (in.empty()) return 0;
        note_host_spaces(in, report);
        return ebcdic_utf8_text<S>(in.data(), in.size(), out);
    }
};

// A pair through the default Pair `Inner` (KeisPair, JefPair), its Shift_JIS
// code then decoded as code page 932: a character, or 〓 for a pair without
// one. A text that is not one whole code page 932 pair (fewer than two
// bytes, where the code's Shift_JIS holds 00, or bytes out of a lead's or a
// trail's range) would decode together with its neighbours' bytes: it sets
// `unsure`, and the caller converts the item again through its Shift_JIS
// text. The bulk step takes pairs whose characters take three bytes.
template <class S, class Report, PairKind KIND, class Inner>
struct Cp932Utf8Pair {
    Report& report;
    bool& unsure;
    std::size_t operator()(std::uint8_t a, std::uint8_t b, std::uint8_t* out) const noexcept {
        std::uint8_t sjis[2];
        const std::size_t written = whole_pair_utf8(sjis, Inner{report}(a, b, sjis), out);
        if (written == 0) unsure = true;
        return written;
    }
    BulkDone bulk(const std::uint8_t* p, std::size_t pairs, std::uint8_t* out) const noexcept {
        const Utf8Done done = S::template host_pairs_utf8<KIND>(p, pairs, out);
        return {done.read / 2, done.written};
    }
};

}  // namespace
}  // namespace rekmo
