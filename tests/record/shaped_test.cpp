// Fields the format's options shape, through each level's line kernel (the
// scalar one included) against their texts made here:
// - short P and Z items under CSV=EXACT: every packed length of 1 to 8
//   bytes and zoned of 1 to 15, as numbers, with a bad digit at each
//   position in turn, and with a sign half-byte of each value;
// - E items under CSV=QUOTE,TRIM, in Shift_JIS and in UTF-8: every length up
//   to 70, with a '"' or ',' at each position in turn, before trailing
//   spaces or none;
// - E items under CSV=UTF8: every length up to 70, against the per-item
//   path's decoding of their Shift_JIS text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
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

constexpr std::size_t LONGEST = 70;

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

// An E item's text and field: letters and half-width katakana of both rows,
// one `mark` (host 7F '"' or 6B ',') at `at` when below `length`, then
// `spaces` trailing host spaces; the katakana in UTF-8 when `utf8`.
void add_text(std::size_t length, std::size_t at, std::uint8_t mark, std::size_t spaces, bool utf8,
              std::vector<std::uint8_t>& record, std::string& line) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i >= length - spaces) {
            record.push_back(0x40);
        } else if (i == at) {
            record.push_back(mark);
            text += mark == 0x7F ? "\"\"" : ",";
        } else if (i % 13 == 9) {  // host 81: ｱ, B1 in Shift_JIS
            record.push_back(0x81);
            text += utf8 ? "\xEF\xBD\xB1" : "\xB1";
        } else if (i % 13 >= 10) {  // host BF: ﾟ, DF
            record.push_back(0xBF);
            text += utf8 ? "\xEF\xBE\x9F" : "\xDF";
        } else {
            record.push_back(static_cast<std::uint8_t>(0xC1 + i % 9));  // A to I
            text += static_cast<char>('A' + i % 9);
        }
    }
    const bool quoted = text.empty() || text.find_first_of("\",") != std::string::npos;
    line += (quoted ? "\"" + text + "\"" : text) + ",";
}

// Every length of E item up to LONGEST, one after another.
std::string text_items(std::string_view options) {
    std::string format = std::string(options) + "RECLEN=" + std::to_string(LONGEST * (LONGEST + 1) / 2) + "\n";
    for (std::size_t n = 1, at = 1; n <= LONGEST; at += n, ++n) {
        format += "T," + std::to_string(at) + "," + std::to_string(n) + ",E,1\n";
    }
    return format;
}

TEST_P(ShapedOnLevel, TextsAreTrimmedAndQuotedWhereverTheMarkIs) {
    for (const bool utf8 : {false, true}) {
        const std::string format = text_items(utf8 ? "CSV=QUOTE,TRIM,UTF8\n" : "CSV=QUOTE,TRIM\n");
        std::vector<std::uint8_t> host;
        std::string expected;
        for (const std::uint8_t mark : {std::uint8_t{0x7F}, std::uint8_t{0x6B}}) {
            for (std::size_t at = 0; at <= LONGEST; ++at) {
                for (const std::size_t spaces : {std::size_t{0}, std::size_t{3}, std::size_t{40}}) {
                    std::string line;
                    for (std::size_t n = 1; n <= LONGEST; ++n)
                        add_text(n, at, mark, std::min(spaces, n), utf8, host, line);
                    line.back() = '\n';
                    expected += line;
                }
            }
        }
        EXPECT_EQ(test::level_lines(test::format_of(format), host, kernels()), expected) << format;
    }
}

// E text in UTF-8, converted from the host bytes in one pass, against the
// per-item path's code page 932 decoding of its Shift_JIS text: every length
// up to LONGEST, of any bytes, of katakana runs (both rows) among letters
// and spaces, of letters with a single katakana at each place, so that the
// steps' widening lands on every lane and across every 16- and 32-byte step.
TEST_P(ShapedOnLevel, Utf8TextsAreTheirShiftJisTextsDecoded) {
    std::mt19937 rng(20261211);
    const std::uint8_t kana[] = {0x81, 0x8A, 0x8C, 0x90, 0x91, 0x99, 0x9D, 0xA2, 0xAF, 0xBA, 0xBF, 0x42, 0x43};
    const std::uint8_t plain[] = {0x40, 0xC1, 0xF1, 0x4B, 0x7F, 0x6B, 0x00, 0x5B, 0xFF};
    std::vector<std::uint8_t> host;
    const std::size_t record_length = LONGEST * (LONGEST + 1) / 2;
    for (int record = 0; record < 200; ++record) {
        const std::size_t lone = static_cast<std::size_t>(record) % 71;  // the single katakana's place
        for (std::size_t n = 1; n <= LONGEST; ++n) {
            for (std::size_t i = 0; i < n; ++i) {
                std::uint8_t b;
                switch (record % 4) {
                    case 0:
                        b = static_cast<std::uint8_t>(rng());
                        break;
                    case 1:
                        b = rng() % 3 != 0 ? kana[rng() % std::size(kana)] : plain[rng() % std::size(plain)];
                        break;
                    case 2:
                        b = i == lone % n ? kana[rng() % std::size(kana)] : plain[rng() % std::size(plain)];
                        break;
                    default:
                        b = i < n / 2 ? kana[rng() % std::size(kana)] : 0x40;  // katakana, then trailing spaces
                        break;
                }
                host.push_back(b);
            }
        }
    }
    ASSERT_EQ(host.size() % record_length, 0u);
    for (const std::string_view options : {"CSV=UTF8\n", "CSV=UTF8,TRIM\n", "CSV=UTF8,QUOTE,TRIM\n"}) {
        const FormatDef def = test::format_of(text_items(options));
        EXPECT_TRUE(test::same(test::level_lines(def, host, kernels()), test::scalar_lines(def, host))) << options;
    }
}

// J, K, KN, F and FN text in UTF-8, written from the host bytes in one
// pass, against the per-item path's decoding of its Shift_JIS text: every
// length up to LONGEST of each type, made of shift codes and escape
// sequences, kanji and kana pairs, the double-byte space, pairs whose
// Shift_JIS is no code page 932 pair (with a 00 byte, or out of range: these
// take the Shift_JIS path), katakana, letters and bytes that are no code
// alone (J's single-byte text ending in a lead byte), so that runs start,
// stop and stay open at every place of the sixteen-pair steps.
TEST_P(ShapedOnLevel, Utf8DoubleByteTextsAreTheirShiftJisTextsDecoded) {
    std::mt19937 rng(20261212);
    const std::vector<std::vector<std::uint8_t>> pieces[] = {
        {{0x0A, 0x42}, {0x0A, 0x41}, {0x0A}, {0x28}, {0x29}},      // shift codes of K and F, a lone 0A
        {{0xB0, 0xA1}, {0xA4, 0xA2}, {0xC9, 0xB0}, {0xA1, 0xA1}},  // kanji, kana, the ideographic space
        {{0x40, 0x40}, {0xA2, 0xAE}, {0xA1, 0xF1}, {0xA3, 0xB0}},  // 40 40, 〓, ￠ and digits (not three bytes)
        {{0xB0, 0x02}, {0x41, 0x42}, {0xFF, 0xFF}, {0xF5, 0xA1}},  // no whole pair, a user-defined area
        {{0x81}, {0xBF}, {0xC1}, {0x40}, {0x7F}, {0x6B}, {0xF1}},  // single bytes
        {{0x1B, 0x24, 0x42}, {0x1B, 0x28, 0x4A}, {0x1B, 0x28, 0x48}, {0x1B, 0x28, 0x42}, {0x1B}},  // J's escapes
        {{0x30, 0x21},
         {0x24, 0x22},
         {0x21, 0x21},
         {0x26, 0x21},
         {0x30, 0x82},
         {0x7F, 0x7F},  // J's pairs,
         {0x41},
         {0x88},
         {0x9F},
         {0xE0},
         {0xB1},
         {0x00},
         {0x20}},  // single bytes
    };
    const char* types[] = {"K", "KN", "F", "FN", "J"};
    std::string items;
    std::size_t at = 1;
    for (const char* type : types) {
        for (std::size_t n = 1; n <= LONGEST; at += n, ++n) {
            items += "T," + std::to_string(at) + "," + std::to_string(n) + "," + type + ",1\n";
        }
    }
    const std::size_t record_length = at - 1;
    std::vector<std::uint8_t> host;
    for (int record = 0; record < 120; ++record) {
        const std::size_t end = host.size() + record_length;
        const int mostly = record % 3;  // mostly kanji, mostly other pairs, any piece
        while (host.size() < end) {
            const std::size_t kind = rng() % 8 < 5 && mostly < 2 ? (mostly == 0 ? 1 : 2) : rng() % std::size(pieces);
            const auto& piece = pieces[kind][rng() % pieces[kind].size()];
            for (const std::uint8_t b : piece) {
                if (host.size() < end) host.push_back(b);
            }
        }
    }
    for (const std::string_view options : {"CSV=UTF8\n", "CSV=UTF8,TRIM\n", "CSV=UTF8,QUOTE,TRIM\n"}) {
        const FormatDef def =
            test::format_of(std::string(options) + "RECLEN=" + std::to_string(record_length) + "\n" + items);
        EXPECT_TRUE(test::same(test::level_lines(def, host, kernels()), test::scalar_lines(def, host))) << options;
    }
}

INSTANTIATE_TEST_SUITE_P(, ShapedOnLevel, testing::ValuesIn(test::EVERY_LEVEL), test::level_param_name);

}  // namespace
}  // namespace rekmo
