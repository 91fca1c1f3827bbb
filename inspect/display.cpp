// Code page 932 is Shift_JIS as Windows reads it: ASCII in 20-7E (5C is the
// backslash, 7E the tilde), half-width katakana in A1-DF, and pairs of a lead
// byte (81-9F, E0-FC) and a trail byte (40-7E, 80-FC) for JIS X 0208 and the
// NEC and IBM extensions. Several pairs give the same character (NEC's and
// IBM's copies of one another), so shown text cannot always tell which pair
// it came from; escaped bytes always can.
#include "inspect/display.hpp"

#include <array>

#include "codec/cp932.hpp"
#include "platform/platform.hpp"

namespace rekmo {
namespace {

void append_hex(std::string& out, std::uint8_t byte) {
    constexpr char DIGITS[] = "0123456789ABCDEF";
    out += "\\x";
    out += DIGITS[byte >> 4];
    out += DIGITS[byte & 0x0F];
}

// Code points below U+10000 only: code page 932 produces nothing beyond.
void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr bool is_lead(std::uint8_t b) { return is_cp932_lead(b); }
constexpr bool is_trail(std::uint8_t b) { return is_cp932_trail(b); }

// The pair's character, 0 for none. The user-defined area (the Private Use
// Area) has no glyph on a terminal: it prints as its bytes.
char32_t pair_character(std::uint8_t lead, std::uint8_t trail) {
    const char32_t c = cp932_pair(lead, trail);
    return c >= 0xE000 && c <= 0xF8FF ? 0 : c;
}

}  // namespace

std::string sjis_to_utf8(std::span<const std::uint8_t> sjis, Escape escape) {
    std::string out;
    out.reserve(sjis.size());  // every byte gives at least one
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const std::uint8_t b = sjis[i];
        if (b == '\\' && escape == Escape::CONTROLS_AND_BACKSLASH) {
            out += "\\\\";
        } else if (b >= 0x20 && b <= 0x7E) {
            out += static_cast<char>(b);
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b >= 0xA1 && b <= 0xDF) {  // half-width katakana
            append_utf8(out, 0xFF61 + (b - 0xA1u));
        } else if (is_lead(b) && i + 1 < sjis.size() && is_trail(sjis[i + 1])) {
            if (const char32_t cp = pair_character(b, sjis[i + 1]); cp != 0) {
                append_utf8(out, cp);
            } else {
                append_hex(out, b);
                append_hex(out, sjis[i + 1]);
            }
            ++i;
        } else {  // other controls, 7F, 80, A0, FD-FF, a lead without its trail
            append_hex(out, b);
        }
    }
    return out;
}

std::string utf8_shown(std::span<const std::uint8_t> utf8, Escape escape) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const std::uint8_t b = utf8[i];
        if (b == '\\' && escape == Escape::CONTROLS_AND_BACKSLASH) {
            out += "\\\\";
        } else if (b >= 0x20 && b <= 0x7E) {
            out += static_cast<char>(b);
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b >= 0xC2 && b <= 0xF4) {
            // A whole sequence (its continuation bytes 80-BF) is a character.
            const std::size_t length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            std::size_t k = 1;
            while (k < length && i + k < utf8.size() && (utf8[i + k] & 0xC0) == 0x80) ++k;
            if (k == length) {
                out.append(reinterpret_cast<const char*>(utf8.data() + i), length);
                i += length - 1;
            } else {
                append_hex(out, b);
            }
        } else {  // other controls, 7F, a continuation byte alone, C0, C1, F5-FF
            append_hex(out, b);
        }
    }
    return out;
}

std::string shown_text(std::string_view text) {
    const platform::MessagePart value{text, false};
    return platform::render_message({&value, 1}, "UTF-8");
}

namespace {

struct Range {
    char32_t first, last;
};

// East Asian Width W and F. Of what code page 932 produces, that is the
// ideographic space, CJK punctuation, kana, the enclosed and squared CJK
// signs (U+3231-32A8, U+3303-33CD), the ideographs and the fullwidth forms.
// Its Greek, Cyrillic, box drawing, circled digits (U+2460-2473), Roman
// numerals, arrows and math signs are Ambiguous, which counts 1 here as on
// most terminals outside a CJK locale. Emoji and other wide symbols outside
// these blocks never come out of code page 932 and count 1.
constexpr std::array<Range, 14> WIDE = {{
    {0x1100, 0x115F},    // Hangul leading jamo
    {0x2E80, 0x303E},    // CJK radicals, ideographic description, CJK symbols and punctuation
    {0x3041, 0x3247},    // kana, bopomofo, Hangul compatibility jamo, kanbun, strokes, enclosed CJK
    {0x3250, 0x4DBF},    // enclosed CJK (from 3248-324F, Ambiguous), CJK compatibility, extension A
    {0x4E00, 0xA4CF},    // CJK unified ideographs, Yi
    {0xA960, 0xA97F},    // Hangul jamo extended A
    {0xAC00, 0xD7A3},    // Hangul syllables
    {0xF900, 0xFAFF},    // CJK compatibility ideographs
    {0xFE10, 0xFE19},    // vertical forms
    {0xFE30, 0xFE6F},    // CJK compatibility forms, small form variants
    {0xFF00, 0xFF60},    // fullwidth forms (the half-width katakana follow, narrow)
    {0xFFE0, 0xFFE6},    // fullwidth signs
    {0x20000, 0x2FFFD},  // CJK ideographs, supplementary planes
    {0x30000, 0x3FFFD},
}};

std::size_t width_of(char32_t cp) {
    for (const Range& r : WIDE) {
        if (cp < r.first) return 1;
        if (cp <= r.last) return 2;
    }
    return 1;
}

}  // namespace

std::size_t display_width(std::string_view utf8) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<std::uint8_t>(utf8[i]);
        const std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        char32_t cp = length == 4 ? b & 0x07u : length == 3 ? b & 0x0Fu : b & 0x1Fu;
        std::size_t k = 1;
        for (; k < length && i + k < utf8.size(); ++k) {
            const auto c = static_cast<std::uint8_t>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) break;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        // A byte that starts no complete sequence counts 1, as the replacement
        // character a terminal shows for it; the bytes after it are read afresh.
        if (length > 1 && k == length) {
            width += width_of(cp);
            i += length;
        } else {
            width += 1;
            i += 1;
        }
    }
    return width;
}

}  // namespace rekmo
