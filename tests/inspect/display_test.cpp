#include "inspect/display.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

namespace rekmo {
namespace {

using namespace std::string_view_literals;

std::string show(std::string_view sjis, Escape escape) {
    return sjis_to_utf8({reinterpret_cast<const std::uint8_t*>(sjis.data()), sjis.size()}, escape);
}

constexpr Escape PLAIN = Escape::CONTROLS;
constexpr Escape STRICT = Escape::CONTROLS_AND_BACKSLASH;

struct Case {
    std::string_view sjis;
    Escape escape;
    std::string_view utf8;
};

TEST(SjisToUtf8, Bytes) {
    const Case cases[] = {
        {"", STRICT, ""},
        {" AZaz~", STRICT, " AZaz~"},
        {"C:\\x41", PLAIN, "C:\\x41"},  // a backslash stays one, so this reads like an escape
        {"C:\\x41", STRICT, "C:\\\\x41"},
        {"\n\r\t", PLAIN, "\\n\\r\\t"},
        {"\0\x01\x1B\x1F\x7F"sv, PLAIN, "\\x00\\x01\\x1B\\x1F\\x7F"},
        {"\x80\xA0\xFD\xFE\xFF", STRICT, "\\x80\\xA0\\xFD\\xFE\\xFF"},
        {"\xA1\xB1\xDF", STRICT, "｡ｱﾟ"},  // half-width katakana, first and last
        // pairs
        {"\x82\xA0\x88\x9F", STRICT, "あ亜"},
        {"\x81\x40\x81\xFC", STRICT, "　◯"},  // first and last trail byte
        {"\x9F\xFC\xE0\x40", STRICT, "滌漾"},  // the leads on both sides of the katakana
        {"\x95\x5C\x81\x5C", STRICT, "表―"},  // trail 5C is no backslash
        {"\x82\xB1\x83\x9F", STRICT, "こΑ"},  // katakana and 80-9F bytes as trails
        {"\x81\x5F\x81\x60", STRICT, "＼～"},  // code page 932's own choices, not JIS X 0208's
        {"\x87\x40\x87\x90", STRICT, "①≒"},  // NEC special characters
        {"\xED\x40\xFA\x40\xFC\x4B", STRICT, "纊ⅰ黑"},  // NEC-selected and IBM extensions, last pair
        {"\x81\xAD\x85\x40\xEF\xFC", STRICT, "\\x81\\xAD\\x85\\x40\\xEF\\xFC"},  // no character
        {"\xF0\x40\xF9\xFC", STRICT, "\\xF0\\x40\\xF9\\xFC"},  // user-defined area
        {"\xFC\x4C", STRICT, "\\xFC\\x4C"},  // past the last IBM extension
        {"\x82\\\\", STRICT, "\\x82\\x5C\\\\"},  // an empty pair with trail 5C, then a backslash
        // lead bytes without a trail byte
        {"A\x82", STRICT, "A\\x82"},  // at the end
        {"A\x82\xA0"sv.substr(0, 2), STRICT, "A\\x82"},  // at the end, a trail byte just past it
        {"\x82 ", STRICT, "\\x82 "},
        {"\x82\n", STRICT, "\\x82\\n"},  // the byte after a lone lead is read afresh
        {"\x82\x3F", STRICT, "\\x82?"},
        {"\x82\x7F", STRICT, "\\x82\\x7F"},
        {"\x82\xFD", STRICT, "\\x82\\xFD"},
        {"\xA0\x40\xFD\x40", STRICT, "\\xA0@\\xFD@"},  // no lead bytes
    };
    for (const Case& c : cases) EXPECT_EQ(show(c.sjis, c.escape), c.utf8) << c.sjis;
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
            const std::string utf8 = show(sjis, STRICT);
            if (utf8.find('\\') != std::string::npos) {
                ASSERT_TRUE(seen.insert(utf8).second) << utf8;
            }
            for (const char ch : utf8) ASSERT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) << utf8;
        }
    }
}

TEST(DisplayWidth, Columns) {
    const std::pair<std::string_view, std::size_t> cases[] = {
        {"", 0},
        {"abc", 3},
        {"あいう", 6},
        {"ｱｲｳ", 3},
        {"漢字ABCｶﾅ", 9},
        {"\\x82\\x40", 8},      // escapes are plain ASCII
        {"　〓", 4},           // U+3000 is Fullwidth, U+3013 Wide
        {"〿", 1},             // U+303F is Neutral, the gap in the CJK symbols block
        {"㈱㍉", 4},           // enclosed and squared CJK
        {"㉈", 1},             // U+3248, Ambiguous inside the enclosed CJK block
        {"①ⅰ─Αж§×", 7},     // Ambiguous: one column
        {"＼～｠｡", 7},         // FF3C, FF5E, FF60 are fullwidth; FF61 starts the half-width forms
        {"￤￦￨", 5},           // FFE4 and FFE6 fullwidth, FFE8 half-width
        {"\xEF\xA8\x8E\xF0\xAF\xA0\x80", 4},  // U+FA0E, U+2F800 (four bytes)
        {"\xE3\x81", 2},       // a cut sequence: each byte one column
        {"\x80" "A\xFF", 3},
    };
    for (const auto& [utf8, width] : cases) EXPECT_EQ(display_width(utf8), width) << utf8;
}

}  // namespace
}  // namespace rekmo
