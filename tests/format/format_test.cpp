// Every format text of tests/data/formats.txt read and checked: the fault (or
// OK), the record length and every item read must be the row's outcome.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

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

const char* const RESULTS[] = {"OK",           "USAGE",     "CANNOT_OPEN", "SIZE_MISMATCH", "READ_ERROR",
                               "WRITE_ERROR",  "ITEM_SIZE", "ITEM_TYPE",   "ITEM_POSITION", "RECORD_LENGTH",
                               "HOST_CODE",    "OUT_OF_MEMORY"};
const char* const HOST_CODES[] = {"", " JEF", " KEIS78", " KEIS83"};
const char* const TYPES[] = {"-", "E", "P", "Z", "J", "F", "FN", "K", "KN"};

std::string outcome(const FormatError& error, const FormatDef& def) {
    std::string out = RESULTS[static_cast<int>(error.result)];
    if (error.item_number != 0) out += "#" + std::to_string(error.item_number);
    if (error.result == Result::HOST_CODE) out += "(" + error.value + ")";
    out += " " + std::to_string(def.record_length) + HOST_CODES[static_cast<int>(def.host_code)];
    for (const ItemDef& item : def.items) {
        out += " | ";
        for (const char c : item.name) {
            const auto b = static_cast<unsigned char>(c);
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += b > 0x20 && b < 0x7F ? std::string(1, c) : hex;
        }
        out += " " + std::to_string(item.start) + " " + std::to_string(item.length) + " " + TYPES[item.type] + " " +
               std::to_string(item.output);
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
