// Layout findings of rekmo-inspect (host-file checks are tested end to end).
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

}  // namespace
}  // namespace rekmo::inspect
