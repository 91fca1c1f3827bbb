// The layout as format-file text, and the check that the format reader reads
// back exactly that layout.
#include <string_view>
#include <unordered_set>

#include "copybook/copybook.hpp"

namespace rekmo::copybook {
namespace {

constexpr std::size_t MAX_COMMENT = 400;  // well inside the reader's 1023-byte lines

// A comment stays one line: control bytes become '?', and a long one is cut.
void append_comment(std::string& out, std::string_view text) {
    out += "# ";
    for (const char c : text.substr(0, MAX_COMMENT)) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    out += '\n';
}

const char* type_letters(ItemType type) {
    switch (type) {
        case ITEM_EBCDIC:
            return "E";
        case ITEM_PACKED:
            return "P";
        case ITEM_ZONED:
            return "Z";
        case ITEM_JIS:
            return "J";
        case ITEM_JEF:
            return "F";
        case ITEM_JEF_N:
            return "FN";
        case ITEM_KEIS:
            return "K";
        case ITEM_KEIS_N:
            return "KN";
        case ITEM_NONE:
            break;
    }
    return "?";
}

// The CSV line's words, in the order the README gives them.
std::string csv_line(std::uint8_t words) {
    static constexpr std::pair<CsvWord, std::string_view> WORDS[] = {
        {CSV_QUOTE, "QUOTE"}, {CSV_HEADER, "HEADER"}, {CSV_EXACT, "EXACT"}, {CSV_TRIM, "TRIM"}};
    std::string line = "CSV=";
    for (const auto& [word, text] : WORDS) {
        if ((words & word) == 0) continue;
        if (line.size() > 4) line += ',';
        line += text;
    }
    return line + "\n";
}

// The SCALE, SIGN and DIGITS lines that give an item of `name` its form.
std::string option_lines(const std::string& name, const ItemForm& form) {
    std::string out;
    if (form.scale != 0) out += "SCALE=" + name + "," + std::to_string(form.scale) + "\n";
    switch (form.sign) {
        case SignForm::TRAILING:
            break;
        case SignForm::LEADING:
            out += "SIGN=" + name + ",LEADING\n";
            break;
        case SignForm::LEADING_SEPARATE:
            out += "SIGN=" + name + ",LEADING SEPARATE\n";
            break;
        case SignForm::TRAILING_SEPARATE:
            out += "SIGN=" + name + ",TRAILING SEPARATE\n";
            break;
    }
    if (form.digits) out += "DIGITS=" + name + "\n";
    return out;
}

const char* recfm_word(RecordForm form) {
    switch (form) {
        case RecordForm::F:
            return "F";
        case RecordForm::FB:
            return "FB";
        case RecordForm::V:
            return "V";
        case RecordForm::VB:
            return "VB";
        case RecordForm::NONE:
            break;
    }
    return "";
}

bool is_variable(RecordForm form) { return form == RecordForm::V || form == RecordForm::VB; }

// The RECLEN a V record's RDW adds its 4 bytes to.
std::int32_t reclen(const Layout& layout) { return layout.record_length + (is_variable(layout.recfm) ? 4 : 0); }

RecordFormat record_format_of(RecordForm form) {
    return form == RecordForm::V ? RecordFormat::V : form == RecordForm::VB ? RecordFormat::VB : RecordFormat::F;
}

}  // namespace

std::string kind_value(std::string_view value, bool raw) {
    if (!raw) return std::string(value);
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text = "X'";
    for (const char c : value) {
        text += DIGITS[static_cast<std::uint8_t>(c) >> 4];
        text += DIGITS[static_cast<std::uint8_t>(c) & 0x0F];
    }
    return text + "'";
}

bool same_form(const ItemForm& a, const ItemForm& b) {
    return a.exact == b.exact && a.digits == b.digits && a.scale == b.scale && a.sign == b.sign;
}

std::string format_text(const Layout& layout, const std::vector<std::string>& header) {
    std::string out;
    for (const std::string& line : header) append_comment(out, line);
    if (layout.recfm != RecordForm::NONE) out += "RECFM=" + std::string(recfm_word(layout.recfm)) + "\n";
    out += "RECLEN=" + std::to_string(reclen(layout)) + "\n";
    if (layout.csv_words != 0) out += csv_line(layout.csv_words);
    std::unordered_set<std::string_view> named;  // names whose option lines are written
    for (const Line& line : layout.lines) {
        append_comment(out, line.comment);
        if (const auto& kind = line.kind) {
            out += "KIND=" + std::to_string(kind->start + 1) + "," + std::to_string(kind->length) + "," +
                   kind_value(kind->value, kind->raw) + "\n";
        }
        if (line.item.length == 0) continue;
        const ItemDef& item = line.item;
        out += item.name + "," + std::to_string(item.start + 1) + "," + std::to_string(item.length) + "," +
               type_letters(item.type) + "," + std::to_string(item.output) + "\n";
        // The first P or Z item of the name: an E item of that name takes no line.
        const bool number = item.type == ITEM_PACKED || item.type == ITEM_ZONED;
        if (number && named.insert(item.name).second) out += option_lines(item.name, line.form);
    }
    return out;
}

bool reads_back(std::string_view text, const Layout& layout, Error& error) {
    FormatDef def;
    const FormatError loaded = parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, def);
    std::size_t n = 0;
    bool same = loaded.result == Result::OK && def.record_length == reclen(layout) &&
                csv_words(def) == layout.csv_words && record_format(def) == record_format_of(layout.recfm);
    const std::vector<ItemForm> forms = same ? item_forms(def) : std::vector<ItemForm>{};
    const std::vector<KindBlock> blocks = same ? kind_blocks(def) : std::vector<KindBlock>{};
    std::size_t b = 0;
    for (const Line& line : layout.lines) {
        if (line.kind) {
            const KindTest& want = *line.kind;
            same = same && b < blocks.size() && blocks[b].first_item == n &&
                   blocks[b].line->kind_test.start == want.start && blocks[b].line->kind_test.length == want.length &&
                   blocks[b].line->kind_test.value == want.value && blocks[b].line->kind_test.raw == want.raw;
            ++b;
        }
        if (line.item.length == 0) continue;
        const ItemDef& want = line.item;
        same = same && n < def.items.size() && def.items[n].name == want.name && def.items[n].start == want.start &&
               def.items[n].length == want.length && def.items[n].type == want.type &&
               def.items[n].output == want.output && same_form(forms[n], line.form);
        ++n;
    }
    if (same && n == def.items.size() && b == blocks.size()) return true;
    error = Error{Fault::COPYBOOK, Location{},
                  "the format file written does not read back as the layout (format reader result " +
                      std::to_string(static_cast<int>(loaded.result)) + ", item " + std::to_string(loaded.item_number) +
                      "); nothing was written"};
    return false;
}

}  // namespace rekmo::copybook
