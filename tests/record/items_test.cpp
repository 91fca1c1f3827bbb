// Every item of tests/data/items.txt converted alone, through the converter's
// item texts (with findings) and through a whole line (without), and on every
// level of vector kernels: each must give the row's text, and the item its
// findings. A row may give option lines of the format: then the text is the
// field as they write it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "rekmo/rekmo.hpp"
#include "support/levels.hpp"

namespace rekmo {
namespace {

using test::Bytes;

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

struct Row {
    int line = 0;         // in items.txt
    std::string type;     // TYPE or TYPE/PAGE
    std::string options;  // option lines of the format, each ended by '\n'
    Bytes item, text;
    std::optional<std::uint32_t> findings;
    FormatDef format;  // the item alone in a record, under its page
};

const std::vector<Row>& rows() {
    static const std::vector<Row> table = [] {
        std::vector<Row> out;
        std::ifstream file(REKMO_SOURCE_DIR "/tests/data/items.txt");
        int number = 0;
        for (std::string line; std::getline(file, line);) {
            ++number;
            line = line.substr(0, line.find('#'));
            const std::size_t arrow = line.find("=>");
            if (arrow == std::string::npos) continue;
            const std::size_t bar = line.find('|', arrow);
            Row row;
            row.line = number;
            std::istringstream left(line.substr(0, arrow));
            left >> row.type;
            auto item_at = static_cast<std::size_t>(left.tellg());
            // [LINE;LINE]: option lines of the format, naming the item X.
            if (const std::size_t open = line.find_first_not_of(' ', item_at); open < arrow && line[open] == '[') {
                const std::size_t close = line.find(']', open);
                std::istringstream lines(line.substr(open + 1, close - open - 1));
                for (std::string option; std::getline(lines, option, ';');) row.options += option + "\n";
                item_at = close + 1;
            }
            row.item = parse_bytes(line.substr(item_at, arrow - item_at));
            row.text =
                parse_bytes(line.substr(arrow + 2, bar == std::string::npos ? std::string::npos : bar - arrow - 2));
            if (bar != std::string::npos) row.findings = parse_findings(line.substr(bar + 1));
            const std::size_t slash = row.type.find('/');
            const std::string host_code =
                slash == std::string::npos ? "" : "HOSTCODE=" + row.type.substr(slash + 1) + "\n";
            row.format =
                test::format_of(host_code + row.options + "RECLEN=" + std::to_string(row.item.size()) + "\nX,1," +
                                std::to_string(row.item.size()) + "," + row.type.substr(0, slash) + ",1\n");
            out.push_back(std::move(row));
        }
        return out;
    }();
    return table;
}

// Through the public converter: the item texts with their findings, and one
// line.
TEST(Items, ConvertAsTheTableSays) {
    ASSERT_GT(rows().size(), 100u) << "tests/data/items.txt";
    for (const Row& row : rows()) {
        Converter converter;
        ASSERT_EQ(converter.open(row.format).result, Result::OK) << row.line;
        ItemTexts texts;
        Bytes lines;
        ASSERT_EQ(converter.item_texts(row.item, texts, true), Result::OK);
        ASSERT_EQ(converter.convert(row.item, lines), Result::OK);
        EXPECT_EQ(hex(texts.text(0)), hex(row.text)) << "items.txt:" << row.line;
        // One column's text written in place: no byte past its bound.
        const std::size_t bound = converter.columns()[0].bound;
        Bytes own(bound + 16, 0xEE);
        const std::size_t length = converter.column_text(0, row.item, own.data());
        EXPECT_LE(length, bound) << "items.txt:" << row.line;
        EXPECT_EQ(std::count(own.begin() + static_cast<std::ptrdiff_t>(bound), own.end(), 0xEE), 16)
            << "items.txt:" << row.line;
        own.resize(std::min(length, own.size()));
        EXPECT_EQ(hex(own), hex(row.text)) << "items.txt:" << row.line << ", alone";
        EXPECT_EQ(hex(lines), hex(row.text) + "0A ") << "items.txt:" << row.line << ", as a line";
        if (row.findings) {
            std::string names;
            for (int k = 0; k < FINDING_KINDS; ++k) {
                if ((texts.findings[0] >> k) & 1u) names += std::string(FINDING_NAMES[k]) + " ";
            }
            EXPECT_EQ(texts.findings[0], *row.findings) << "items.txt:" << row.line << ": found " << names;
        }
    }
}

// On each level: the decoder's form that takes the level's kernels, and 80
// records in a row through the level's line kernel (which takes all but the
// last few).
class ItemsOnLevel : public test::LevelTest {};

TEST_P(ItemsOnLevel, ConvertAsTheTableSays) {
    for (const Row& row : rows()) {
        // A decoder alone writes no option's form.
        const test::LevelDecoder* decoder = row.options.empty() ? test::level_decoder(row.type) : nullptr;
        if (decoder != nullptr) {
            EXPECT_EQ(hex(test::decode_at(*decoder, row.item, kernels())), hex(row.text)) << "items.txt:" << row.line;
        }
        Bytes records;
        std::string expected;
        for (int r = 0; r < 80; ++r) {
            records.insert(records.end(), row.item.begin(), row.item.end());
            expected.append(row.text.begin(), row.text.end()) += '\n';
        }
        EXPECT_TRUE(test::same(test::level_lines(row.format, records, kernels()), expected))
            << "items.txt:" << row.line << ", among 80 records";
    }
}

INSTANTIATE_TEST_SUITE_P(, ItemsOnLevel, testing::ValuesIn(test::EVERY_LEVEL), test::level_param_name);

}  // namespace
}  // namespace rekmo
