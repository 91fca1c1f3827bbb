#include "codec/decimal.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reference/decimal_reference.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes zoned(const std::string& digits, unsigned sign) {
    Bytes b;
    for (const char c : digits) b.push_back(static_cast<std::uint8_t>(0xF0 | (c - '0')));
    b.back() = static_cast<std::uint8_t>(sign << 4 | (b.back() & 0x0Fu));
    return b;
}

Bytes packed(std::string digits, unsigned sign) {
    if (digits.size() % 2 == 0) digits = std::string(1, '0') + digits;
    Bytes b;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        b.push_back(static_cast<std::uint8_t>((digits[i] - '0') << 4 | (digits[i + 1] - '0')));
    b.push_back(static_cast<std::uint8_t>(static_cast<unsigned>(digits.back() - '0') << 4 | sign));
    return b;
}

std::string text(DecimalMode mode, const Bytes& item) {
    std::string out(decimal_bound(mode, item.size()), '\0');
    out.resize(decimal_to_text(mode, item, reinterpret_cast<std::uint8_t*>(out.data())));
    return out;
}

std::string plain(DecimalMode mode, const Bytes& item) {
    std::string out(400, '\0');
    out.resize(print_decimal(decode_decimal(mode, item), reinterpret_cast<std::uint8_t*>(out.data())));
    return out;
}

TEST(Decimal, ReadsDigitsAndSigns) {
    struct Case {
        DecimalMode mode;
        Bytes item;
        std::string expected;
    };
    const Case cases[] = {
        {DECIMAL_ZONED, {0xF1, 0xF2, 0xF3}, "123"},
        {DECIMAL_ZONED, {0xF1, 0xF2, 0xD3}, "-123"},
        {DECIMAL_ZONED, {0xF1, 0xF2, 0xC3}, "123"},
        {DECIMAL_ZONED, {0x31, 0x32, 0x33}, "-123"},  // ASCII digits: zone 3 is no positive sign
        {DECIMAL_ZONED, {0x40, 0x40, 0xF5}, "5"},     // host spaces read as zeros
        {DECIMAL_ZONED, {0xF7}, "7"},
        {DECIMAL_ZONED, {0xF1, 0xFA, 0xF3}, "1"},     // a half-byte above 9 ends the number
        {DECIMAL_ZONED, {0xFB, 0xF2, 0xD3}, "0"},
        {DECIMAL_ZONED, {0xF0, 0xF0, 0xD0}, "0"},     // negative zero has no sign
        {DECIMAL_ZONED, {0xF1, 0xF2, 0xE3}, "-123"},
        {DECIMAL_PACKED, {0x12, 0x3C}, "123"},
        {DECIMAL_PACKED, {0x12, 0x3D}, "-123"},
        {DECIMAL_PACKED, {0x98, 0x7C}, "987"},
        {DECIMAL_PACKED, {0x01, 0x23, 0x4D}, "-1234"},
        {DECIMAL_PACKED, {0x00, 0x0D}, "0"},
        {DECIMAL_PACKED, {0x00, 0x0F}, "0"},
        {DECIMAL_PACKED, {0x1A, 0x2C}, "1"},
        {DECIMAL_PACKED, {0x7C}, "7"},
        {DECIMAL_PACKED, {0x7A}, "-7"},  // every sign but C and F is negative
        {DECIMAL_PACKED, {0x7B}, "-7"},
        {DECIMAL_PACKED, {0x70}, "-7"},
        {DECIMAL_PACKED, {0x79}, "-7"},
        {DECIMAL_PACKED, {0x7F}, "7"},
        {DECIMAL_PACKED, {0xA1, 0x2C}, "0"},
        {DECIMAL_PACKED, {0x12, 0xF3}, "-12"},  // the digit F ends it; sign 3 is negative
        {DECIMAL_ZONED, {}, "0"},              // a negative length reads nothing
        {DECIMAL_PACKED, {}, "0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(c.mode, c.item), c.expected);
        EXPECT_EQ(plain(c.mode, c.item), c.expected);
    }
}

// Expected texts worked out with exact integer arithmetic: the nearest double
// to the first 25 significant digits times a power of ten, then its exact
// digits rounded at the 17th.
TEST(Decimal, ReadingAndPrintingBoundaries) {
    const std::pair<std::string, std::string> cases[] = {
        {"123456789012345", "123456789012345"},                      // 15
        {"9007199254740992", "9007199254740992"},                    // 16: 2^53
        {"9007199254740993", "9007199254740992"},                    // 16: 2^53 + 1, nearest even
        {"12345678901234567", "12345678901234568"},                  // 17
        {"99999999999999999", "100000000000000000"},                 // 17: the double is 10^17
        {"123456789012345678", "123456789012345680"},                // 18
        {"999999999999999949", "1000000000000000000"},               // 18: a carry adds a digit
        {"1234567890123456789", "1234567890123456800"},              // 19
        {"9999999999999999999", "10000000000000000000"},             // 19
        {"12345678901234567890", "12345678901234567000"},            // 20
        {"1234567890123456789012345", "1234567890123456800000000"},  // 25
        {"12345678901234567890123456", "12345678901234568000000000"},        // 26
        {"99999999999999999999999999", "100000000000000000000000000"},       // 26
        {"100000000000000000000000000001", "99999999999999991000000000000"},  // 30: 10^29
        // 27 digits whose 26th and 27th digits would round the other way.
        {"178122473303404897959411713", "178122473303404880000000000"},
        {"123456789012345678901234567890123456789012345678901234567890",
         "123456789012345670000000000000000000000000000000000000000000"},  // 60
        {"000000000000000000001234567890123456789", "1234567890123456800"},  // leading zeros
    };
    for (const auto& [digits, expected] : cases) {
        for (const unsigned sign : {0xCu, 0xDu}) {
            const std::string want = sign == 0xD ? "-" + expected : expected;
            EXPECT_EQ(text(DECIMAL_ZONED, zoned(digits, sign)), want) << digits;
            EXPECT_EQ(text(DECIMAL_PACKED, packed(digits, sign)), want) << digits;
        }
    }
}

// The double nearest 10^300 is 1000000000000000052504760...: its 18th digit
// rounds the 17th up.
TEST(Decimal, LongestItems) {
    const Bytes nines_zoned(300, 0xF9), nines_packed(150, 0x99);
    EXPECT_EQ(text(DECIMAL_ZONED, nines_zoned), "10000000000000001" + std::string(284, '0'));
    EXPECT_EQ(text(DECIMAL_PACKED, nines_packed), "-10000000000000001" + std::string(283, '0'));  // sign 9
}

// Every one- and two-byte item, both modes, through the fast path, the
// plain path and the reference.
TEST(Decimal, ShortItemsExhaustively) {
    for (const DecimalMode mode : {DECIMAL_ZONED, DECIMAL_PACKED}) {
        for (int v = 0; v < 256 + 65536; ++v) {
            const Bytes item = v < 256 ? Bytes{static_cast<std::uint8_t>(v)}
                                       : Bytes{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
            const std::string expected = reference::decimal_text(mode, item);
            ASSERT_EQ(text(mode, item), expected) << mode << " " << v;
            ASSERT_EQ(plain(mode, item), expected) << mode << " " << v;
        }
    }
}

// Random items of every length, mostly digits so that long numbers occur.
TEST(Decimal, MatchesTheReferenceOnRandomItems) {
    std::mt19937 rng(1206);
    auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    for (int trial = 0; trial < 100000; ++trial) {
        const DecimalMode mode = trial % 2 ? DECIMAL_ZONED : DECIMAL_PACKED;
        const unsigned max = mode == DECIMAL_ZONED ? 300 : 150;
        Bytes item(1 + below(trial % 3 == 0 ? max : 12));
        for (std::uint8_t& b : item) {
            const unsigned high = below(50) == 0 ? below(16) : (mode == DECIMAL_ZONED ? 0xF : below(10));
            const unsigned low = below(50) == 0 ? below(16) : below(10);
            b = static_cast<std::uint8_t>(high << 4 | low);
        }
        if (below(4) == 0) item[0] = 0;  // leading zeros
        const std::string expected = reference::decimal_text(mode, item);
        ASSERT_EQ(text(mode, item), expected) << trial;
        ASSERT_EQ(plain(mode, item), expected) << trial;
    }
}

}  // namespace
}  // namespace rekmo
