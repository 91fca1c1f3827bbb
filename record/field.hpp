// One output item's text as the format's options write it: numbers printed
// exactly (CSV=EXACT, SCALE, SIGN, DIGITS), texts trimmed (TRIM) and quoted
// (QUOTE), and the header line (HEADER). Without options a field is its
// decoder's text, and nothing here runs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "codec/cp932.hpp"
#include "codec/number.hpp"
#include "codec/report.hpp"
#include "codec/steps.hpp"
#include "format/format.hpp"
#include "record/item_table.hpp"

namespace rekmo {

// A CSV line: fields joined by a comma, the line ended by a line feed alone.
inline constexpr std::uint8_t SEPARATOR = ',';
inline constexpr std::uint8_t LINE_END = '\n';
inline constexpr std::uint8_t QUOTE = '"';
// What makes a text need quotes under CSV=QUOTE.
inline constexpr std::uint8_t QUOTE_BYTES[] = {QUOTE, SEPARATOR, '\r', LINE_END};
inline constexpr ByteSet QUOTE_NEEDED = byte_set(QUOTE_BYTES);
static_assert(QUOTE_NEEDED.has(QUOTE) && QUOTE_NEEDED.has(SEPARATOR) && QUOTE_NEEDED.has('\r') &&
              QUOTE_NEEDED.has(LINE_END));

struct FieldShape {
    bool number = false;  // a P or Z item printed by `form`
    NumberForm form;
    bool text = false;       // an E, J, K, KN, F or FN item
    bool quote = false;      // CSV=QUOTE
    bool trim = false;       // CSV=TRIM
    bool utf8 = false;       // CSV=UTF8: a text in UTF-8
    bool utf8_text = false;  // UTF8, and the decoder writes UTF-8 itself (a host code page's characters)
    // UTF8: where in the field's bytes the decoder's Shift_JIS text goes
    // (utf8_text_at), so that its UTF-8 can be written from the field's
    // start. Set with the plan.
    std::size_t utf8_at = 0;

    // False when the field is its decoder's text, byte for byte.
    bool changes_text() const noexcept { return number || (text && (quote || trim || (utf8 && !utf8_text))); }
    // UTF8: the decoder's Shift_JIS text is turned into UTF-8.
    bool converts() const noexcept { return utf8 && !utf8_text; }
};

// Where a field's Shift_JIS text of at most `decoded` bytes lies when it is
// turned into UTF-8 in place: 2 * decoded + 2 bytes on, as code page 932's
// decoder needs (codec/cp932.hpp), and STEP_REACH more, as far as the
// record lines' steps may write past three bytes for each byte read.
constexpr std::size_t utf8_text_at(std::size_t decoded) noexcept { return 2 * decoded + 2 + STEP_REACH; }

// The shape of an item under the CsvWord bits `csv` and its ItemForm.
FieldShape field_shape(const ItemDef& item, const ItemForm& form, std::uint8_t csv) noexcept;

// Worst-case bytes of the field of an item of `length` bytes whose decoder
// writes at most `decoded`.
std::size_t field_bound(const FieldShape& shape, std::size_t length, std::size_t decoded) noexcept;

// Writes the field of a shaped item into `out` (field_bound bytes) and
// returns its length: the number, or the decoder's text trimmed and quoted.
std::size_t write_shaped_field(const FieldShape& shape, DecodeFn decode, std::span<const std::uint8_t> item,
                               std::uint8_t* out) noexcept;
// The same through the reporting decoder.
std::size_t write_shaped_field(const FieldShape& shape, ReportFn decode, std::span<const std::uint8_t> item,
                               std::uint8_t* out, DecodeReport& report) noexcept;
// The same through a page made at run time.
std::size_t write_shaped_field(const FieldShape& shape, PageStepFn decode, const void* page,
                               std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;
std::size_t write_shaped_field(const FieldShape& shape, PageStepReportFn decode, const void* page,
                               std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;

// Trailing spaces removed from a text that ends in 81 40, which is an
// ideographic space only where it is a whole character (81 81 40 is the pair
// 81 81 and then '@'). Returns the new length.
std::size_t trim_pairs(const std::uint8_t* text, std::size_t n) noexcept;

// Trailing 20s removed, eight bytes at a time: in a little-endian word the
// text's last byte is the highest, so its trailing spaces are the zero bytes
// at the top of word ^ SPACES.
[[gnu::always_inline]] inline std::size_t trim_spaces(const std::uint8_t* text, std::size_t n) noexcept {
    constexpr std::uint64_t SPACES = 0x2020202020202020u;
    if constexpr (std::endian::native == std::endian::little) {
        for (std::uint64_t word; n >= 8; n -= 8) {
            std::memcpy(&word, text + n - 8, 8);
            if (word != SPACES) return n - static_cast<std::size_t>(std::countl_zero(word ^ SPACES)) / 8;
        }
    }
    while (n > 0 && text[n - 1] == ' ') --n;
    return n;
}

// Trailing spaces removed: 20, and 81 40 where it is a whole Shift_JIS
// character. 20 is never the second byte of a pair, so spaces go from the
// back. Always inline: the record lines call it.
[[gnu::always_inline]] inline std::size_t trim_text(const std::uint8_t* text, std::size_t n) noexcept {
    n = trim_spaces(text, n);
    return n >= 2 && text[n - 2] == 0x81 && text[n - 1] == 0x40 ? trim_pairs(text, n) : n;
}

// Trailing spaces removed from UTF-8 text: 20, and E3 80 80 (U+3000, the
// ideographic space). Neither is ever part of another character. Runs of
// 20 eight bytes at a time (trim_spaces), runs of U+3000 eight at a time.
inline std::size_t trim_utf8(const std::uint8_t* text, std::size_t n) noexcept {
    static constexpr std::uint8_t IDEOGRAPHIC_SPACES[24] = {0xE3, 0x80, 0x80, 0xE3, 0x80, 0x80, 0xE3, 0x80,
                                                            0x80, 0xE3, 0x80, 0x80, 0xE3, 0x80, 0x80, 0xE3,
                                                            0x80, 0x80, 0xE3, 0x80, 0x80, 0xE3, 0x80, 0x80};
    for (;;) {
        n = trim_spaces(text, n);
        if (n < 3 || text[n - 3] != 0xE3 || text[n - 2] != 0x80 || text[n - 1] != 0x80) return n;
        while (n >= 24 && std::memcmp(text + n - 24, IDEOGRAPHIC_SPACES, 24) == 0) n -= 24;
        while (n >= 3 && text[n - 3] == 0xE3 && text[n - 2] == 0x80 && text[n - 1] == 0x80) n -= 3;
    }
}

// Under QUOTE: whether a text needs quotes: it is empty, or holds '"', ',',
// CR or LF. (No Shift_JIS trail byte is one of the four, so a pair is never
// split.) Searched through the steps S (codec/steps.hpp).
template <class S>
[[gnu::always_inline]] inline bool needs_quotes(const std::uint8_t* text, std::size_t n) noexcept {
    return n == 0 || S::find_any(text, text + n, QUOTE_NEEDED) != text + n;
}

// The text enclosed in '"' with each '"' doubled, in place (`text` holds
// 2n + 2 bytes). Returns the new length.
std::size_t quote_text(std::uint8_t* text, std::size_t n) noexcept;

// The header line: the names, joined by ',', each quoted as a text under
// QUOTE and in UTF-8 under UTF8, then 0A; under BOM the byte-order mark
// first. `csv`: the CsvWord bits. May throw std::bad_alloc.
std::vector<std::uint8_t> header_line(std::span<const std::string_view> names, std::uint8_t csv);

// The byte-order mark of UTF-8.
inline constexpr std::uint8_t UTF8_BOM[3] = {0xEF, 0xBB, 0xBF};

}  // namespace rekmo
