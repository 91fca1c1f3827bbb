#include "codec/jef.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/decoded.hpp"

namespace rekmo {
namespace {

std::string decode(bool mixed, const std::string& item) {
    return test::decoded(item, jef_bound(item.size()),
                         [&](auto in, std::uint8_t* out) { return decode_jef_field(mixed, in, out); });
}

TEST(Jef, ShiftCodeStates) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xC1\x28\xB0\xA1\x40\x40\x29\xC2", "A\x88\x9F\x81\x40" "B"},
        {"\x29", " "},                                         // shift-out in single-byte mode: a space
        {"\x28\xA4\xA2", ""},                                  // unclosed run dropped
        {"\xC1\x28\xA4\xA2", "A"},
        {"\x28\xA4\xA2\x28\xA4\xA4\x29", "\x82\xA0\x82\xA2"},  // a second shift-in keeps the run
        {"\x28\xA4\x28\xA2\x29", "\x82\xA0"},                  // pairs span shift-ins
        {"\x28\xA4\xA2\xA4\x29\xC1", "\x82\xA0" "A"},          // a lone byte is dropped
        {"\x28\xB0\x02\xB0\xA1\x29", "\x88\x88\x9F"},          // 88 00: the lead alone, text goes on
        {"\x28\x29\x29", " "},
        {std::string("\x00\x28\x00\x00\x29", 5), " \xF0\xFE"},  // zero bytes are data: JIS (80 80)
        {"", ""},
    };
    for (const auto& [item, expected] : cases) EXPECT_EQ(decode(true, item), expected);
}

TEST(Jef, DoubleByteOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"\x40\x40\x40\x40", "\x81\x40\x81\x40"},
        {"\x40\x40\xA4\xA2\x40\x40", "\x81\x40\x82\xA0\x81\x40"},
        {"\xA4\xA2\xA4", "\x82\xA0"},  // odd last byte ignored
        {"\x41\x41", "\x11\xE1"},      // no JEF character: the arithmetic still applies
        {"\x40\xA4\xA2\x40", "\x10\xA2\x81\x3D"},  // 40 40 counts only as a pair
        {"\x28\xA4\xA2\x29", "\x04\xA2\x81\x26"},  // no shift codes in FN
    };
    for (const auto& [item, expected] : cases) EXPECT_EQ(decode(false, item), expected);
}

}  // namespace
}  // namespace rekmo
