// The host single-byte table against glibc's IBM930 converter (Linux builds).
#include "codec/ebcdic.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/iconv_util.hpp"

namespace rekmo {
namespace {

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
