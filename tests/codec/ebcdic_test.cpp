#include "codec/ebcdic.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/iconv_util.hpp"

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
std::set<int> range(int first, int last) {
    std::set<int> s;
    for (int b = first; b <= last; ++b) s.insert(b);
    return s;
}

TEST(Ebcdic, AgreesWithIbm930ExceptWhereDeliberate) {
    ASSERT_TRUE(test::iconv_convert("IBM930", "CP932", "\xC1")) << "glibc lacks IBM930";

    std::set<int> deliberate = range(0x00, 0x3F);  // host controls: spaces
    for (const std::set<int>& group : {
             // lower-case letters: this code puts katakana there, the rest read as spaces
             range(0x62, 0x69),
             range(0x71, 0x79),
             std::set<int>{0x8B, 0x9B, 0xAB},
             range(0xB3, 0xB9),
             // small kana and katakana punctuation other than the corner brackets
             std::set<int>{0x41},
             range(0x44, 0x49),
             range(0x51, 0x56),
             std::set<int>{0x58},
             // symbols read differently: cent, not-sign as '^', underscore as '-',
             // brackets, tilde and overline, caret, pound, backslash, braces, dollar
             std::set<int>{0x4A, 0x5F, 0x6D, 0x70, 0x80, 0xA0, 0xA1, 0xB0, 0xB1, 0xB2, 0xC0, 0xD0, 0xE0},
         })
        deliberate.insert(group.begin(), group.end());

    std::set<int> agreeing;
    for (int b = 0; b < 256; ++b) {
        const auto host = static_cast<std::uint8_t>(b);
        const std::string ours(1, static_cast<char>(HOST_SB_TABLE[host]));
        const std::string theirs = test::iconv_convert("IBM930", "CP932", std::string(1, static_cast<char>(b))).value_or("");
        if (deliberate.count(b)) {
            EXPECT_NE(ours, theirs) << "0x" << std::hex << b << " is listed as a deliberate difference";
        } else if (theirs.empty()) {
            EXPECT_EQ(ours, " ") << "0x" << std::hex << b << " has no character and should read as a space";
        } else {
            EXPECT_EQ(ours, theirs) << "0x" << std::hex << b;
            agreeing.insert(b);
        }
    }

    // Letters, digits and every half-width katakana must be among the agreeing positions.
    for (const std::set<int>& must : {range(0xC1, 0xC9), range(0xD1, 0xD9), range(0xE2, 0xE9), range(0xF0, 0xF9),
                                      range(0x81, 0x8A), range(0x8C, 0x8F), range(0x90, 0x9A), range(0x9D, 0x9F),
                                      range(0xA2, 0xAA), range(0xAC, 0xAF), range(0xBA, 0xBF)})
        for (int b : must) EXPECT_TRUE(agreeing.count(b)) << "0x" << std::hex << b;
}

}  // namespace
}  // namespace rekmo
