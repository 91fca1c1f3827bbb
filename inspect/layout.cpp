// The layout as rekmo reads it, and what a careful reader would point out.
#include <algorithm>
#include <numeric>

#include "driver/messages.hpp"
#include "inspect/inspect.hpp"

namespace rekmo::inspect {

namespace {

// Overlaps and gaps among the items [first, end) of one layout: one sweep in
// order of position: an item that starts before the furthest end so far
// overlaps the item that reached it. `reach`: the bytes a record holds
// (all of an F record; of a V record the largest one's, where a gap at the
// end is only a shorter record).
void sweep_layout(const FormatDef& format, std::size_t first, std::size_t end, std::size_t layout, std::int64_t reach,
                  bool gap_at_end, std::vector<LayoutFinding>& findings) {
    std::vector<std::size_t> placed;  // items that occupy bytes, by start
    for (std::size_t i = first; i < end; ++i) {
        if (item_fault(format.items[i]) == Result::OK && format.items[i].length > 0) placed.push_back(i);
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [&](std::size_t a, std::size_t b) { return format.items[a].start < format.items[b].start; });
    std::int64_t covered = 0;  // bytes [0, covered) are covered by some item
    std::size_t furthest = 0;  // the item that ends at `covered`
    for (const std::size_t i : placed) {
        const ItemDef& item = format.items[i];
        const std::int64_t item_end = item.start + item.length;
        if (item.start > covered && covered < reach) {
            findings.push_back({LayoutKind::GAP, 0, 0, covered + 1, std::min(item.start, reach)});
            findings.back().layout = layout;
        }
        if (item.start < covered) {
            findings.push_back({LayoutKind::OVERLAP, i + 1, furthest + 1, item.start + 1, std::min(item_end, covered)});
            findings.back().layout = layout;
        }
        if (item_end > covered) {
            covered = item_end;
            furthest = i;
        }
    }
    if (gap_at_end && covered < reach) {
        findings.push_back({LayoutKind::GAP, 0, 0, covered + 1, reach});
        findings.back().layout = layout;
    }
}

}  // namespace

std::vector<LayoutFinding> layout_findings(const FormatDef& format) {
    std::vector<LayoutFinding> findings;
    // A V record's items count from the first byte after its RDW.
    const bool variable = record_format(format) != RecordFormat::F;
    const std::int64_t reach = variable ? std::int64_t{record_limit(format)} - 4 : format.record_length;
    for (std::size_t i = 0; i < format.items.size(); ++i) {
        const ItemDef& item = format.items[i];
        const Result fault = item_fault(item);
        if (fault != Result::OK) {
            findings.push_back({LayoutKind::REJECTED, i + 1, 0, 0, 0, fault});
            continue;
        }
        if (item.length <= 0) continue;
        const std::int64_t end = item.start + item.length;
        if (reach > 0 && end > reach) {
            findings.push_back({variable ? LayoutKind::PAST_LARGEST : LayoutKind::PAST_RECORD, i + 1, 0,
                                std::max(item.start, reach) + 1, end});
        }
        if ((item.type == ITEM_KEIS_N || item.type == ITEM_JEF_N) && item.length % 2 != 0) {
            findings.push_back({LayoutKind::ODD_LENGTH, i + 1, 0, end, end});
        }
    }
    // Each layout on its own: the items before the first KIND line, then
    // each kind's (the items of different kinds share bytes by design).
    const std::vector<KindBlock> blocks = kind_blocks(format);
    const std::size_t before = blocks.empty() ? format.items.size() : blocks.front().first_item;
    if (before > 0 || blocks.empty()) sweep_layout(format, 0, before, blocks.size(), reach, !variable, findings);
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        sweep_layout(format, blocks[k].first_item, blocks[k].end_item, k, reach, !variable, findings);
    }
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
    // The site's gaiji tables, from the format file's folder, as rekmo reads them.
    if (layout.accepted()) {
        const GaijiLoad tables = load_gaiji_tables(layout.format, format_folder(path));
        if (tables.result != Result::OK) {
            layout.table_fault = true;
            layout.error = FormatError{tables.result, 0, 0,
                                       tables.result == Result::OPTION ? gaiji_fault_value(tables) : tables.path};
            layout.message = render_message(gaiji_error_message(tables), "UTF-8");
        }
    }
    if (!layout.readable()) return layout;
    layout.item_faults.reserve(layout.format.items.size());
    for (const ItemDef& item : layout.format.items) layout.item_faults.push_back(item_fault(item));
    layout.option_faults = option_faults(layout.format);
    layout.item_forms = item_forms(layout.format);
    layout.findings = layout_findings(layout.format);
    return layout;
}

}  // namespace rekmo::inspect
