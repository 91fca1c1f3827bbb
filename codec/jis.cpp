// 7-bit JIS text (J items): single-byte characters, and JIS X 0208
// characters between escape sequences:
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
#include "codec/jis.hpp"

#include <algorithm>

#include "codec/jis0208.hpp"

namespace rekmo {
namespace {

constexpr std::uint8_t ESC = 0x1B;
constexpr std::uint8_t DOLLAR = 0x24;       // ESC $ B
constexpr std::uint8_t OPEN_PAREN = 0x28;   // ESC ( J, ESC ( H
constexpr std::uint8_t FINAL_B = 0x42;
constexpr std::uint8_t FINAL_H = 0x48;
constexpr std::uint8_t FINAL_J = 0x4A;

enum class Mode { SINGLE_BYTE, DOUBLE_BYTE };

}  // namespace

std::size_t decode_jis_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    const std::uint8_t* in = item.data();
    const auto n = static_cast<std::size_t>(std::find(item.begin(), item.end(), std::uint8_t{0}) - item.begin());
    Mode mode = Mode::SINGLE_BYTE;
    std::size_t run_start = 0;  // in double-byte mode the run is in[run_start, i)
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < n) {
        if (in[i] == ESC && i + 2 < n) {
            if (in[i + 1] == DOLLAR && in[i + 2] == FINAL_B) {
                mode = Mode::DOUBLE_BYTE;
                i += 3;
                run_start = i;
                continue;
            }
            if (in[i + 1] == OPEN_PAREN && (in[i + 2] == FINAL_H || in[i + 2] == FINAL_J)) {
                if (mode == Mode::DOUBLE_BYTE) {
                    for (std::size_t p = run_start; p + 1 < i; p += 2) {
                        const std::size_t added = append_sjis(in[p], in[p + 1], out + o);
                        o += added;
                        if (added < 2) return o;  // a 00 byte ends the text
                    }
                }
                mode = Mode::SINGLE_BYTE;
                i += 3;
                continue;
            }
        }
        if (mode == Mode::SINGLE_BYTE) out[o++] = in[i];
        ++i;
    }
    return o;
}

}  // namespace rekmo
