// Every item of tests/data/items.txt converted alone, through the converter's
// item texts (with findings) and through a whole line (without): both must
// give the row's text, and the item its findings. A row may give option
// lines of the format: then the text is the field as they write it.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "rekmo/rekmo.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hex pairs, "ASCII", J's escape sequences, each optionally followed by *N.
Bytes parse_bytes(const std::string& text) {
    Bytes out;
    for (std::size_t i = text.find_first_not_of(' '); i < text.size(); i = text.find_first_not_of(' ', i)) {
        std::string unit;
        if (text[i] == '"') {
            const std::size_t close = text.find('"', i + 1);
            unit = text.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const std::size_t end = std::min(text.find_first_of(" *", i), text.size());
            unit = text.substr(i, end - i);
            if (unit.starts_with("ESC")) {
                unit = "\x1B" + unit.substr(3);
            } else {
                std::size_t used = 0;
                const int value = unit.size() == 2 ? std::stoi(unit, &used, 16) : 0;
                if (used != 2) throw std::runtime_error("not a byte: " + unit);
                unit = std::string(1, static_cast<char>(value));
            }
            i = end;
        }
        int repeat = 1;
        if (i < text.size() && text[i] == '*') repeat = std::stoi(text.substr(++i));
        i = std::min(text.find(' ', i), text.size());
        while (repeat-- > 0) out.insert(out.end(), unit.begin(), unit.end());
    }
    return out;
}

std::optional<std::uint32_t> parse_findings(const std::string& text) {
    std::istringstream words(text);
    std::uint32_t bits = 0;
    bool any = false;
    for (std::string word; words >> word; any = true) {
        if (word == "none") continue;
        int k = 0;
        while (k < FINDING_KINDS && word != FINDING_NAMES[k]) ++k;
        if (k == FINDING_KINDS) throw std::runtime_error("no such finding: " + word);
        bits |= 1u << k;
    }
    return any ? std::optional<std::uint32_t>(bits) : std::nullopt;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) out += "0123456789ABCDEF"[b >> 4], out += "0123456789ABCDEF"[b & 15], out += ' ';
    return out;
}

TEST(Items, ConvertAsTheTableSays) {
    std::ifstream file(REKMO_SOURCE_DIR "/tests/data/items.txt");
    ASSERT_TRUE(file) << "no tests/data/items.txt";
    int rows = 0, number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        const std::size_t arrow = line.find("=>");
        if (arrow == std::string::npos) continue;
        const std::size_t bar = line.find('|', arrow);
        std::istringstream left(line.substr(0, arrow));
        std::string type;
        left >> type;
        auto item_at = static_cast<std::size_t>(left.tellg());
        // [LINE;LINE]: option lines of the format, naming the item X.
        std::string options;
        if (const std::size_t open = line.find_first_not_of(' ', item_at); open < arrow && line[open] == '[') {
            const std::size_t close = line.find(']', open);
            std::istringstream lines(line.substr(open + 1, close - open - 1));
            for (std::string option; std::getline(lines, option, ';');) options += option + "\n";
            item_at = close + 1;
        }
        const Bytes item = parse_bytes(line.substr(item_at, arrow - item_at));
        const Bytes expected =
            parse_bytes(line.substr(arrow + 2, bar == std::string::npos ? std::string::npos : bar - arrow - 2));
        const auto findings = bar == std::string::npos ? std::nullopt : parse_findings(line.substr(bar + 1));
        ++rows;

        // TYPE/PAGE: the item under HOSTCODE=PAGE.
        const std::size_t slash = type.find('/');
        const std::string host_code = slash == std::string::npos ? "" : "HOSTCODE=" + type.substr(slash + 1) + "\n";
        const std::string format = host_code + options + "RECLEN=" + std::to_string(item.size()) + "\nX,1," +
                                   std::to_string(item.size()) + "," + type.substr(0, slash) + ",1\n";
        FormatDef def;
        Converter converter;
        ASSERT_EQ(parse_format({reinterpret_cast<const std::uint8_t*>(format.data()), format.size()}, def).result,
                  Result::OK)
            << number;
        ASSERT_EQ(converter.open(def).result, Result::OK) << number;
        ItemTexts texts;
        Bytes lines;
        ASSERT_EQ(converter.item_texts(item, texts, true), Result::OK);
        ASSERT_EQ(converter.convert(item, lines), Result::OK);
        const std::span<const std::uint8_t> text = texts.text(0);
        EXPECT_EQ(hex(text), hex(expected)) << "items.txt:" << number;
        EXPECT_EQ(hex(lines), hex(expected) + "0A ") << "items.txt:" << number << ", as a line";
        // Among many records: the line kernels take all but the last few.
        Bytes records, many_lines, expected_lines;
        for (int r = 0; r < 80; ++r) {
            records.insert(records.end(), item.begin(), item.end());
            expected_lines.insert(expected_lines.end(), lines.begin(), lines.end());
        }
        ASSERT_EQ(converter.convert(records, many_lines), Result::OK);
        EXPECT_TRUE(many_lines == expected_lines) << "items.txt:" << number << ", among 80 records";
        if (findings) {
            std::string names;
            for (int k = 0; k < FINDING_KINDS; ++k) {
                if ((texts.findings[0] >> k) & 1u) names += std::string(FINDING_NAMES[k]) + " ";
            }
            EXPECT_EQ(texts.findings[0], *findings) << "items.txt:" << number << ": found " << names;
        }
    }
    EXPECT_GT(rows, 100);
}

}  // namespace
}  // namespace rekmo
