// The exact number forms against the string reference of tests/reference:
// every item of one or two bytes in every form, and random items of every
// length and scale; each text within its bound, its finding as the
// reference says, and under EXACT the default text wherever that is exact.
#include "codec/number.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reference/decimal_reference.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t CANARY = 0xA5;

const NumberForm BASE_FORMS[] = {
    {DECIMAL_PACKED, ZonedSign::TRAILING, false, 0},         {DECIMAL_ZONED, ZonedSign::TRAILING, false, 0},
    {DECIMAL_ZONED, ZonedSign::LEADING, false, 0},           {DECIMAL_ZONED, ZonedSign::LEADING_SEPARATE, false, 0},
    {DECIMAL_ZONED, ZonedSign::TRAILING_SEPARATE, false, 0},
};

std::string describe(const NumberForm& form, const Bytes& item) {
    return "mode " + std::to_string(form.mode) + " sign " + std::to_string(static_cast<int>(form.sign)) + " digits " +
           std::to_string(form.digits) + " scale " + std::to_string(form.scale) + " item " +
           testing::PrintToString(item);
}

// The text through both forms of the decoder, checked against the reference.
void expect_reference(const NumberForm& form, const Bytes& item) {
    const auto expected = reference::number_text(form, item);
    const std::size_t bound = number_bound(item.size(), form);
    std::vector<std::uint8_t> out(bound + 16, CANARY), reported(bound + 16, CANARY);
    const std::size_t n = decode_number(item, form, out.data());
    DecodeReport report;
    const std::size_t m = decode_number(item, form, reported.data(), report);
    const std::string text(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    ASSERT_LE(n, bound) << describe(form, item);
    ASSERT_EQ(text, expected.value_or("")) << describe(form, item);
    ASSERT_EQ(std::string(reported.begin(), reported.begin() + static_cast<std::ptrdiff_t>(m)), text)
        << describe(form, item);
    ASSERT_EQ((report.found & FINDING_BAD_NUMBER) != 0, !expected) << describe(form, item);
    for (std::size_t i = bound; i < out.size(); ++i)
        ASSERT_EQ(out[i], CANARY) << "past the bound: " << describe(form, item);
}

TEST(Number, EveryShortItemMatchesTheReference) {
    for (NumberForm form : BASE_FORMS) {
        for (const bool digits : {false, true}) {
            for (const int scale : {0, 3, -2}) {
                form.digits = digits;
                form.scale = digits ? 0 : scale;
                for (int v = 0; v < 256 + 65536; ++v) {
                    expect_reference(form,
                                     v < 256 ? Bytes{static_cast<std::uint8_t>(v)}
                                             : Bytes{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
                    if (HasFatalFailure()) return;
                }
                if (digits) break;
            }
        }
    }
}

// Mostly valid digits and signs, so that long numbers occur; every length up
// to the format's limits and past them, every scale.
TEST(Number, RandomItemsMatchTheReference) {
    std::mt19937 rng(2501);
    auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    int compared_with_default = 0;
    for (int trial = 0; trial < 60000; ++trial) {
        NumberForm form = BASE_FORMS[below(std::size(BASE_FORMS))];
        form.digits = below(5) == 0;
        form.scale = form.digits     ? 0
                     : below(3) == 0 ? static_cast<int>(below(601)) - 300
                                     : static_cast<int>(below(7)) - 2;
        const bool packed = form.mode == DECIMAL_PACKED;
        Bytes item(1 + below(trial % 4 == 0 ? (packed ? 160 : 320) : 20));
        for (std::uint8_t& b : item) {
            const unsigned high = below(80) == 0 ? below(16) : (packed ? below(10) : 0xF);
            const unsigned low = below(80) == 0 ? below(16) : below(10);
            b = static_cast<std::uint8_t>(high << 4 | low);
        }
        if (below(4) == 0)
            std::fill_n(item.begin(), below(static_cast<unsigned>(item.size()) + 1), packed ? 0x00 : 0xF0);
        const std::uint8_t signs[] = {0xC, 0xD, 0xF, 0xA, 0xB, 0xE, 0x0, 0x9};
        const std::uint8_t sign = signs[below(20) == 0 ? below(8) : below(3)];
        if (packed) {
            item.back() = static_cast<std::uint8_t>((item.back() & 0xF0) | sign);
        } else if (form.sign == ZonedSign::TRAILING) {
            item.back() = static_cast<std::uint8_t>(sign << 4 | (item.back() & 0x0F));
        } else if (form.sign == ZonedSign::LEADING) {
            item.front() = static_cast<std::uint8_t>(sign << 4 | (item.front() & 0x0F));
        } else {
            const std::uint8_t bytes[] = {0x60, 0x4E, 0x40, 0xF0};
            (form.sign == ZonedSign::LEADING_SEPARATE ? item.front() : item.back()) =
                bytes[below(20) == 0 ? below(4) : below(2)];
        }
        expect_reference(form, item);
        if (HasFatalFailure()) return;

        // Under EXACT, a number of at most 15 significant digits is the
        // default text (where the default reads a double, exactly).
        if (form.sign == ZonedSign::TRAILING && !form.digits && form.scale == 0) {
            const auto exact = reference::number_text(form, item);
            const std::size_t digits = exact ? exact->size() - (exact->front() == '-') : 0;
            if (exact && digits <= 15) {
                ASSERT_EQ(*exact, reference::decimal_text(form.mode, item)) << describe(form, item);
                ++compared_with_default;
            }
        }
    }
    EXPECT_GT(compared_with_default, 500);
}

}  // namespace
}  // namespace rekmo
