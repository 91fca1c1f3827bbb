#include "codec/keis.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/decoded.hpp"

namespace rekmo {
namespace {

std::string decode(bool mixed, const std::string& item) {
    return test::decoded(item, keis_bound(item.size()),
                         [&](auto in, std::uint8_t* out) { return decode_keis_field(mixed, in, out); });
}

const std::string SI = "\x0A\x42";  // into double-byte
const std::string SO = "\x0A\x41";  // back to single-byte

TEST(Keis, ShiftCodeStates) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xC1\xC2" + SI + "\xB0\xA1" + SO + "\xC3", "AB\x88\x9F" "C"},
        {SI + "\xA1\xA1" + SO, "\x81\x40"},
        {SO, ""},                                                     // shift-out in single-byte mode
        {"\x0A\xC1", " A"},                                           // 0A before another byte is ordinary
        {"\xC1\x0A", "A "},                                           // and so is a last 0A
        {"\xC1" + SI + "\xA4\xA2", "A"},                              // unclosed run dropped
        {SI + "\xB0\xA1" + SI + "\xB0\xA2" + SO, "\x88\x9F\x88\xA0"},  // a second shift-in keeps the run
        {SI + "\xB0" + SI + "\xA1" + SO, "\x88\x9F"},                 // pairs span shift-ins
        {SI + "\xB0\xA1\xB0" + SO, "\x88\x9F"},                       // a lone byte is dropped
        {SI + "\xB0\x02\xB0\xA1" + SO, "\x88\x88\x9F"},               // 88 00: the lead alone, text goes on
        {SI + "\x20\xA1" + SO + "\xC1", "A"},                         // 00 lead: nothing
        {SI + "\xB0\x0A\x43" + SO, "\x88\x07"},                       // 0A 43 in a run is data: (B0 0A), lone 43
        {std::string("\x00\xC1\x00", 3), " A "},                      // zero bytes are data
        {SI + SO + SI, ""},
        {"", ""},
    };
    for (const auto& [item, expected] : cases) EXPECT_EQ(decode(true, item), expected);
}

TEST(Keis, DoubleByteOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xA4\xA2\xA4\xA4", "\x82\xA0\x82\xA2"},
        {"\xA4\xA2\xA4", "\x82\xA0"},  // odd last byte ignored
        {"\x40\x40", "\x10\x3D"},      // no KEIS character: the arithmetic still applies
        {"\x0A\x42\xA4\xA2", "\xF5\x3F\x82\xA0"},  // no shift codes in KN: JIS (8A C2)
        {std::string("\xB0\x02\x00\x00\xA4\xA2", 6), "\x88\xF0\xFE\x82\xA0"},  // JIS (30 82), (80 80)
        {"\xA4", ""},
    };
    for (const auto& [item, expected] : cases) EXPECT_EQ(decode(false, item), expected);
}

}  // namespace
}  // namespace rekmo
