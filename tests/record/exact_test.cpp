// Short P and Z items under CSV=EXACT through each level's line kernel
// (the scalar one included), against their digits read here: every packed
// length of 1 to 8 bytes and zoned of 1 to 15, as numbers, with a bad digit
// at each position in turn, and with a sign half-byte of each value.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/levels.hpp"
#include "support/memory_io.hpp"

namespace rekmo {
namespace {

// The exact text of an item whose digit half-bytes are `digits` and whose
// sign half-byte is `sign`: empty unless every digit is 0-9 and the sign is
// not; C and F positive, A, B, D and E negative; zero never signed.
std::string exact_text(const std::vector<unsigned>& digits, unsigned sign) {
    std::string text;
    for (const unsigned d : digits) {
        if (d > 9) return "";
        if (!text.empty() || d != 0) text += static_cast<char>('0' + d);
    }
    if (sign <= 9) return "";
    if (text.empty()) return "0";
    return (sign == 0xC || sign == 0xF ? "" : "-") + text;
}

struct Item {
    bool packed;
    std::size_t length;
};

// An item's bytes and its field followed by a comma, from the item's digits
// and sign; `bad` is the digit position given the value 10 to 15, or none.
void add_item(const Item& item, std::mt19937& rng, std::size_t bad, unsigned sign, std::vector<std::uint8_t>& record,
              std::string& line) {
    const std::size_t count = item.packed ? 2 * item.length - 1 : item.length;
    std::vector<unsigned> digits(count);
    const auto pick = [&](unsigned below) { return static_cast<unsigned>(rng() % below); };
    for (std::size_t i = 0; i < count; ++i) digits[i] = i == bad ? 10 + pick(6) : pick(4) == 0 ? 0 : pick(10);
    if (item.packed) {
        for (std::size_t i = 0; i < item.length; ++i) {
            const unsigned low = i + 1 == item.length ? sign : digits[2 * i + 1];
            record.push_back(static_cast<std::uint8_t>(digits[2 * i] << 4 | low));
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned zone = i + 1 == count ? sign : 0xF;
            record.push_back(static_cast<std::uint8_t>(zone << 4 | digits[i]));
        }
    }
    line += exact_text(digits, sign) + ",";
}

class ExactOnLevel : public test::LevelTest {};

TEST_P(ExactOnLevel, ShortNumbersPrintTheirDigitsOrNothing) {
    std::vector<Item> items;
    for (std::size_t n = 1; n <= 8; ++n) items.push_back({true, n});
    for (std::size_t n = 1; n <= 15; ++n) items.push_back({false, n});
    std::string format = "CSV=EXACT\n";
    std::size_t at = 1;
    for (const Item& item : items) {
        format += "N," + std::to_string(at) + "," + std::to_string(item.length) + (item.packed ? ",P,1\n" : ",Z,1\n");
        at += item.length;
    }
    const std::size_t record_length = at - 1;
    format = "RECLEN=" + std::to_string(record_length) + "\n" + format;

    std::mt19937 rng(20261210);
    std::vector<std::uint8_t> host;
    std::string expected;
    const unsigned signs[] = {0xC, 0xD, 0xF, 0xA, 0xB, 0xE, 0x0, 0x9, 0x5};
    constexpr std::size_t NONE = 99;
    // Each record: every item a number, or every item with its bad digit at
    // position `bad` (where it has one), each sign in turn.
    for (std::size_t bad = 0; bad <= 15; ++bad) {
        for (const unsigned sign : signs) {
            for (const std::size_t at_digit : {NONE, bad}) {
                std::string line;
                for (const Item& item : items) add_item(item, rng, at_digit, sign, host, line);
                line.back() = '\n';
                expected += line;
            }
        }
    }
    ASSERT_EQ(host.size() % record_length, 0u);
    EXPECT_EQ(test::level_lines(test::format_of(format), host, kernels()), expected);
}

INSTANTIATE_TEST_SUITE_P(, ExactOnLevel, testing::ValuesIn(test::EVERY_LEVEL), test::level_param_name);

}  // namespace
}  // namespace rekmo
