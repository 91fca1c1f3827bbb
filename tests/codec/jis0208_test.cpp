#include "codec/jis0208.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rekmo {
namespace {

std::string sjis_of(std::uint8_t j1, std::uint8_t j2) {
    std::uint8_t out[3] = {0xEE, 0xEE, 0xEE};
    jis_to_sjis(j1, j2, out);
    EXPECT_EQ(out[2], 0);
    return std::string(reinterpret_cast<const char*>(out));  // up to the first zero byte
}

TEST(Jis0208, SameArithmeticOutsideTheRange) {
    struct Case {
        std::uint8_t j1, j2;
        std::string sjis;
    };
    const Case cases[] = {
        {0x21, 0x21, "\x81\x40"},  // ideographic space
        {0x24, 0x22, "\x82\xA0"},  // hiragana A
        {0x30, 0x21, "\x88\x9F"},  // first level-1 kanji
        {0x5B, 0x21, "\x9E\x40"},  {0x5D, 0x21, "\x9F\x40"}, {0x5E, 0x7E, "\x9F\xFC"},
        {0x5F, 0x21, "\xE0\x40"},  {0x74, 0x26, "\xEA\xA4"}, {0x7E, 0x7E, "\xEF\xFC"},
        {0x21, 0x5F, "\x81\x7E"},  {0x21, 0x60, "\x81\x80"},  // odd rows skip 7F
        {0x20, 0x21, "\x81\x9F"},  // row -1 halves toward zero
        {0xC0, 0xC0, "\x10\x3D"},  // KEIS bytes read as JIS (40 40 + 80)
        {0xC1, 0xC1, "\x11\xE1"},
        {0xA0, 0x21, ""},          // lead 00: an empty string
        {0x30, 0x82, "\x88"},      // trail 00: the lead alone
        {0x00, 0x00, "\x71\x7D"},  // row -33 halves to -16; even row: 00 + 7D
        {0xFF, 0xFF, "\x30\x1E"},  // F0 + 40 wraps to 30; odd row: FF + 1F wraps to 1E
    };
    for (const Case& c : cases) EXPECT_EQ(sjis_of(c.j1, c.j2), c.sjis) << std::hex << int{c.j1} << " " << int{c.j2};
}

TEST(Jis0208, AppendStopsAtAZeroByte) {
    std::uint8_t out[2] = {0xEE, 0xEE};
    EXPECT_EQ(append_sjis(0x24, 0x22, out), 2u);
    EXPECT_EQ(append_sjis(0x30, 0x82, out), 1u);
    EXPECT_EQ(out[0], 0x88);
    EXPECT_EQ(append_sjis(0xA0, 0x21, out), 0u);
}

}  // namespace
}  // namespace rekmo
