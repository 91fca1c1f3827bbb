#include "format/format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace rekmo {
namespace {

constexpr std::int32_t INT32_MAX_ = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t INT32_MIN_ = std::numeric_limits<std::int32_t>::min();

std::span<const std::uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The items and record length a text reads as, before any check.
FormatDef read_format(const std::string& text) {
    FormatDef def;
    FormatReader reader(def);
    reader.feed(bytes_of(text));
    reader.finish();
    return def;
}

FormatError check_text(const std::string& text) {
    FormatDef def;
    FormatError error;
    const int rc = parse_format(bytes_of(text), def, error);
    EXPECT_EQ(rc, error.fault == FormatFault::NONE ? 0 : 1);
    return error;
}

TEST(FormatValue, FollowsTheNumberRule) {
    const std::pair<std::string, std::int32_t> cases[] = {
        {"12", 12},
        {" 12", 12},
        {"\t\n\v\f\r+7", 7},
        {"-5", -5},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"+", 0},
        {"0x10", 0},
        {"007", 7},
        {"1 2", 1},
        {"2147483647", INT32_MAX_},
        {"2147483648", INT32_MAX_},
        {"-2147483648", INT32_MIN_},
        {"-2147483649", INT32_MIN_},
        {"99999999999999999999999999999999999999999999999999", INT32_MAX_},
        {"-99999999999999999999999999999999999999999999999999", INT32_MIN_},
    };
    for (const auto& [field, value] : cases) EXPECT_EQ(field_value(field), value) << '"' << field << '"';
}

TEST(FormatType, ReadsOneOrTwoLetters) {
    const std::pair<std::string, ItemType> cases[] = {
        {"E", ITEM_EBCDIC}, {"EX", ITEM_EBCDIC}, {"P", ITEM_PACKED},      {"PACK", ITEM_PACKED}, {"Z", ITEM_ZONED},
        {"J", ITEM_JIS},    {"F", ITEM_JEF},     {"FX", ITEM_JEF},        {"FN", ITEM_JEF_N},    {"FNX", ITEM_JEF_N},
        {"K", ITEM_KEIS},   {"KN", ITEM_KEIS_N}, {"", ITEM_NONE},         {" E", ITEM_NONE},     {"e", ITEM_NONE},
        {"N", ITEM_NONE},   {"X", ITEM_NONE},    {"\x82\x64", ITEM_NONE},
    };
    for (const auto& [field, type] : cases) EXPECT_EQ(item_type_of(field), type) << '"' << field << '"';
}

TEST(FormatLine, NormalisesOutsideShiftJisPairs) {
    const std::pair<std::string, std::string> cases[] = {
        {"reclen=80", "RECLEN=80"},
        {"a\x82\x61z", "A\x82\x61Z"},  // full-width B: its trail byte 'a' stays
        {"ab\x82", "AB\x82"},          // a lone lead byte at the end
        {"\x82,a", "\x82,A"},          // a lead byte before a comma is no pair
        {"\xB1\xB2x", "\xB1\xB2X"},    // half-width katakana are single bytes
        {"a\nb", "AB"},                // line feeds are dropped
        {"\x81\x40name", "\x81\x40NAME"},
        {"x\x82\x82\x61", "X\x82\x82\x41"},  // pairs are taken left to right: 82 82, then 'a'
    };
    for (const auto& [in, out] : cases) {
        std::vector<std::uint8_t> line(in.begin(), in.end());
        line.resize(normalise_line(line));
        EXPECT_EQ(std::string(line.begin(), line.end()), out);
    }
}

struct Item {
    std::string name;
    std::int64_t start;
    std::int32_t length;
    ItemType type;
    std::int32_t output;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Item& i) {
    return os << '{' << i.name << ',' << i.start << ',' << i.length << ',' << i.type << ',' << i.output << '}';
}

std::vector<Item> items_of(const FormatDef& def) {
    std::vector<Item> items;
    for (const ItemDef& d : def.items) items.push_back({d.name, d.start, d.length, d.type, d.output});
    return items;
}

TEST(FormatReader, ReadsEveryLineKind) {
    struct Case {
        std::string text;
        std::vector<Item> items;
        std::int32_t record_length;
    };
    const std::string long_first = "A,1,1,E,1" + std::string(1023 - 9, ' ');
    const Case cases[] = {
        {"CUSTNO,1,8,E,1\n", {{"CUSTNO", 0, 8, ITEM_EBCDIC, 1}}, 8},
        {"  #CUSTNO,1,8,E,1\n", {}, -1},            // comment after spaces
        {"E1\n  AB\n", {}, -1},                     // short lines
        {"E,1\n", {{"E", 0, 0, ITEM_NONE, 0}}, 0},  // three bytes: an item
        {"RECLEN =80\n", {{"RECLEN =80", -1, 0, ITEM_NONE, 0}}, -1},
        {"reclen=80\n", {}, 80},
        {"RECLEN= 80\n", {}, 80},
        {"RECLEN=80\nRECLEN=90\n", {}, 90},                          // the last one wins
        {"RECLEN=\nA,1,4,E,1\n", {{"A", 0, 4, ITEM_EBCDIC, 1}}, 4},  // no value: largest end
        {"RECLEN=X\nA,1,4,E,1\n", {{"A", 0, 4, ITEM_EBCDIC, 1}}, 4},
        {"RECLEN=-3\nA,1,4,E,1\n", {{"A", 0, 4, ITEM_EBCDIC, 1}}, 4},
        {"RECLEN=5\nA,1,40,E,1\n", {{"A", 0, 40, ITEM_EBCDIC, 1}}, 5},  // RECLEN wins over items
        {"NAME,1,10,E\n", {{"NAME", 0, 10, ITEM_EBCDIC, 0}}, 10},       // no output field
        {"name,1,10,e,1\n", {{"NAME", 0, 10, ITEM_EBCDIC, 1}}, 10},
        {"NAME,1,10, E,1\n", {{"NAME", 0, 10, ITEM_NONE, 1}}, 10},
        {"A,1,8,E,1\nB,9,5,P,1\nC,14,40,KN,1\n",
         {{"A", 0, 8, ITEM_EBCDIC, 1}, {"B", 8, 5, ITEM_PACKED, 1}, {"C", 13, 40, ITEM_KEIS_N, 1}},
         53},
        {"\x82\x61\x82\x62,1,2,J,1\n", {{"\x82\x61\x82\x62", 0, 2, ITEM_JIS, 1}}, 2},
        {"\x81\x40X,1,2,E,1\n", {{"\x81\x40X", 0, 2, ITEM_EBCDIC, 1}}, 2},  // full-width space stays
        {"\tA,1,2,E,1\n", {{"\tA", 0, 2, ITEM_EBCDIC, 1}}, 2},              // tabs are not stripped
        {"A,1,2,E,1,X,Y,Z,9\n", {{"A", 0, 2, ITEM_EBCDIC, 1}}, 2},          // extra fields ignored
        {"A,1,2,E,1\r\nB,3,2,E,1\r\n", {{"A", 0, 2, ITEM_EBCDIC, 1}, {"B", 2, 2, ITEM_EBCDIC, 1}}, 4},
        {"A\rB,1,2,E,1\n", {{"A\rB", 0, 2, ITEM_EBCDIC, 1}}, 2},  // a CR not before LF is a byte
        {"A,1,2,E,1\n\x1A"
         "B,3,2,E,1\n",
         {{"A", 0, 2, ITEM_EBCDIC, 1}},
         2},                                                                            // 0x1A ends the file
        {std::string("A,1,2,E,1\0B,3,2,E,1\n", 20), {{"A", 0, 2, ITEM_EBCDIC, 1}}, 2},  // 0x00 ends the line
        {"A,1,-5,E,1\n", {{"A", 0, -5, ITEM_EBCDIC, 1}}, -1},                           // the largest end only rises
        {"A,0,2,E,1\n", {{"A", -1, 2, ITEM_EBCDIC, 1}}, 1},
        {"A,-2147483648,2,E,1\n", {{"A", -2147483649LL, 2, ITEM_EBCDIC, 1}}, -1},
        {"LAST,1,3,E,1", {{"LAST", 0, 3, ITEM_EBCDIC, 1}}, 3},  // no final line feed
        // A line over 1023 bytes arrives as pieces, each a line of its own.
        {long_first + "B,2,1,E,1\n", {{"A", 0, 1, ITEM_EBCDIC, 1}, {"B", 1, 1, ITEM_EBCDIC, 1}}, 2},
        // 1023 bytes then the line feed: the second piece is empty.
        {long_first + "\nC,3,1,E,1\n", {{"A", 0, 1, ITEM_EBCDIC, 1}, {"C", 2, 1, ITEM_EBCDIC, 1}}, 3},
    };
    for (const Case& c : cases) {
        const FormatDef def = read_format(c.text);
        EXPECT_EQ(items_of(def), c.items) << c.text.substr(0, 60);
        EXPECT_EQ(def.record_length, c.record_length) << c.text.substr(0, 60);
    }
}

TEST(FormatReader, CrLfAndLfReadAlike) {
    const std::string lf = "RECLEN=20\n# x\nA,1,8,E,1\nB,9,5,p,0\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(items_of(read_format(lf)), items_of(read_format(crlf)));
    EXPECT_EQ(read_format(crlf).record_length, 20);
}

TEST(FormatReader, AnySplitOfTheBytesReadsAlike) {
    const std::string text = "RECLEN=20\r\nA,1,8,E,1\r\n\r\nB,9,5,P,1\r\n";
    const std::vector<Item> whole = items_of(read_format(text));
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        FormatDef def;
        FormatReader reader(def);
        reader.feed(bytes_of(text.substr(0, cut)));
        reader.feed(bytes_of(text.substr(cut)));
        reader.finish();
        EXPECT_EQ(items_of(def), whole) << "cut at " << cut;
    }
}

TEST(FormatCheck, ReportsTheFirstFaultInOrder) {
    struct Case {
        std::string text;
        FormatFault fault;
        std::int64_t item_number;
        std::int32_t record_length;
    };
    const Case cases[] = {
        {"A,1,8,E,1\n", FormatFault::NONE, 0, 0},
        {"E,1\n", FormatFault::ITEM_SIZE, 1, 0},
        {"RECLEN =80\n", FormatFault::ITEM_SIZE, 1, 0},
        {"A,1,0,X,1\n", FormatFault::ITEM_SIZE, 1, 0},  // size before type
        {"A,1,16777217,E,1\n", FormatFault::ITEM_SIZE, 1, 0},
        {"A,1,16777216,E,1\n", FormatFault::NONE, 0, 0},
        {"A,1,301,Z,1\n", FormatFault::ITEM_SIZE, 1, 0},
        {"A,1,300,Z,1\n", FormatFault::NONE, 0, 0},
        {"A,1,151,P,1\n", FormatFault::ITEM_SIZE, 1, 0},
        {"A,1,150,P,1\n", FormatFault::NONE, 0, 0},
        {"A,1,301,E,1\n", FormatFault::NONE, 0, 0},
        {"A,1,8,X,1\n", FormatFault::ITEM_TYPE, 1, 0},
        {"A,1,8, E,1\n", FormatFault::ITEM_TYPE, 1, 0},
        {"A,0,8,X,1\n", FormatFault::ITEM_TYPE, 1, 0},  // type before position
        {"A,0,8,E,1\n", FormatFault::ITEM_POSITION, 1, 0},
        {"A,-2147483648,8,E,1\n", FormatFault::ITEM_POSITION, 1, 0},
        {"A,16777216,2,E,1\n", FormatFault::ITEM_POSITION, 1, 0},
        {"RECLEN=9\nA,16777215,2,E,1\n", FormatFault::NONE, 0, 0},   // ends at 16 MiB exactly
        {"RECLEN=9\nA,16777217,-4,E,1\n", FormatFault::NONE, 0, 0},  // reads nothing
        {"RECLEN=80\n# note\nA,1,0,E,1\n", FormatFault::ITEM_SIZE, 1, 0},
        {"A,1,2,E,1\n#\nRECLEN=9\nB,3,2,E,1\nC,5,2,Q,1\nD,7,0,E,1\n", FormatFault::ITEM_TYPE, 3, 0},
        {"RECLEN=16777217\nA,1,2,E,1\n", FormatFault::RECORD_LENGTH, 0, 16777217},
        {"RECLEN=16777216\nA,1,2,E,1\n", FormatFault::NONE, 0, 0},
        {"RECLEN=99999999999\nA,1,2,E,1\n", FormatFault::RECORD_LENGTH, 0, INT32_MAX_},
        {"RECLEN=16777217\nA,1,0,E,1\n", FormatFault::ITEM_SIZE, 1, 0},  // items first
        {"# nothing\n", FormatFault::RECORD_LENGTH, 0, -1},
        {"A,1,-5,E,1\n", FormatFault::RECORD_LENGTH, 0, -1},
        {"A,3,-5,E,1\nRECLEN=4\n", FormatFault::NONE, 0, 0},  // negative lengths pass
    };
    for (const Case& c : cases) {
        const FormatError error = check_text(c.text);
        EXPECT_EQ(error.fault, c.fault) << c.text;
        EXPECT_EQ(error.item_number, c.item_number) << c.text;
        EXPECT_EQ(error.record_length, c.record_length) << c.text;
    }
}

class FormatFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("rekmo-format-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::filesystem::path dir_;
};

TEST_F(FormatFile, LoadsLikeTheInMemoryReader) {
    std::string text = "RECLEN=400\r\n";
    for (int i = 0; i < 5000; ++i) text += "I" + std::to_string(i) + "," + std::to_string(i % 300 + 1) + ",3,e,1\r\n";
    FormatDef def;
    FormatError error;
    EXPECT_EQ(load_format(write("f.txt", text), def, error), 0);
    EXPECT_EQ(items_of(def), items_of(read_format(text)));
    EXPECT_EQ(def.record_length, 400);
    EXPECT_TRUE(def.record_length_given);
}

TEST_F(FormatFile, ReportsFaultsAndUnreadableFiles) {
    FormatDef def;
    FormatError error;
    EXPECT_EQ(load_format(write("bad.txt", "A,1,8,E,1\nB,1,8,Q,1\n"), def, error), 1);
    EXPECT_EQ(error.fault, FormatFault::ITEM_TYPE);
    EXPECT_EQ(error.item_number, 2);
    EXPECT_EQ(def.items.size(), 2u);  // the items read stay

    for (const std::string& path : {(dir_ / "missing.txt").string(), dir_.string()}) {
        FormatDef none;
        EXPECT_EQ(load_format(path, none, error), -1) << path;
        EXPECT_EQ(error.fault, FormatFault::CANNOT_OPEN) << path;
    }
}

}  // namespace
}  // namespace rekmo
