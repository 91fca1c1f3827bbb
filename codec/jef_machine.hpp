// JEF text (F, FN items), one machine over steps (codec/steps.hpp). A
// double-byte character is the JIS X 0208 row and cell with the high bit set
// (A1-FE each); the double-byte space is 40 40.
// In F items double-byte stretches stand between one-byte shift codes and the
// rest is host single-byte code:
//
//   28   into double-byte mode, in either mode (the pending run is kept)
//   29   in double-byte mode: convert the pending run, back to single-byte
//
// Deliberate oddities:
//   - 29 in single-byte mode is an ordinary byte: it becomes a space;
//   - a run never closed by 29 is dropped, and so is a lone byte left in a
//     closed run; a second 28 keeps the characters collected so far;
//   - 40 40 becomes the ideographic space 81 40; any other pair goes through
//     the JIS mapping, even when it is no JEF character (41 41 gives 11 E1);
//   - a character whose Shift_JIS code holds a 00 byte contributes the bytes
//     before it and the text goes on;
//   - FN items are pairs from the start; an odd last byte is ignored.
//
// With a host code page (HOSTCODE=JEF) the shift codes and runs work the
// same, but every pair and every single byte is looked up in the page's
// tables: 40 40 is the page's space there, and a single byte may give two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/double_byte.hpp"
#include "codec/host_code.hpp"
#include "codec/jis0208.hpp"
#include "codec/report.hpp"
#include "codec/steps.hpp"

namespace rekmo {
namespace {

constexpr std::uint8_t JEF_SPACE = 0x40;  // 40 40: the double-byte space
constexpr std::uint8_t SJIS_IDEOGRAPHIC_SPACE[2] = {0x81, 0x40};

template <class S, class Report>
struct JefPair {
    Report& report;
    std::size_t operator()(std::uint8_t a, std::uint8_t b, std::uint8_t* out) const noexcept {
        if constexpr (Report::ACTIVE) {
            const unsigned code = unsigned{a} << 8 | b;
            if (in_code_set(ORDERING_1978_JEF, code)) report.note(FINDING_JEF_1978);
            if (in_code_set(JEF_EXTENDED, code)) report.note(FINDING_JEF_EXTENDED);
            if (jef_user_defined(a, b)) report.note(FINDING_GAIJI);
        }
        if (a == JEF_SPACE && b == JEF_SPACE) {
            out[0] = SJIS_IDEOGRAPHIC_SPACE[0];
            out[1] = SJIS_IDEOGRAPHIC_SPACE[1];
            return 2;
        }
        return append_host_char(a, b, out, report);
    }
    BulkDone bulk(const std::uint8_t* p, std::size_t pairs, std::uint8_t* out) const noexcept {
        const std::size_t done = S::template pairs<PairKind::JEF>(p, pairs, out);
        return {done, 2 * done};
    }
};

template <class S, class Report, class Pair, class Single>
std::size_t decode_jef(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report, Pair pair,
                       Single single) noexcept {
    enum class Mode { SINGLE_BYTE, DOUBLE_BYTE };
    // In single-byte mode only 28 is a shift code; in double-byte mode 28 and
    // 29 are. The run is converted as it grows, straight into `out`;
    // run_start marks where its text began, so that an unclosed run can be
    // taken back.
    const std::uint8_t* p = item.data();
    const std::uint8_t* const end = p + item.size();
    Mode mode = Mode::SINGLE_BYTE;
    std::size_t o = 0;
    std::size_t run_start = 0;
    bool run_has_bytes = false;  // only kept for a report
    PairedRun run(pair);
    while (p < end) {
        if (mode == Mode::SINGLE_BYTE) {
            const std::uint8_t* shift = S::find_byte(p, end, JEF_SHIFT_IN);
            const auto len = static_cast<std::size_t>(shift - p);
            o += single({p, len}, out + o);
            if (shift == end) break;
            mode = Mode::DOUBLE_BYTE;
            run_start = o;
            run_has_bytes = false;
            p = shift + 1;
            continue;
        }
        const std::uint8_t* shift = S::find_jef_shift(p, end);  // 28 or 29
        o = run.add(p, static_cast<std::size_t>(shift - p), out, o);
        if constexpr (Report::ACTIVE) run_has_bytes = run_has_bytes || shift > p;
        if (shift == end) break;
        if (*shift == JEF_SHIFT_OUT) {
            mode = Mode::SINGLE_BYTE;
            run.close();
        }
        p = shift + 1;
    }
    if (mode == Mode::SINGLE_BYTE) return o;
    if (run_has_bytes) report.note(FINDING_UNCLOSED_RUN);
    return run_start;
}

// F and FN, through the default tables or the JEF page, over the steps S.
template <class S, class Report>
std::size_t jef_text(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report) noexcept {
    return decode_jef<S>(item, out, report, JefPair<S, Report>{report}, DefaultSingle<S, Report>{report});
}

template <class S, class Report>
[[gnu::always_inline]] inline std::size_t jef_n_text(std::span<const std::uint8_t> item, std::uint8_t* out,
                                                     Report& report) noexcept {
    return decode_pairs(item, out, JefPair<S, Report>{report});
}

template <class S, class Report>
std::size_t jef_page_text(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                          Report& report) noexcept {
    return decode_jef<S>(item, out, report, HostPair<S, Report>{report, page}, HostSingle<S, Report>{report, page});
}

template <class S, class Report>
[[gnu::always_inline]] inline std::size_t jef_n_page_text(std::span<const std::uint8_t> item, std::uint8_t* out,
                                                          const HostCodePage& page, Report& report) noexcept {
    return decode_pairs(item, out, HostPair<S, Report>{report, page});
}

// The same through a UTF-8 page, one character at a time.
template <class S, class Report>
std::size_t jef_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                          Report& report) noexcept {
    return decode_jef<S>(item, out, report, Utf8Pair<Report>{report, page}, Utf8Single{page});
}

template <class S, class Report>
std::size_t jef_n_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                            Report& report) noexcept {
    return decode_pairs(item, out, Utf8Pair<Report>{report, page});
}

// The same through the default tables in UTF-8 (CSV=UTF8), in one pass:
// the code page 932 decoding of jef_text's text, unless `unsure` is set
// (Cp932Utf8Pair), when the caller decodes that text instead. `out` must
// not overlap the item.
template <class S, class Report>
std::size_t jef_cp932_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report,
                                bool& unsure) noexcept {
    return decode_jef<S>(item, out, report, Cp932Utf8Pair<S, Report, PairKind::JEF, JefPair<S, Report>>{report, unsure},
                         DefaultUtf8Single<S, Report>{report});
}

template <class S, class Report>
[[gnu::always_inline]] inline std::size_t jef_n_cp932_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out,
                                                                Report& report, bool& unsure) noexcept {
    return decode_pairs(item, out, Cp932Utf8Pair<S, Report, PairKind::JEF, JefPair<S, Report>>{report, unsure});
}

}  // namespace
}  // namespace rekmo
