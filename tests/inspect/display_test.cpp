// Converted text as rekmo-inspect shows it: every code page 932 pair and
// every character's width against glibc (its CP932 converter, its wcwidth()
// in a UTF-8 locale), and escapes that read back unambiguously.
#include "inspect/display.hpp"

#include <gtest/gtest.h>

#include <locale.h>
#include <wchar.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "support/iconv_util.hpp"

namespace rekmo {
namespace {

std::string show(const std::string& sjis) {
    return sjis_to_utf8({reinterpret_cast<const std::uint8_t*>(sjis.data()), sjis.size()}, Escape::CONTROLS);
}

std::string hex_escapes(const std::string& bytes) {
    std::string out;
    for (const char b : bytes) {
        char buffer[5];
        std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned char>(b));
        out += buffer;
    }
    return out;
}

bool is_user_defined(int lead) { return lead >= 0xF0 && lead <= 0xF9; }

// Calls `check(pair)` for every lead byte followed by a trail byte.
template <typename Check>
void for_each_pair(Check check) {
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead <= 0xDF) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail != 0x7F) check(std::string{static_cast<char>(lead), static_cast<char>(trail)});
        }
    }
}

// Every pair reads as glibc's CP932 converter reads it, or as its two bytes
// escaped where glibc has no character or gives the user-defined area's
// Private Use code points. glibc and Python's cp932 (the table's source)
// agree on every pair, so no pair is excepted.
TEST(Cp932, PairsMatchGlibc) {
    int characters = 0, user_defined = 0;
    for_each_pair([&](const std::string& pair) {
        std::optional<std::string> theirs = test::iconv_convert("CP932", "UTF-8", pair);
        if (theirs && is_user_defined(static_cast<unsigned char>(pair[0]))) {
            ++user_defined;
            theirs.reset();
        }
        if (theirs) ++characters;
        EXPECT_EQ(show(pair), theirs.value_or(hex_escapes(pair))) << hex_escapes(pair);
    });
    EXPECT_EQ(characters, 7724);
    EXPECT_EQ(user_defined, 10 * 188);
}

// glibc's wcwidth() counts East Asian Wide and Fullwidth as 2 and Ambiguous
// as 1, as display_width() is meant to: compared on every character that code
// page 932 gives, half-width katakana included.
TEST(DisplayWidth, MatchesGlibcWcwidth) {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    ASSERT_NE(utf8, locale_t{}) << "no C.UTF-8 locale";
    const locale_t previous = uselocale(utf8);
    int characters = 0, wide = 0;
    const auto check = [&](const std::string& sjis) {
        const std::optional<std::string> utf32 = test::iconv_convert("CP932", "UTF-32LE", sjis);
        if (!utf32 || is_user_defined(static_cast<unsigned char>(sjis[0]))) return;
        std::uint32_t cp;
        std::memcpy(&cp, utf32->data(), sizeof cp);
        const int theirs = wcwidth(static_cast<wchar_t>(cp));
        EXPECT_EQ(static_cast<int>(display_width(show(sjis))), theirs) << std::hex << cp;
        ++characters;
        wide += theirs == 2;
    };
    for (int b = 0xA1; b <= 0xDF; ++b) check(std::string(1, static_cast<char>(b)));
    for_each_pair(check);
    uselocale(previous);
    freelocale(utf8);
    EXPECT_EQ(characters, 63 + 7724);
    EXPECT_GT(wide, 7000);
}

// With backslashes escaped, no two inputs give the same text with escapes in
// it, and no raw control reaches the terminal: checked on every string of one
// or two bytes. (Texts without escapes may repeat: code page 932 has the same
// character at more than one pair, as NEC's 8790 and JIS's 81E0 for U+2252.)
TEST(SjisToUtf8, StrictTextIsUnambiguous) {
    std::set<std::string> seen;
    std::string sjis;
    for (int first = -1; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            sjis.clear();
            if (first >= 0) sjis += static_cast<char>(first);
            sjis += static_cast<char>(second);
            const std::string utf8 = sjis_to_utf8({reinterpret_cast<const std::uint8_t*>(sjis.data()), sjis.size()},
                                                  Escape::CONTROLS_AND_BACKSLASH);
            if (utf8.find('\\') != std::string::npos) {
                ASSERT_TRUE(seen.insert(utf8).second) << utf8;
            }
            for (const char ch : utf8) ASSERT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) << utf8;
        }
    }
}

// A path shown against glibc's own UTF-8 reading (mbrtowc in C.UTF-8): each
// character it reads stays unless it is a control (C0, DEL, C1) or of the
// private use area; every other byte is escaped alone. Checked on random
// paths of ASCII, controls, whole and cut-short multi-byte sequences and
// noise.
TEST(ShownText, KeepsWhatGlibcReadsAsTextAndEscapesTheRest) {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    ASSERT_NE(utf8, locale_t{}) << "no C.UTF-8 locale";
    const locale_t previous = uselocale(utf8);
    const std::string pieces[] = {"a",
                                  "/",
                                  "\\",
                                  " ",
                                  "\x1B",
                                  "\x07",
                                  "\x7F",
                                  "\n",
                                  "\xC2\x9B",
                                  "\xC2\xA0",
                                  "\xE8\xA1\xA8",
                                  "\xE8\xA1",
                                  "\xEE\x80\x80",
                                  "\xF0\x9F\x98\x80",
                                  "\xF0\x9F",
                                  "\xED\xA0\x80",
                                  "\xC0\xAF",
                                  "\xEF\xBD\xB1",
                                  "\xFF",
                                  "\x80"};
    std::uint32_t seed = 20261209;
    for (int n = 0; n < 3000; ++n) {
        std::string path;
        for (int k = 0; k < 6; ++k) {
            seed = seed * 1664525u + 1013904223u;
            path += (seed >> 28) < 12 ? pieces[(seed >> 8) % std::size(pieces)]
                                      : std::string(1, static_cast<char>(seed >> 16));
        }
        std::string expected;
        for (std::size_t i = 0; i < path.size();) {
            mbstate_t state{};
            wchar_t c = 0;
            const std::size_t length = mbrtowc(&c, path.data() + i, path.size() - i, &state);
            const bool character = length != 0 && length <= path.size() - i;  // not -1, -2 or a 00 byte
            const bool hidden = c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF);
            const std::size_t taken = character ? length : 1;
            expected += character && !hidden ? path.substr(i, taken) : hex_escapes(path.substr(i, taken));
            i += taken;
        }
        ASSERT_EQ(shown_text(path), expected) << hex_escapes(path);
    }
    uselocale(previous);
    freelocale(utf8);
}

}  // namespace
}  // namespace rekmo
