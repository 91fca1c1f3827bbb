// KEIS text (K, KN items), one machine over steps (codec/steps.hpp). A
// double-byte character is the JIS X 0208 row and cell with the high bit set
// (A1-FE each). In K items double-byte stretches stand between two-byte
// shift codes and the rest is host single-byte code:
//
//   0A 42   into double-byte mode (the pending run is kept, not emptied)
//   0A 41   convert the pending run, back to single-byte mode
//
// Deliberate oddities:
//   - 0A followed by any other byte, and a 0A as the last byte, are ordinary
//     bytes (a space in single-byte text);
//   - 0A 41 in single-byte mode is consumed and produces nothing;
//   - a run never closed by 0A 41 is dropped, and so is a lone byte left in
//     a closed run; a second 0A 42 keeps the characters collected so far;
//   - a character whose Shift_JIS code holds a 00 byte contributes the bytes
//     before it and the text goes on (B0 02 gives 88 alone);
//   - KN items are pairs from the start; an odd last byte is ignored.
//
// With a host code page (HOSTCODE=KEIS78 or KEIS83) the shift codes and runs
// work the same, but every pair and every single byte is looked up in the
// page's tables: 40 40 is the ideographic space there, and a single byte may
// give two.
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

constexpr std::uint8_t KEIS_SHIFT_PREFIX = 0x0A;
constexpr std::uint8_t KEIS_SHIFT_IN = 0x42;   // after 0A: into double-byte
constexpr std::uint8_t KEIS_SHIFT_OUT = 0x41;  // after 0A: back to single-byte
constexpr std::uint8_t KEIS_SPACE = 0x40;      // 40 40: the hosts' double-byte space, 10 3D here

template <class S, class Report>
struct KeisPair {
    Report& report;
    std::size_t operator()(std::uint8_t a, std::uint8_t b, std::uint8_t* out) const noexcept {
        if constexpr (Report::ACTIVE) {
            if (in_code_set(ORDERING_1978_KEIS, unsigned{a} << 8 | b)) report.note(FINDING_KEIS_1978);
            if (a == KEIS_SPACE && b == KEIS_SPACE) report.note(FINDING_KEIS_SPACE);
            if (keis_user_defined(a, b)) report.note(FINDING_GAIJI);
        }
        return append_host_char(a, b, out, report);
    }
    BulkDone bulk(const std::uint8_t* p, std::size_t pairs, std::uint8_t* out) const noexcept {
        const std::size_t done = S::template pairs<PairKind::KEIS>(p, pairs, out);
        return {done, 2 * done};
    }
};

template <class S, class Report, class Pair, class Single>
std::size_t decode_keis(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report, Pair pair,
                        Single single) noexcept {
    enum class Mode { SINGLE_BYTE, DOUBLE_BYTE };
    // Stretches between 0A bytes are ordinary bytes of the current mode. The
    // run is converted as it grows, straight into `out`; run_start marks
    // where its text began, so that an unclosed run can be taken back.
    const std::uint8_t* p = item.data();
    const std::uint8_t* const end = p + item.size();
    Mode mode = Mode::SINGLE_BYTE;
    std::size_t o = 0;
    std::size_t run_start = 0;
    bool run_has_bytes = false;  // only kept for a report
    PairedRun run(pair);
    auto ordinary = [&](const std::uint8_t* from, std::size_t len) {
        if (mode == Mode::SINGLE_BYTE) {
            o += single({from, len}, out + o);
        } else {
            o = run.add(from, len, out, o);
            if constexpr (Report::ACTIVE) run_has_bytes = run_has_bytes || len > 0;
        }
    };
    while (p < end) {
        const std::uint8_t* prefix = S::find_byte(p, end, KEIS_SHIFT_PREFIX);
        ordinary(p, static_cast<std::size_t>(prefix - p));
        if (prefix == end) break;
        const bool shift = prefix + 1 < end && (prefix[1] == KEIS_SHIFT_IN || prefix[1] == KEIS_SHIFT_OUT);
        if (!shift) {  // 0A before any other byte, or as the last byte
            ordinary(prefix, 1);
            p = prefix + 1;
            continue;
        }
        if (prefix[1] == KEIS_SHIFT_IN && mode == Mode::SINGLE_BYTE) {
            mode = Mode::DOUBLE_BYTE;
            run_start = o;
            run_has_bytes = false;
        } else if (prefix[1] == KEIS_SHIFT_OUT) {
            mode = Mode::SINGLE_BYTE;
            run.close();
        }
        p = prefix + 2;
    }
    if (mode == Mode::SINGLE_BYTE) return o;
    if (run_has_bytes) report.note(FINDING_UNCLOSED_RUN);
    return run_start;
}

// K and KN, through the default tables or a KEIS page, over the steps S.
template <class S, class Report>
std::size_t keis_text(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report) noexcept {
    return decode_keis<S>(item, out, report, KeisPair<S, Report>{report}, DefaultSingle<S, Report>{report});
}

template <class S, class Report>
[[gnu::always_inline]] inline std::size_t keis_n_text(std::span<const std::uint8_t> item, std::uint8_t* out,
                                                      Report& report) noexcept {
    return decode_pairs(item, out, KeisPair<S, Report>{report});
}

template <class S, class Report>
std::size_t keis_page_text(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                           Report& report) noexcept {
    return decode_keis<S>(item, out, report, HostPair<S, Report>{report, page}, HostSingle<S, Report>{report, page});
}

template <class S, class Report>
[[gnu::always_inline]] inline std::size_t keis_n_page_text(std::span<const std::uint8_t> item, std::uint8_t* out,
                                                           const HostCodePage& page, Report& report) noexcept {
    return decode_pairs(item, out, HostPair<S, Report>{report, page});
}

// The same through a UTF-8 page, one character at a time.
template <class S, class Report>
std::size_t keis_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                           Report& report) noexcept {
    return decode_keis<S>(item, out, report, Utf8Pair<Report>{report, page}, Utf8Single{page});
}

template <class S, class Report>
std::size_t keis_n_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                             Report& report) noexcept {
    return decode_pairs(item, out, Utf8Pair<Report>{report, page});
}

// The same through the default tables in UTF-8 (CSV=UTF8), in one pass:
// the code page 932 decoding of keis_text's text, unless `unsure` is set
// (Cp932Utf8Pair), when the caller decodes that text instead. `out` must
// not overlap the item.
template <class S, class Report>
std::size_t keis_cp932_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report,
                                 bool& unsure) noexcept {
    return decode_keis<S>(item, out, report,
                          Cp932Utf8Pair<S, Report, PairKind::KEIS, KeisPair<S, Report>>{report, unsure},
                          DefaultUtf8Single<S, Report>{report});
}

template <class S, class Report>
[[gnu::always_inline]] inline std::size_t keis_n_cp932_utf8_text(std::span<const std::uint8_t> item, std::uint8_t* out,
                                                                 Report& report, bool& unsure) noexcept {
    return decode_pairs(item, out, Cp932Utf8Pair<S, Report, PairKind::KEIS, KeisPair<S, Report>>{report, unsure});
}

}  // namespace
}  // namespace rekmo
