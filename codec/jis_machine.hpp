// 7-bit JIS text (J items), one machine over steps (codec/steps.hpp):
// single-byte characters, and JIS X 0208 characters between escape
// sequences:
//
//   1B 24 42  ESC $ B   into double-byte mode; the pending run is emptied
//   1B 28 4A  ESC ( J   convert the pending run, back to single-byte mode
//   1B 28 48  ESC ( H   the same
//
// Deliberate oddities:
//   - the item ends at its first 00 byte;
//   - ESC ( B is not a return: its three bytes are ordinary, so in
//     double-byte mode they join the run;
//   - an escape sequence counts only when all three bytes lie inside the
//     text: an ESC in the last two bytes is an ordinary byte;
//   - a run never closed by ESC ( J or ESC ( H is dropped, and so is a lone
//     byte left at the end of a converted run;
//   - a character whose Shift_JIS code holds a 00 byte (from out-of-range
//     bytes, e.g. 30 82 -> 88 00) ends the whole text after the bytes before
//     that 00;
//   - single-byte characters are copied as they are, 8-bit bytes included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/cp932_machine.hpp"
#include "codec/double_byte.hpp"
#include "codec/jis0208.hpp"
#include "codec/report.hpp"
#include "codec/steps.hpp"

namespace rekmo {
namespace {

constexpr std::uint8_t JIS_ESC = 0x1B;
constexpr std::uint8_t JIS_DOLLAR = 0x24;      // ESC $ B
constexpr std::uint8_t JIS_OPEN_PAREN = 0x28;  // ESC ( J, ESC ( H
constexpr std::uint8_t JIS_FINAL_B = 0x42;
constexpr std::uint8_t JIS_FINAL_H = 0x48;
constexpr std::uint8_t JIS_FINAL_J = 0x4A;

// Zero bytes that only pad the item lose nothing; any other byte after the
// first zero is data the text never reaches.
inline bool data_after(const std::uint8_t* from, const std::uint8_t* end) noexcept {
    for (; from < end; ++from) {
        if (*from != 0) return true;
    }
    return false;
}

// A pair's text as the machine's Text writes it, and whether its Shift_JIS
// code was whole (one that holds a 00 byte ends the text).
struct JisPairText {
    std::size_t written;
    bool whole;
};

// What decode_jis writes: the Shift_JIS text as it is.
template <class S>
struct JisSjisText {
    std::size_t single(const std::uint8_t* p, std::size_t n, std::uint8_t* out) const noexcept {
        S::copy(p, n, out);
        return n;
    }
    BulkDone bulk(const std::uint8_t* run, std::size_t pairs, std::uint8_t* out) const noexcept {
        const std::size_t done = S::template pairs<PairKind::JIS>(run, pairs, out);
        return {done, 2 * done};
    }
    JisPairText pair(std::uint8_t j1, std::uint8_t j2, std::uint8_t* out) const noexcept {
        const std::size_t added = append_sjis(j1, j2, out);
        return {added, added == 2};
    }
};

// The same text decoded as code page 932, in UTF-8, in one pass (CSV=UTF8).
// Where the Shift_JIS text would decode across the parts the machine writes
// (a single-byte stretch that ends in a lead byte, a pair's code that is no
// whole code page 932 pair) it sets `unsure`, and the caller decodes the
// Shift_JIS text instead.
template <class S>
struct JisUtf8Text {
    bool& unsure;
    std::size_t single(const std::uint8_t* p, std::size_t n, std::uint8_t* out) const noexcept {
        if (n == 0) return 0;
        if (is_cp932_lead(p[n - 1])) unsure = true;
        return cp932_utf8_text<S>(p, n, out);
    }
    BulkDone bulk(const std::uint8_t* run, std::size_t pairs, std::uint8_t* out) const noexcept {
        const Utf8Done done = S::template host_pairs_utf8<PairKind::JIS>(run, pairs, out);
        return {done.read / 2, done.written};
    }
    JisPairText pair(std::uint8_t j1, std::uint8_t j2, std::uint8_t* out) const noexcept {
        std::uint8_t sjis[2];
        const std::size_t added = append_sjis(j1, j2, sjis);
        const std::size_t written = whole_pair_utf8(sjis, added, out);
        if (written == 0) unsure = true;
        return {written, added == 2};
    }
};

template <class S, class Report, class Text = JisSjisText<S>>
std::size_t decode_jis(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report, Text text = {}) noexcept {
    enum class Mode { SINGLE_BYTE, DOUBLE_BYTE };
    const std::uint8_t* const begin = item.data();
    const std::uint8_t* const end = S::find_byte(begin, begin + item.size(), 0);  // the text ends at a zero byte
    if constexpr (Report::ACTIVE) {
        if (end < begin + item.size() && data_after(end + 1, begin + item.size())) report.note(FINDING_ZERO_BYTE);
    }
    Mode mode = Mode::SINGLE_BYTE;
    const std::uint8_t* run = begin;  // in double-byte mode the run is [run, p)
    std::size_t o = 0;
    const std::uint8_t* p = begin;
    while (p < end) {
        // Up to the next ESC every byte is ordinary: copied in single-byte
        // mode, left in the run in double-byte mode.
        const std::uint8_t* esc = S::find_byte(p, end, JIS_ESC);
        if (mode == Mode::SINGLE_BYTE) o += text.single(p, static_cast<std::size_t>(esc - p), out + o);
        if (esc == end) break;
        p = esc + 1;
        if (end - esc < 3) {  // too close to the end to be a sequence
            if (mode == Mode::SINGLE_BYTE) out[o++] = JIS_ESC;
            continue;
        }
        if (esc[1] == JIS_DOLLAR && esc[2] == JIS_FINAL_B) {
            mode = Mode::DOUBLE_BYTE;
            p = run = esc + 3;
        } else if (esc[1] == JIS_OPEN_PAREN && (esc[2] == JIS_FINAL_H || esc[2] == JIS_FINAL_J)) {
            if (mode == Mode::DOUBLE_BYTE) {
                const BulkDone done = text.bulk(run, static_cast<std::size_t>(esc - run) / 2, out + o);
                o += done.written;
                for (const std::uint8_t* pair = run + 2 * done.pairs; pair + 1 < esc; pair += 2) {
                    const JisPairText added = text.pair(pair[0], pair[1], out + o);
                    note_jis_char(report, pair[0], pair[1], added.whole ? 2 : 0);
                    o += added.written;
                    if (!added.whole) return o;  // a 00 byte ends the text
                }
                if ((esc - run) % 2 != 0) report.note(FINDING_LONE_BYTE);
            }
            mode = Mode::SINGLE_BYTE;
            p = esc + 3;
        } else if (mode == Mode::SINGLE_BYTE) {
            out[o++] = JIS_ESC;  // an ESC that starts no sequence is ordinary
        } else if (esc[1] == JIS_OPEN_PAREN && esc[2] == JIS_FINAL_B) {
            report.note(FINDING_ESC_B);
        }
    }
    if (mode == Mode::DOUBLE_BYTE && run < end) report.note(FINDING_UNCLOSED_RUN);
    return o;
}

// The J decoder over the steps S, without a report.
template <class S>
std::size_t jis_text(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    NoReport quiet;
    return decode_jis<S>(item, out, quiet);
}

// The same in UTF-8 (JisUtf8Text), in one pass unless `unsure` is set.
// `out` must not overlap the item.
template <class S>
std::size_t jis_cp932_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out, bool& unsure) noexcept {
    NoReport quiet;
    return decode_jis<S>(item, out, quiet, JisUtf8Text<S>{unsure});
}

}  // namespace
}  // namespace rekmo
