// Fields under the format's options. A shaped field is written in place:
// the decoder's text first, then trimmed from its end, then quoted by moving
// it one byte on and doubling its quotes from the back.
#include "record/field.hpp"

#include <algorithm>
#include <cstring>

namespace rekmo {
namespace {

bool is_text_item(ItemType type) noexcept {
    switch (type) {
        case ITEM_EBCDIC:
        case ITEM_JIS:
        case ITEM_JEF:
        case ITEM_JEF_N:
        case ITEM_KEIS:
        case ITEM_KEIS_N:
            return true;
        default:
            return false;
    }
}

ZonedSign zoned_sign(SignForm form) noexcept {
    switch (form) {
        case SignForm::LEADING:
            return ZonedSign::LEADING;
        case SignForm::LEADING_SEPARATE:
            return ZonedSign::LEADING_SEPARATE;
        case SignForm::TRAILING_SEPARATE:
            return ZonedSign::TRAILING_SEPARATE;
        case SignForm::TRAILING:
            break;
    }
    return ZonedSign::TRAILING;
}

template <class Decode, class... Report>
std::size_t shaped_text(const FieldShape& shape, Decode decode, std::span<const std::uint8_t> item, std::uint8_t* out,
                        Report&... report) noexcept {
    if (shape.number) return decode_number(item, shape.form, out, report...);
    std::uint8_t* const text = shape.converts() ? out + shape.utf8_at : out;
    std::size_t n = decode(item, text, report...);
    if (!shape.text) return n;
    if (shape.trim) n = shape.utf8_text ? trim_utf8(text, n) : trim_text(text, n);
    // A report takes the reference decoder, the machine over the scalar steps.
    if (shape.converts())
        n = cp932_to_utf8({text, n}, out, sizeof...(report) > 0 ? scalar_kernels() : active_kernels());
    if (shape.quote && needs_quotes<ScalarSteps>(out, n)) n = quote_text(out, n);
    return n;
}

}  // namespace

FieldShape field_shape(const ItemDef& item, const ItemForm& form, std::uint8_t csv) noexcept {
    FieldShape shape;
    if (item.type == ITEM_PACKED || item.type == ITEM_ZONED) {
        shape.number = form.exact;
        shape.form.mode = item.type == ITEM_PACKED ? DECIMAL_PACKED : DECIMAL_ZONED;
        shape.form.sign = item.type == ITEM_ZONED ? zoned_sign(form.sign) : ZonedSign::TRAILING;
        shape.form.digits = form.digits;
        shape.form.scale = form.scale;
    }
    shape.text = is_text_item(item.type);
    shape.quote = (csv & CSV_QUOTE) != 0;
    shape.trim = (csv & CSV_TRIM) != 0;
    shape.utf8 = (csv & CSV_UTF8) != 0;
    return shape;
}

std::size_t field_bound(const FieldShape& shape, std::size_t length, std::size_t decoded) noexcept {
    if (shape.number) return number_bound(length, shape.form);
    if (!shape.text) return decoded;
    // UTF8: the Shift_JIS text at utf8_text_at, its UTF-8 (three bytes at
    // most for one) from the start.
    const std::size_t text = shape.converts() ? utf8_bound(decoded) : decoded;
    const std::size_t room = shape.converts() ? utf8_text_at(decoded) + decoded : decoded;
    return std::max(room, shape.quote ? 2 * text + 2 : text);
}

std::size_t write_shaped_field(const FieldShape& shape, DecodeFn decode, std::span<const std::uint8_t> item,
                               std::uint8_t* out) noexcept {
    return shaped_text(shape, decode, item, out);
}

std::size_t write_shaped_field(const FieldShape& shape, ReportFn decode, std::span<const std::uint8_t> item,
                               std::uint8_t* out, DecodeReport& report) noexcept {
    return shaped_text(shape, decode, item, out, report);
}

std::size_t write_shaped_field(const FieldShape& shape, PageStepFn decode, const void* page,
                               std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return shaped_text(
        shape, [&](std::span<const std::uint8_t> i, std::uint8_t* o) { return decode(i, o, page); }, item, out);
}

std::size_t write_shaped_field(const FieldShape& shape, PageStepReportFn decode, const void* page,
                               std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return shaped_text(
        shape, [&](std::span<const std::uint8_t> i, std::uint8_t* o, DecodeReport& r) { return decode(i, o, page, r); },
        item, out, report);
}

// A byte that can lead a pair: 81-9F or E0-FC. Every one of them can also
// be a pair's second byte.
constexpr bool sjis_lead(std::uint8_t b) noexcept { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// From the back: a character always starts after a byte that cannot lead a
// pair, so of the trailing pairs 81 40 every one after the first starts a
// character (it follows a 40), and the first one does unless an odd run of
// lead bytes stands before it: those pair up from the run's start, and the
// last of them takes the 81 as its second byte, leaving the 40 as '@'.
std::size_t trim_pairs(const std::uint8_t* text, std::size_t n) noexcept {
    constexpr std::uint64_t PAIRS = 0x4081408140814081u;  // 81 40 ... in a little-endian word
    std::uint64_t word;
    while (n >= 2 && text[n - 2] == 0x81 && text[n - 1] == 0x40) {
        while (n >= 8 && (std::memcpy(&word, text + n - 8, 8), word == PAIRS)) n -= 8;
        while (n >= 2 && text[n - 2] == 0x81 && text[n - 1] == 0x40) n -= 2;
        std::size_t leads = 0;
        while (leads < n && sjis_lead(text[n - 1 - leads])) ++leads;
        if (leads % 2 == 1) return n + 2;
        n = trim_spaces(text, n);
    }
    return n;
}

std::size_t quote_text(std::uint8_t* text, std::size_t n) noexcept {
    const std::size_t quotes = static_cast<std::size_t>(std::count(text, text + n, QUOTE));
    std::size_t to = n + quotes + 2;
    text[--to] = QUOTE;
    for (std::size_t from = n; from-- > 0;) {
        text[--to] = text[from];
        if (text[from] == QUOTE) text[--to] = QUOTE;
    }
    text[0] = QUOTE;
    return n + quotes + 2;
}

std::vector<std::uint8_t> header_line(std::span<const std::string_view> names, std::uint8_t csv) {
    std::vector<std::uint8_t> line;
    if ((csv & CSV_BOM) != 0) line.assign(std::begin(UTF8_BOM), std::end(UTF8_BOM));
    if ((csv & CSV_HEADER) == 0) return line;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) line.push_back(SEPARATOR);
        const std::size_t at = line.size();
        const std::string_view name = names[i];
        std::size_t n = name.size();
        if ((csv & CSV_UTF8) != 0) {
            std::vector<std::uint8_t> sjis(name.begin(), name.end());
            line.resize(at + utf8_bound(n));
            n = cp932_to_utf8(sjis, line.data() + at);
        } else {
            line.insert(line.end(), name.begin(), name.end());
        }
        line.resize(at + 2 * n + 2);
        if ((csv & CSV_QUOTE) != 0 && needs_quotes<ScalarSteps>(line.data() + at, n))
            n = quote_text(line.data() + at, n);
        line.resize(at + n);
    }
    line.push_back(LINE_END);
    return line;
}

}  // namespace rekmo
