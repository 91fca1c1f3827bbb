// Layout findings and host-file checks of rekmo-inspect.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inspect/inspect.hpp"

namespace rekmo::inspect {
namespace {

// An item at 1-based `position`.
ItemDef item(std::int64_t position, std::int32_t length, ItemType type = ITEM_EBCDIC) {
    return ItemDef{"X", position - 1, length, type, 1};
}

struct Expected {
    LayoutKind kind;
    std::size_t item, other;
    std::int64_t first, last;
};

TEST(LayoutFindings, OverlapsGapsEndsAndRefusals) {
    struct Case {
        const char* what;
        std::vector<ItemDef> items;
        std::int32_t record_length;
        std::vector<Expected> expected;
    };
    const Case cases[] = {
        {"tight", {item(1, 4), item(5, 4)}, 8, {}},
        {"gap inside and at the end", {item(1, 2), item(5, 2)}, 10,
         {{LayoutKind::GAP, 0, 0, 3, 4}, {LayoutKind::GAP, 0, 0, 7, 10}}},
        {"gap at the start", {item(3, 2)}, 4, {{LayoutKind::GAP, 0, 0, 1, 2}}},
        {"overlap with the item reaching furthest", {item(1, 10), item(3, 2), item(8, 5)}, 12,
         {{LayoutKind::OVERLAP, 2, 1, 3, 4}, {LayoutKind::OVERLAP, 3, 1, 8, 10}}},
        {"overlap found in position order, not file order", {item(5, 4), item(1, 6)}, 8,
         {{LayoutKind::OVERLAP, 1, 2, 5, 6}}},
        {"past the record", {item(1, 4), item(4, 4)}, 6,
         {{LayoutKind::PAST_RECORD, 2, 0, 7, 7}, {LayoutKind::OVERLAP, 2, 1, 4, 4}}},
        {"wholly past the record", {item(1, 4), item(9, 2)}, 4, {{LayoutKind::PAST_RECORD, 2, 0, 9, 10}}},
        {"odd double-byte-only items", {item(1, 3, ITEM_KEIS_N), item(4, 2, ITEM_JEF_N), item(6, 3, ITEM_JEF_N)}, 8,
         {{LayoutKind::ODD_LENGTH, 1, 0, 3, 3}, {LayoutKind::ODD_LENGTH, 3, 0, 8, 8}}},
        {"every refused item, none of them placed",
         {item(1, 0), item(1, 2, ITEM_NONE), item(0, 2), item(1, 301, ITEM_ZONED), item(1, 2)}, 2,
         {{LayoutKind::REJECTED, 1, 0, 0, 0}, {LayoutKind::REJECTED, 2, 0, 0, 0}, {LayoutKind::REJECTED, 3, 0, 0, 0},
          {LayoutKind::REJECTED, 4, 0, 0, 0}}},
        {"negative lengths occupy nothing", {item(1, -3), item(1, 2)}, 2, {}},
    };
    for (const Case& c : cases) {
        FormatDef format;
        format.items = c.items;
        format.record_length = c.record_length;
        const std::vector<LayoutFinding> found = layout_findings(format);
        ASSERT_EQ(found.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < found.size(); ++i) {
            const Expected& e = c.expected[i];
            EXPECT_EQ(found[i].kind, e.kind) << c.what << " #" << i;
            EXPECT_EQ(found[i].item, e.item) << c.what << " #" << i;
            EXPECT_EQ(found[i].other, e.other) << c.what << " #" << i;
            if (e.kind != LayoutKind::REJECTED) {
                EXPECT_EQ(found[i].first, e.first) << c.what << " #" << i;
                EXPECT_EQ(found[i].last, e.last) << c.what << " #" << i;
            }
        }
    }
}

TEST(LayoutFindings, RefusalsCarryTheirFault) {
    FormatDef format;
    format.items = {item(1, 0), item(1, 2, ITEM_NONE), item(0, 2), item(1, 151, ITEM_PACKED)};
    format.record_length = 2;
    const std::vector<LayoutFinding> found = layout_findings(format);
    ASSERT_EQ(found.size(), 5u);  // and the record, covered by no item, is a gap
    EXPECT_EQ(found[4].kind, LayoutKind::GAP);
    EXPECT_EQ(found[0].fault, FormatFault::ITEM_SIZE);
    EXPECT_EQ(found[1].fault, FormatFault::ITEM_TYPE);
    EXPECT_EQ(found[2].fault, FormatFault::ITEM_POSITION);
    EXPECT_EQ(found[3].fault, FormatFault::ITEM_SIZE);
}

std::vector<std::uint8_t> repeat(const std::string& record, std::size_t times) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < times; ++i) bytes.insert(bytes.end(), record.begin(), record.end());
    return bytes;
}

bool mentions(const std::vector<std::string>& sentences, const std::string& part) {
    for (const std::string& s : sentences) {
        if (s.find(part) != std::string::npos) return true;
    }
    return false;
}

TEST(HostCheck, CountsRecordsAndSuggestsLengthsThatDivide) {
    struct Case {
        std::uint64_t size;
        std::int64_t record_length;
        std::uint64_t records, remainder;
        std::vector<std::int64_t> suggested;
    };
    const Case cases[] = {
        {1200, 120, 10, 0, {}},
        {1210, 120, 10, 10, {121, 110}},        // a record length one off: 121 divides
        {1220, 122, 10, 0, {}},
        {1000, 7, 142, 6, {8, 5, 4, 10}},        // the divisors of 1000 from 3 to 14, nearest first, shorter on a tie
        {0, 80, 0, 0, {}},
        {97, 10, 9, 7, {}},                      // a prime size: nothing from 5 to 20 divides
        {500, -1, 0, 500, {}},                   // no valid record length: nothing divides
    };
    for (const Case& c : cases) {
        const HostCheck host = check_host(c.size, c.record_length, {}, {});
        EXPECT_EQ(host.records, c.records) << c.size;
        EXPECT_EQ(host.remainder, c.remainder) << c.size;
        EXPECT_EQ(host.suggested_lengths, c.suggested) << c.size;
    }
}

TEST(HostCheck, SignsOfATextTransfer) {
    const std::string record = std::string(20, '\xC1');
    // Records of 20 bytes, each followed by CR LF, read with the layout's 20.
    const std::vector<std::uint8_t> crlf = repeat(record + "\r\n", 10);
    HostCheck host = check_host(crlf.size(), 20, crlf, {crlf.end() - 16, crlf.end()});
    EXPECT_TRUE(mentions(host.damage, "CR LF (0D 0A) ends every 22 bytes")) << testing::PrintToString(host.damage);
    EXPECT_TRUE(mentions(host.damage, "record of 20 bytes"));
    // LF alone.
    const std::vector<std::uint8_t> lf = repeat(record + "\n", 10);
    host = check_host(lf.size(), 20, lf, {lf.end() - 16, lf.end()});
    EXPECT_TRUE(mentions(host.damage, "LF (0A) ends every 21 bytes"));
    // A line end that is part of the layout's record is no sign.
    host = check_host(crlf.size(), 22, crlf, {crlf.end() - 16, crlf.end()});
    EXPECT_TRUE(host.damage.empty()) << testing::PrintToString(host.damage);
    // An end-of-file mark after the records.
    std::vector<std::uint8_t> eof = repeat(record, 4);
    eof.push_back(0x1A);
    host = check_host(eof.size(), 20, eof, {eof.end() - 16, eof.end()});
    EXPECT_TRUE(mentions(host.damage, "are 1A (1A: an end-of-file mark)")) << testing::PrintToString(host.damage);
    // ASCII where host text was expected; host text itself is no sign.
    const std::vector<std::uint8_t> ascii = repeat("CUSTOMER 0001 TOKYO     ", 10);
    host = check_host(ascii.size(), 24, ascii, {});
    EXPECT_TRUE(mentions(host.damage, "look like ASCII text"));
    const std::vector<std::uint8_t> ebcdic = repeat("\xC3\xE4\xE2\xE3\x40\xF0\xF0\xF0\xF1\x40\x40\x40", 10);
    host = check_host(ebcdic.size(), 12, ebcdic, {});
    EXPECT_TRUE(host.damage.empty()) << testing::PrintToString(host.damage);
}

}  // namespace
}  // namespace rekmo::inspect
