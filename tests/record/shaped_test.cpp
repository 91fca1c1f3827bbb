// Fields the format's options shape, through each level's line kernel (the
// scalar one included) against their texts made here:
// - short P and Z items under CSV=EXACT: every packed length of 1 to 8
//   bytes and zoned of 1 to 15, as numbers, with a bad digit at each
//   position in turn, and with a sign half-byte of each value;
// - E items under CSV=QUOTE,TRIM: every length up to 70, with a '"' or ','
//   at each position in turn, before trailing spaces or none.
#include <gtest/gtest.h>

#include <algorithm>
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

class ShapedOnLevel : public test::LevelTest {};

TEST_P(ShapedOnLevel, ShortNumbersPrintTheirDigitsOrNothing) {
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

// An E item's text and field: letters, one `mark` (host 7F '"' or 6B ',')
// at `at` when below `length`, then `spaces` trailing host spaces.
void add_text(std::size_t length, std::size_t at, std::uint8_t mark, std::size_t spaces,
              std::vector<std::uint8_t>& record, std::string& line) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i >= length - spaces) {
            record.push_back(0x40);
        } else if (i == at) {
            record.push_back(mark);
            text += mark == 0x7F ? "\"\"" : ",";
        } else {
            record.push_back(static_cast<std::uint8_t>(0xC1 + i % 9));  // A to I
            text += static_cast<char>('A' + i % 9);
        }
    }
    const bool quoted = text.empty() || text.find_first_of("\",") != std::string::npos;
    line += (quoted ? "\"" + text + "\"" : text) + ",";
}

TEST_P(ShapedOnLevel, TextsAreTrimmedAndQuotedWhereverTheMarkIs) {
    constexpr std::size_t LONGEST = 70;
    std::string format = "CSV=QUOTE,TRIM\nRECLEN=" + std::to_string(LONGEST * (LONGEST + 1) / 2) + "\n";
    for (std::size_t n = 1, at = 1; n <= LONGEST; at += n, ++n) {
        format += "T," + std::to_string(at) + "," + std::to_string(n) + ",E,1\n";
    }
    std::vector<std::uint8_t> host;
    std::string expected;
    for (const std::uint8_t mark : {std::uint8_t{0x7F}, std::uint8_t{0x6B}}) {
        for (std::size_t at = 0; at <= LONGEST; ++at) {
            for (const std::size_t spaces : {std::size_t{0}, std::size_t{3}, std::size_t{40}}) {
                std::string line;
                for (std::size_t n = 1; n <= LONGEST; ++n) add_text(n, at, mark, std::min(spaces, n), host, line);
                line.back() = '\n';
                expected += line;
            }
        }
    }
    EXPECT_EQ(test::level_lines(test::format_of(format), host, kernels()), expected);
}

INSTANTIATE_TEST_SUITE_P(, ShapedOnLevel, testing::ValuesIn(test::EVERY_LEVEL), test::level_param_name);

}  // namespace
}  // namespace rekmo
