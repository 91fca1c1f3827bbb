// Every format text of tests/data/formats.txt read and checked: the fault (or
// OK), the record length and every item read must be the row's outcome.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "format/format.hpp"

namespace rekmo {
namespace {

// A sequence of C strings, each optionally followed by *N.
std::string parse_text(const std::string& source) {
    std::string out;
    for (std::size_t i = source.find('"'); i != std::string::npos; i = source.find('"', i)) {
        std::string unit;
        for (++i; source[i] != '"'; ++i) {
            if (source[i] != '\\') {
                unit += source[i];
                continue;
            }
            const char c = source[++i];
            if (c == 'x') {
                unit += static_cast<char>(std::stoi(source.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                unit += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
            }
        }
        ++i;
        int repeat = 1;
        if (i < source.size() && source[i] == '*') repeat = std::stoi(source.substr(i + 1));
        while (repeat-- > 0) out += unit;
    }
    return out;
}

const char* const RESULTS[] = {
    "OK",        "USAGE",         "CANNOT_OPEN",   "SIZE_MISMATCH",    "READ_ERROR", "WRITE_ERROR",
    "ITEM_SIZE", "ITEM_TYPE",     "ITEM_POSITION", "RECORD_LENGTH",    "HOST_CODE",  "FORMAT_SIZE",
    "OPTION",    "OUT_OF_MEMORY", "RECORD_KIND",   "RECORD_DESCRIPTOR"};
const char* const HOST_CODES[] = {"", " JEF", " KEIS78", " KEIS83"};
const char* const TYPES[] = {"-", "E", "P", "Z", "J", "F", "FN", "K", "KN"};
const char* const OPTION_KINDS[] = {"CSV", "SCALE", "SIGN", "DIGITS", "KIND", "RECFM", "GAIJI"};
const char* const GAIJI_CODES[] = {"JEF", "KEIS", "EBCDIC"};
const char* const RECORD_FORMATS[] = {"F", "V", "VB"};
const char* const CSV_WORD_NAMES[] = {"QUOTE", "HEADER", "EXACT", "TRIM", "UTF8", "BOM"};
const char* const SIGN_FORMS[] = {"TRAILING", "LEADING", "LEADING SEPARATE", "TRAILING SEPARATE"};

// Bytes outside 21-7E as \xHH.
std::string shown(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        out += b > 0x20 && b < 0x7F ? std::string(1, c) : hex;
    }
    return out;
}

// An option line as its fields were read: +KIND=fields, or +?text when it is
// malformed.
std::string option_outcome(const OptionLine& option) {
    if (!option.well_formed) return " +?" + shown(option.text);
    std::string out = std::string(" +") + OPTION_KINDS[static_cast<int>(option.kind)] + "=";
    switch (option.kind) {
        case OptionKind::CSV:
            for (int w = 0; w < static_cast<int>(std::size(CSV_WORD_NAMES)); ++w) {
                if ((option.words >> w) & 1u) out += std::string(out.back() == '=' ? "" : ",") + CSV_WORD_NAMES[w];
            }
            return out;
        case OptionKind::SCALE:
            return out + shown(option.name) + "," + std::to_string(option.scale);
        case OptionKind::SIGN:
            return out + shown(option.name) + "," + SIGN_FORMS[static_cast<int>(option.sign)];
        case OptionKind::DIGITS:
            return out + shown(option.name);
        case OptionKind::KIND: {
            const KindTest& test = option.kind_test;
            out += std::to_string(test.start + 1) + "," + std::to_string(test.length) + ",";
            if (!test.raw) return out + shown(test.value);
            out += "X'";
            for (const char c : test.value) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
                out += hex;
            }
            return out + "'";
        }
        case OptionKind::RECFM:
            return out + RECORD_FORMATS[static_cast<int>(option.record_format)];
        case OptionKind::GAIJI:
            return out + GAIJI_CODES[static_cast<int>(option.gaiji_code)] + "," + shown(option.path);
    }
    return out;
}

std::string outcome(const FormatError& error, const FormatDef& def) {
    std::string out = RESULTS[static_cast<int>(error.result)];
    if (error.item_number != 0) out += "#" + std::to_string(error.item_number);
    if (error.result == Result::HOST_CODE || error.result == Result::OPTION) out += "(" + error.value + ")";
    out += " " + std::to_string(def.record_length) + HOST_CODES[static_cast<int>(def.host_code)];
    for (const OptionLine& option : def.options) out += option_outcome(option);
    if (const std::uint8_t words = csv_words(def); words != 0) {
        out += " csv";
        for (int w = 0; w < static_cast<int>(std::size(CSV_WORD_NAMES)); ++w)
            out += (words >> w) & 1u ? std::string(" ") + CSV_WORD_NAMES[w] : "";
    }
    const std::vector<ItemForm> forms = item_forms(def);
    for (std::size_t i = 0; i < def.items.size(); ++i) {
        const ItemDef& item = def.items[i];
        out += " | " + shown(item.name) + " " + std::to_string(item.start) + " " + std::to_string(item.length) + " " +
               TYPES[item.type] + " " + std::to_string(item.output);
        // What the option lines make of it: {exact scale N sign FORM digits}.
        const ItemForm& form = forms[i];
        if (!form.exact) continue;
        out += " {exact";
        if (form.scale != 0) out += " scale " + std::to_string(form.scale);
        if (form.sign != SignForm::TRAILING) out += std::string(" sign ") + SIGN_FORMS[static_cast<int>(form.sign)];
        if (form.digits) out += " digits";
        out += "}";
    }
    return out;
}

TEST(Formats, ReadAsTheTableSays) {
    std::ifstream file(REKMO_SOURCE_DIR "/tests/data/formats.txt");
    ASSERT_TRUE(file) << "no tests/data/formats.txt";
    int rows = 0, number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::size_t arrow = line.rfind("=>");
        if (line.empty() || line[0] != '"' || arrow == std::string::npos) continue;
        std::string expected = line.substr(arrow + 2, line.find(" # ", arrow) - arrow - 2);
        expected = expected.substr(expected.find_first_not_of(' '));
        expected = expected.substr(0, expected.find_last_not_of(' ') + 1);
        const std::string text = parse_text(line.substr(0, arrow));
        FormatDef def;
        const FormatError error = parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, def);
        EXPECT_EQ(outcome(error, def), expected) << "formats.txt:" << number;
        if (error.result == Result::RECORD_LENGTH) {
            EXPECT_EQ(error.record_length, def.record_length) << number;
        }
        ++rows;
    }
    EXPECT_GT(rows, 50);
}

}  // namespace
}  // namespace rekmo
