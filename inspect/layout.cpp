// The layout as rekmo reads it, and what a careful reader would point out.
#include <algorithm>
#include <numeric>

#include "driver/messages.hpp"
#include "inspect/inspect.hpp"

namespace rekmo::inspect {

std::vector<LayoutFinding> layout_findings(const FormatDef& format) {
    std::vector<LayoutFinding> findings;
    const std::int64_t record_length = format.record_length;
    std::vector<std::size_t> placed;  // items that occupy bytes, by start
    for (std::size_t i = 0; i < format.items.size(); ++i) {
        const ItemDef& item = format.items[i];
        const Result fault = item_fault(item);
        if (fault != Result::OK) {
            findings.push_back({LayoutKind::REJECTED, i + 1, 0, 0, 0, fault});
            continue;
        }
        if (item.length <= 0) continue;
        placed.push_back(i);
        const std::int64_t end = item.start + item.length;
        if (record_length > 0 && end > record_length) {
            findings.push_back({LayoutKind::PAST_RECORD, i + 1, 0, std::max(item.start, record_length) + 1, end});
        }
        if ((item.type == ITEM_KEIS_N || item.type == ITEM_JEF_N) && item.length % 2 != 0) {
            findings.push_back({LayoutKind::ODD_LENGTH, i + 1, 0, end, end});
        }
    }
    // One sweep in order of position: an item that starts before the
    // furthest end so far overlaps the item that reached it.
    std::stable_sort(placed.begin(), placed.end(),
                     [&](std::size_t a, std::size_t b) { return format.items[a].start < format.items[b].start; });
    std::int64_t covered = 0;  // bytes [0, covered) are covered by some item
    std::size_t furthest = 0;  // the item that ends at `covered`
    for (const std::size_t i : placed) {
        const ItemDef& item = format.items[i];
        const std::int64_t end = item.start + item.length;
        if (item.start > covered && covered < record_length) {
            findings.push_back({LayoutKind::GAP, 0, 0, covered + 1, std::min(item.start, record_length)});
        }
        if (item.start < covered) {
            findings.push_back({LayoutKind::OVERLAP, i + 1, furthest + 1, item.start + 1, std::min(end, covered)});
        }
        if (end > covered) {
            covered = end;
            furthest = i;
        }
    }
    if (covered < record_length) findings.push_back({LayoutKind::GAP, 0, 0, covered + 1, record_length});
    const std::vector<OptionFault> faults = option_faults(format);
    for (std::size_t j = 0; j < faults.size(); ++j) {
        if (faults[j] != OptionFault::NONE) {
            findings.push_back({LayoutKind::OPTION_REFUSED, 0, 0, 0, 0, Result::OPTION, j + 1, faults[j]});
        }
    }
    return findings;
}

Layout inspect_layout(const std::string& path) {
    Layout layout;
    layout.path = path;
    layout.error = load_format(path, layout.format);
    if (!layout.accepted()) layout.message = render_message(format_error_message(layout.error, path), "UTF-8");
    if (!layout.readable()) return layout;
    layout.item_faults.reserve(layout.format.items.size());
    for (const ItemDef& item : layout.format.items) layout.item_faults.push_back(item_fault(item));
    layout.option_faults = option_faults(layout.format);
    layout.item_forms = item_forms(layout.format);
    layout.findings = layout_findings(layout.format);
    return layout;
}

}  // namespace rekmo::inspect
