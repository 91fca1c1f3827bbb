#include "codec/jis.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/decoded.hpp"

namespace rekmo {
namespace {

std::string decode(const std::string& item) {
    return test::decoded(item, jis_bound(item.size()), [](auto in, std::uint8_t* out) { return decode_jis_field(in, out); });
}

const std::string IN = "\x1B\x24\x42";    // ESC $ B
const std::string OUT_J = "\x1B\x28\x4A";  // ESC ( J
const std::string OUT_H = "\x1B\x28\x48";  // ESC ( H
const std::string OUT_B = "\x1B\x28\x42";  // ESC ( B: no return here

TEST(Jis, EscapeSequenceStates) {
    const std::pair<std::string, std::string> cases[] = {
        {"ABC", "ABC"},
        {IN + "\x24\x22\x24\x24" + OUT_J + "A", "\x82\xA0\x82\xA2" "A"},
        {IN + "\x30\x21" + OUT_H, "\x88\x9F"},
        {IN + "\x30\x21", ""},                                  // never closed: dropped
        {"X" + IN + "\x30\x21" + OUT_B, "X"},                    // ESC ( B joins the run
        {IN + "\x30\x21" + OUT_B + OUT_J, "\x88\x9F~G"},      // ... and is converted with it: (1B 28), lone 42
        {IN + "\x30\x21" + OUT_H + OUT_J, "\x88\x9F"},         // the second return finds nothing
        {"A\x1B\x24", "A\x1B\x24"},                             // ESC within two bytes of the end
        {"A\x1B", "A\x1B"},
        {IN + "\x30\x21\x30" + OUT_J, "\x88\x9F"},             // a lone byte is dropped
        {IN + "\x30\x21" + IN + "\x30\x22" + OUT_J, "\x88\xA0"},  // ESC $ B empties the run
        {IN + "\x30\x82\x30\x21" + OUT_J + "Z", "\x88"},       // 88 00: the zero ends the text
        {IN + "\xA0\x21\x30\x21" + OUT_J, ""},                  // 00 first: nothing at all
        {"\x1B\x24\x40\x24\x22", "\x1B\x24\x40\x24\x22"},     // ESC $ @ is not recognised
        {OUT_J + "A" + OUT_H, "A"},                             // returns in single-byte mode
        {IN + OUT_J, ""},                                       // only escapes: empty text
        {"\xB1\xB2\x7E\x5C", "\xB1\xB2\x7E\x5C"},               // 8-bit and JIS-Roman bytes pass
        {std::string("AB\0CD", 5), "AB"},                       // a zero byte ends the item
        {std::string("\0AB", 3), ""},
        {"", ""},
    };
    for (const auto& [item, expected] : cases) EXPECT_EQ(decode(item), expected);
}

TEST(Jis, LongItemsConvertWhole) {
    std::string item, expected;
    for (int i = 0; i < 100; ++i) {
        item += "ab" + IN + "\x24\x22" + OUT_J;
        expected += "ab\x82\xA0";
    }
    ASSERT_GT(item.size(), 127u);
    EXPECT_EQ(decode(item), expected);
}

}  // namespace
}  // namespace rekmo
