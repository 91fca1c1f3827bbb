// TRIM on Shift_JIS text goes from the back, where a pair 81 40 may be the
// second byte of the pair before it and '@'. Against the plain reading from
// the front, on every short text over the bytes that decide it and on long
// ones that end in runs of spaces.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "record/field.hpp"

namespace rekmo {
namespace {

// The length without its trailing spaces (20, and 81 40 read as one
// character), reading the pairs from the start.
std::size_t trimmed_from_front(const std::vector<std::uint8_t>& text) {
    const auto lead = [](std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
    const auto trail = [](std::uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); };
    std::size_t keep = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i + 1 < text.size() && lead(text[i]) && trail(text[i + 1])) {
            if (text[i] != 0x81 || text[i + 1] != 0x40) keep = i + 2;
            i += 2;
        } else {
            if (text[i] != 0x20) keep = i + 1;
            ++i;
        }
    }
    return keep;
}

// 81 leads and trails, 9F and E0 too, 40 only trails (or is '@'), 80 only
// trails, 20 never trails, 41 and A1 are single bytes.
constexpr std::uint8_t ALPHABET[] = {0x20, 0x40, 0x81, 0x9F, 0xE0, 0x80, 0x41, 0xA1};

TEST(Trim, EveryShortTextAsReadFromTheFront) {
    for (std::size_t length = 0; length <= 7; ++length) {
        std::size_t combinations = 1;
        for (std::size_t i = 0; i < length; ++i) combinations *= std::size(ALPHABET);
        std::vector<std::uint8_t> text(length);
        for (std::size_t index = 0; index < combinations; ++index) {
            for (std::size_t i = 0, rest = index; i < length; ++i, rest /= std::size(ALPHABET))
                text[i] = ALPHABET[rest % std::size(ALPHABET)];
            const std::size_t expected = trimmed_from_front(text);
            ASSERT_EQ(trim_text(text.data(), length), expected) << "length " << length << " index " << index;
        }
    }
}

TEST(Trim, LongTextsEndingInSpacesAsReadFromTheFront) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 20000; ++trial) {
        std::vector<std::uint8_t> text;
        const std::size_t body = random() % 12;
        for (std::size_t i = 0; i < body; ++i) text.push_back(ALPHABET[random() % std::size(ALPHABET)]);
        // Runs of both spaces, long enough for the eight-byte steps.
        for (std::size_t runs = random() % 4; runs-- > 0;) {
            const std::size_t count = random() % 20;
            const bool wide = random() % 2 == 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (wide) {
                    text.push_back(0x81);
                    text.push_back(0x40);
                } else {
                    text.push_back(0x20);
                }
            }
        }
        ASSERT_EQ(trim_text(text.data(), text.size()), trimmed_from_front(text)) << "trial " << trial;
    }
}

// TRIM on UTF-8 text: trailing 20s and U+3000 (E3 80 80), in any mix and
// in runs around the eight-character steps, against trimming one character
// at a time from the back; a text whose last bytes only look like the end of
// U+3000 (80 80, or E3 80 80 cut short) keeps them.
TEST(Trim, Utf8TextsLoseTrailingSpacesAndIdeographicSpaces) {
    const std::vector<std::uint8_t> space = {0x20};
    const std::vector<std::uint8_t> ideographic = {0xE3, 0x80, 0x80};
    const std::vector<std::uint8_t> kept[] = {{}, {0x41}, {0xE3, 0x81, 0x82}, {0x80, 0x80}, {0xE3, 0x80}, {0x80}};
    std::mt19937 rng(20261213);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<std::uint8_t> text = kept[static_cast<std::size_t>(trial) % std::size(kept)];
        const std::size_t keep = text.size();
        const std::size_t tail = rng() % 40;
        for (std::size_t k = 0; k < tail; ++k) {
            const bool wide = trial % 3 == 0 || (trial % 3 == 1 && rng() % 2 == 0);
            const auto& piece = wide ? ideographic : space;
            text.insert(text.end(), piece.begin(), piece.end());
        }
        // One character at a time from the back.
        std::size_t expected = text.size();
        while (expected > keep) expected -= text[expected - 1] == 0x20 ? std::size_t{1} : std::size_t{3};
        ASSERT_EQ(trim_utf8(text.data(), text.size()), expected) << trial;
    }
}

}  // namespace
}  // namespace rekmo
