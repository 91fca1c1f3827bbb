// JEF text (F, FN items). A double-byte character is the JIS X 0208 row and
// cell with the high bit set (A1-FE each); the double-byte space is 40 40.
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
#include "codec/jef.hpp"

#include "codec/double_byte.hpp"
#include "codec/ebcdic.hpp"
#include "codec/jis0208.hpp"

namespace rekmo {
namespace {

constexpr std::uint8_t SHIFT_IN = 0x28;   // into double-byte
constexpr std::uint8_t SHIFT_OUT = 0x29;  // back to single-byte
static_assert((SHIFT_OUT & 0xFE) == SHIFT_IN, "28 and 29 differ in the lowest bit only");
constexpr std::uint8_t JEF_SPACE = 0x40;  // 40 40: the double-byte space
constexpr std::uint8_t SJIS_IDEOGRAPHIC_SPACE[2] = {0x81, 0x40};

enum class Mode { SINGLE_BYTE, DOUBLE_BYTE };

template <class Report>
struct JefPair {
    Report& report;
    const VectorKernels& kernels;
    std::size_t operator()(std::uint8_t a, std::uint8_t b, std::uint8_t* out) const noexcept {
        if constexpr (Report::ACTIVE) {
            const unsigned code = unsigned{a} << 8 | b;
            if (in_code_set(ORDERING_1978_JEF, code)) report.note(FINDING_JEF_1978);
            if (in_code_set(JEF_EXTENDED, code)) report.note(FINDING_JEF_EXTENDED);
        }
        if (a == JEF_SPACE && b == JEF_SPACE) {
            out[0] = SJIS_IDEOGRAPHIC_SPACE[0];
            out[1] = SJIS_IDEOGRAPHIC_SPACE[1];
            return 2;
        }
        return append_host_char(a, b, out, report);
    }
    std::size_t bulk(const std::uint8_t* p, std::size_t pairs, std::uint8_t* out) const noexcept {
        return kernels.jef_pairs(p, pairs, out);
    }
};

template <class Report, class Pair, class Single>
std::size_t decode_mixed(std::span<const std::uint8_t> item, std::uint8_t* out, Report& report, Pair pair,
                         Single single, const VectorKernels& kernels) noexcept {
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
            const std::uint8_t* shift = find_byte(p, end, SHIFT_IN);
            const auto len = static_cast<std::size_t>(shift - p);
            o += single({p, len}, out + o);
            if (shift == end) break;
            mode = Mode::DOUBLE_BYTE;
            run_start = o;
            run_has_bytes = false;
            p = shift + 1;
            continue;
        }
        const std::uint8_t* shift = p + kernels.find_jef_shift(p, static_cast<std::size_t>(end - p));  // 28 or 29
        o = run.add(p, static_cast<std::size_t>(shift - p), out, o);
        if constexpr (Report::ACTIVE) run_has_bytes = run_has_bytes || shift > p;
        if (shift == end) break;
        if (*shift == SHIFT_OUT) {
            mode = Mode::SINGLE_BYTE;
            run.close();
        }
        p = shift + 1;
    }
    if (mode == Mode::SINGLE_BYTE) return o;
    if (run_has_bytes) report.note(FINDING_UNCLOSED_RUN);
    return run_start;
}

}  // namespace

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                             const VectorKernels& kernels) noexcept {
    NoReport quiet;
    return decode_mixed(item, out, quiet, JefPair<NoReport>{quiet, kernels}, DefaultSingle<NoReport>{quiet, kernels},
                        kernels);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                               const VectorKernels& kernels) noexcept {
    NoReport quiet;
    return decode_pairs(item, out, JefPair<NoReport>{quiet, kernels});
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return decode_jef_field(item, out, active_kernels());
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return decode_jef_n_field(item, out, active_kernels());
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return decode_mixed(item, out, report, JefPair<DecodeReport>{report, scalar_kernels()},
                        DefaultSingle<DecodeReport>{report, scalar_kernels()}, scalar_kernels());
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return decode_pairs(item, out, JefPair<DecodeReport>{report, scalar_kernels()});
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page) noexcept {
    NoReport quiet;
    return decode_mixed(item, out, quiet, HostPair<NoReport>{quiet, page.pairs}, HostSingle{page.single},
                        active_kernels());
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                               const HostCodePage& page) noexcept {
    NoReport quiet;
    return decode_pairs(item, out, HostPair<NoReport>{quiet, page.pairs});
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                             DecodeReport& report) noexcept {
    return decode_mixed(item, out, report, HostPair<DecodeReport>{report, page.pairs}, HostSingle{page.single},
                        scalar_kernels());
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                               DecodeReport& report) noexcept {
    return decode_pairs(item, out, HostPair<DecodeReport>{report, page.pairs});
}

}  // namespace rekmo
