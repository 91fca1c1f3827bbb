// Zoned and packed items against the slow reference of tests/reference:
// every item of one or two bytes, and random items of every length, through
// the fast text and through the plain path of a double.
#include "codec/decimal.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace rekmo
