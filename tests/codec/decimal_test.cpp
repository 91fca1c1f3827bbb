// Zoned and packed items against the slow reference of tests/reference:
// every item of one or two bytes, and random items of every length, through
// the fast text and through the plain path of a double.
#include "codec/decimal.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <string>
#include <vector>

#include "codec/number.hpp"
#include "reference/decimal_reference.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

void expect_reference(DecimalMode mode, const Bytes& item) {
    const std::string expected = reference::decimal_text(mode, item);
    std::string fast(mode == DECIMAL_ZONED ? zoned_bound(item.size()) : packed_bound(item.size()), '\0');
    auto* out = reinterpret_cast<std::uint8_t*>(fast.data());
    fast.resize(mode == DECIMAL_ZONED ? decode_zoned_field(item, out) : decode_packed_field(item, out));
    std::string plain(320, '\0');
    plain.resize(print_decimal(decode_decimal(mode, item), reinterpret_cast<std::uint8_t*>(plain.data())));
    ASSERT_EQ(fast, expected) << mode << " " << testing::PrintToString(item);
    ASSERT_EQ(plain, expected) << mode << " " << testing::PrintToString(item);
}

TEST(Decimal, EveryShortItemMatchesTheReference) {
    for (const DecimalMode mode : {DECIMAL_ZONED, DECIMAL_PACKED}) {
        for (int v = 0; v < 256 + 65536; ++v) {
            expect_reference(mode, v < 256 ? Bytes{static_cast<std::uint8_t>(v)}
                                           : Bytes{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
            if (HasFatalFailure()) return;
        }
    }
}

// Mostly digits, so that long numbers occur; every length up to the limits.
TEST(Decimal, RandomItemsMatchTheReference) {
    std::mt19937 rng(1206);
    auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    for (int trial = 0; trial < 100000; ++trial) {
        const DecimalMode mode = trial % 2 ? DECIMAL_ZONED : DECIMAL_PACKED;
        Bytes item(1 + below(trial % 3 == 0 ? (mode == DECIMAL_ZONED ? 300 : 150) : 12));
        for (std::uint8_t& b : item) {
            const unsigned high = below(50) == 0 ? below(16) : (mode == DECIMAL_ZONED ? 0xF : below(10));
            const unsigned low = below(50) == 0 ? below(16) : below(10);
            b = static_cast<std::uint8_t>(high << 4 | low);
        }
        if (below(4) == 0)
            std::fill_n(item.begin(), below(static_cast<unsigned>(item.size()) + 1), 0);  // leading zeros
        expect_reference(mode, item);
        if (HasFatalFailure()) return;
    }
}

// The integers stored without texts: the reference's text read back, and
// "a number" exactly when the exact forms print one (their text not empty).
void expect_value(DecimalMode mode, const Bytes& item) {
    const std::string text = reference::decimal_text(mode, item);
    std::int64_t expected = 0;
    ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), expected).ec, std::errc{}) << text;
    std::uint8_t exact[64];
    const bool expected_number = decode_number(item, NumberForm{.mode = mode}, exact) != 0;
    bool number = !expected_number;
    ASSERT_EQ(short_decimal_value(mode, item, number), expected) << mode << " " << testing::PrintToString(item);
    ASSERT_EQ(number, expected_number) << mode << " " << testing::PrintToString(item);
    // Inside a record, read around the item (bytes before or after it, or
    // neither): the same.
    for (const std::size_t before : {std::size_t{0}, std::size_t{3}, std::size_t{9}}) {
        for (const std::size_t after : {std::size_t{0}, std::size_t{3}, std::size_t{9}}) {
            Bytes record(before, 0xAB);
            record.insert(record.end(), item.begin(), item.end());
            record.insert(record.end(), after, 0x5A);
            number = !expected_number;
            ASSERT_EQ(short_decimal_value(mode, record, before, item.size(), number), expected)
                << mode << " " << before << " " << after << " " << testing::PrintToString(item);
            ASSERT_EQ(number, expected_number);
            // A column of three such records at once.
            Bytes records;
            for (int r = 0; r < 3; ++r) records.insert(records.end(), record.begin(), record.end());
            std::int64_t values[3] = {7, 7, 7};
            bool not_numbers[3] = {expected_number, expected_number, expected_number};
            short_decimal_values(mode, records, record.size(), before, item.size(), values, not_numbers);
            for (int r = 0; r < 3; ++r) {
                ASSERT_EQ(values[r], expected) << r;
                ASSERT_EQ(not_numbers[r], !expected_number) << r;
            }
        }
    }
}

TEST(Decimal, ShortValuesMatchTheReference) {
    for (const DecimalMode mode : {DECIMAL_ZONED, DECIMAL_PACKED}) {
        for (int v = 0; v < 256 + 65536; ++v) {
            expect_value(mode, v < 256 ? Bytes{static_cast<std::uint8_t>(v)}
                                       : Bytes{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
            if (HasFatalFailure()) return;
        }
    }
    // Every length the short path takes; mostly digits, so that whole numbers
    // of 15 digits occur, and now and then a non-digit or sign anywhere.
    std::mt19937 rng(2808);
    auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    for (int trial = 0; trial < 200000; ++trial) {
        const DecimalMode mode = trial % 2 ? DECIMAL_ZONED : DECIMAL_PACKED;
        Bytes item(1 + below(mode == DECIMAL_ZONED ? 15 : 8));
        ASSERT_TRUE(short_decimal_item(mode, item.size()));
        for (std::uint8_t& b : item) {
            const unsigned high = below(40) == 0 ? below(16) : (mode == DECIMAL_ZONED ? 0xF : below(10));
            const unsigned low = below(40) == 0 ? below(16) : below(10);
            b = static_cast<std::uint8_t>(high << 4 | low);
        }
        const unsigned signs[] = {0xC, 0xD, 0xF, 0xA, 0xB, 0xE, 0x3, 0x0};
        const unsigned sign = signs[below(8)];
        std::uint8_t& last = item.back();
        last = static_cast<std::uint8_t>(mode == DECIMAL_ZONED ? (sign << 4 | (last & 0xF)) : ((last & 0xF0) | sign));
        if (below(8) == 0) std::fill(item.begin(), item.end() - 1, mode == DECIMAL_ZONED ? 0xF9 : 0x99);  // the largest
        if (below(8) == 0) std::fill_n(item.begin(), below(static_cast<unsigned>(item.size())), 0);
        expect_value(mode, item);
        if (HasFatalFailure()) return;
    }
    EXPECT_FALSE(short_decimal_item(DECIMAL_PACKED, 9));
    EXPECT_FALSE(short_decimal_item(DECIMAL_ZONED, 16));
    EXPECT_FALSE(short_decimal_item(DECIMAL_ZONED, 0));
}

// A column of records at once against one item at a time: every length of
// both forms, every place of the item in records of several lengths (records
// shorter than eight bytes, items at the start, at the end, and ending eight
// bytes in), the records' other bytes random. In each column: all-digit items
// with every sign half-byte, the largest items, random bytes, and items with
// one digit half-byte above 9 (the text's rules); not_numbers given or not.
TEST(Decimal, ShortColumnsMatchOneItemAtATime) {
    std::mt19937 rng(3110);
    auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    constexpr std::size_t SIGNS = 16, LARGEST = 20, RANDOM = 30, COUNT = 42;  // record kinds, by index
    const unsigned largest_signs[] = {0xC, 0xD, 0xF, 0xA};
    std::size_t numbers = 0, others = 0;
    for (const DecimalMode mode : {DECIMAL_PACKED, DECIMAL_ZONED}) {
        const std::size_t longest = mode == DECIMAL_PACKED ? 8 : 15;
        for (std::size_t n = 1; n <= longest; ++n) {
            for (const std::size_t length : {n, n + 1, std::size_t{7}, std::size_t{8}, std::size_t{9}, std::size_t{15},
                                             std::size_t{16}, std::size_t{23}, std::size_t{31}}) {
                if (length < n) continue;
                for (std::size_t at = 0; at + n <= length; ++at) {
                    // Records of 31 bytes are followed by part of another, which is no record.
                    const std::size_t tail = length == 31 ? 30 : 0;
                    Bytes records(length * COUNT + tail);
                    for (std::uint8_t& b : records) b = static_cast<std::uint8_t>(rng());
                    for (std::size_t r = 0; r < COUNT; ++r) {
                        if (r >= LARGEST && r < RANDOM) continue;
                        std::uint8_t* item = records.data() + r * length + at;
                        const std::size_t digits = mode == DECIMAL_PACKED ? 2 * n - 1 : n;
                        // Digit half-bytes (zones of zoned digits stay random), then the sign.
                        auto put = [&](std::size_t i, unsigned half) {
                            std::uint8_t& b = item[mode == DECIMAL_PACKED ? i / 2 : i];
                            const bool high = mode == DECIMAL_PACKED && i % 2 == 0;
                            b = static_cast<std::uint8_t>(high ? (b & 0x0F) | half << 4 : (b & 0xF0) | half);
                        };
                        for (std::size_t i = 0; i < digits; ++i) put(i, r < SIGNS ? below(10) : 9);
                        const unsigned sign = r < SIGNS     ? static_cast<unsigned>(r)
                                              : r < LARGEST ? largest_signs[r - SIGNS]
                                                            : 0xC + below(4);
                        std::uint8_t& last = item[n - 1];
                        last = static_cast<std::uint8_t>(mode == DECIMAL_PACKED ? (last & 0xF0) | sign
                                                                                : (last & 0x0F) | sign << 4);
                        if (r >= RANDOM) put(below(static_cast<unsigned>(digits)), 10 + below(6));
                    }
                    std::int64_t expected[COUNT];
                    bool expected_numbers[COUNT];
                    for (std::size_t r = 0; r < COUNT; ++r) {
                        const std::span<const std::uint8_t> record(records.data() + r * length, length);
                        expected[r] = short_decimal_value(mode, record, at, n, expected_numbers[r]);
                        (expected_numbers[r] ? numbers : others) += 1;
                    }
                    // One more slot each, which no record fills.
                    for (const bool flags : {true, false}) {
                        std::int64_t values[COUNT + 1];
                        bool not_numbers[COUNT + 1];
                        std::fill_n(values, COUNT + 1, std::int64_t{-77});
                        for (std::size_t r = 0; r <= COUNT; ++r) not_numbers[r] = r < COUNT && expected_numbers[r];
                        short_decimal_values(mode, records, length, at, n, values, flags ? not_numbers : nullptr);
                        for (std::size_t r = 0; r < COUNT; ++r) {
                            ASSERT_EQ(values[r], expected[r])
                                << mode << " n " << n << " length " << length << " at " << at << " record " << r;
                            // Written with flags, untouched without.
                            ASSERT_EQ(not_numbers[r], flags ? !expected_numbers[r] : expected_numbers[r])
                                << mode << " " << n << " " << at << " " << flags;
                        }
                        ASSERT_EQ(values[COUNT], -77) << "past the last record: " << mode << " " << n;
                        ASSERT_FALSE(not_numbers[COUNT]);
                    }
                }
            }
        }
    }
    // Both outcomes occur, often.
    EXPECT_GT(numbers, 10000u);
    EXPECT_GT(others, 10000u);
    // No whole record: nothing is written.
    const Bytes few(6, 0xF1);
    std::int64_t value = -77;
    short_decimal_values(DECIMAL_ZONED, few, 7, 0, 2, &value, nullptr);
    short_decimal_values(DECIMAL_ZONED, few, 0, 0, 2, &value, nullptr);
    EXPECT_EQ(value, -77);
    // An empty item (which short_decimal_item refuses) reads no byte: 0, and
    // no number, having no sign.
    for (const DecimalMode mode : {DECIMAL_PACKED, DECIMAL_ZONED}) {
        bool number = true;
        EXPECT_EQ(short_decimal_value(mode, std::span<const std::uint8_t>{}, number), 0);
        EXPECT_FALSE(number);
    }
}

}  // namespace
}  // namespace rekmo
