// The plan: the format compiled for conversion, one step per output item.
#include <algorithm>
#include <cstring>
#include <optional>

#include "codec/decimal_machine.hpp"
#include "codec/number.hpp"
#include "record/gaiji_page.hpp"
#include "record/plan.hpp"

namespace rekmo {

namespace {

// The codec of an item through the pages of the format's gaiji tables, when
// one of its tables applies to the item's type: F and FN take the JEF
// table, K and KN the KEIS table, E and the single-byte stretches of F and
// K the EBCDIC table. E items read the page of the HOSTCODE's family.
std::optional<ItemCodec> gaiji_codec(ItemType type, const GaijiTables& tables, const GaijiPages* pages, HostCode host,
                                     bool utf8) {
    if (pages == nullptr) return std::nullopt;
    const bool singles = tables.by_code[static_cast<int>(GaijiCode::EBCDIC)] != nullptr;
    const bool jef = tables.by_code[static_cast<int>(GaijiCode::JEF)] != nullptr;
    const bool keis = tables.by_code[static_cast<int>(GaijiCode::KEIS)] != nullptr;
    PageFamily family;
    switch (type) {
        case ITEM_EBCDIC:
            if (!singles) return std::nullopt;
            family = host == HostCode::KEIS78 || host == HostCode::KEIS83 ? PageFamily::KEIS : PageFamily::JEF;
            break;
        case ITEM_JEF:
        case ITEM_JEF_N:
            if (!jef && !(singles && type == ITEM_JEF)) return std::nullopt;
            family = PageFamily::JEF;
            break;
        case ITEM_KEIS:
        case ITEM_KEIS_N:
            if (!keis && !(singles && type == ITEM_KEIS)) return std::nullopt;
            family = PageFamily::KEIS;
            break;
        default:
            return std::nullopt;
    }
    const auto index = static_cast<std::size_t>(family);
    if (utf8) return page_codec(type, pages->utf8[index]->page());
    return page_codec(type, pages->sjis[index]->page());
}

// The plan of the item lines [first, end).
ItemPlan layout_plan(const FormatDef& format, std::size_t first, std::size_t end, const std::vector<ItemForm>& forms,
                     std::uint8_t csv, const std::shared_ptr<const GaijiPages>& pages) {
    ItemPlan plan;
    plan.gaiji = pages;
    const GaijiTables tables = gaiji_tables(format);
    plan.record_length = static_cast<std::size_t>(format.record_length);
    std::vector<std::string_view> names;
    for (std::size_t index = first; index < end; ++index) {
        const ItemDef& item = format.items[index];
        if (item.length == 0 || item.output == 0) continue;
        const bool utf8 = (csv & CSV_UTF8) != 0;
        const std::optional<ItemCodec> gaiji = gaiji_codec(item.type, tables, pages.get(), format.host_code, utf8);
        const ItemCodec& codec = gaiji ? *gaiji : item_codec(item.type, format.host_code, utf8);
        PlanStep step;
        step.length = item.length > 0 ? static_cast<std::size_t>(item.length) : 0;
        // A negative length reads nothing, wherever the item starts.
        step.start = step.length > 0 ? static_cast<std::size_t>(item.start) : 0;
        step.in_record = step.start >= plan.record_length ? 0 : std::min(step.length, plan.record_length - step.start);
        step.shape = field_shape(item, forms[index], csv);
        step.shape.utf8_text = step.shape.utf8 && codec.utf8;
        step.shape.utf8_at = utf8_text_at(codec.bound(step.length));
        step.shaped = step.shape.changes_text();
        step.bound = field_bound(step.shape, step.length, codec.bound(step.length));
        step.decode = codec.decode;
        step.report = codec.report;
        step.page_decode = codec.page_decode;
        step.page_report = codec.page_report;
        step.page_data = codec.page_data;
        step.text_op = item_op(codec, step.length);
        step.op = step.shaped ? ItemOp::SHAPED : step.text_op;
        // An exact number in the plain form of up to 15 digits is the
        // default text, or empty when it is no number: inline in the lines.
        if (step.shape.number && plain_form(step.shape.form) && short_decimal(step.shape.form.mode, step.length)) {
            step.op = step.shape.form.mode == DECIMAL_PACKED ? ItemOp::EXACT_PACKED : ItemOp::EXACT_ZONED;
        }
        // E text trimmed or quoted in Shift_JIS: inline in the lines too.
        if (step.shaped && step.text_op == ItemOp::EBCDIC && !step.shape.utf8) step.op = ItemOp::SHAPED_EBCDIC;
        // E text in UTF-8: straight from the host bytes, in one pass.
        if (step.shaped && step.text_op == ItemOp::EBCDIC && step.shape.converts()) step.op = ItemOp::UTF8_EBCDIC;
        step.page = codec.page;
        step.item = index;
        names.push_back(item.name);
        plan.largest_bound = std::max(plan.largest_bound, step.bound);
        plan.steps_end = std::max(plan.steps_end, step.start + step.length);
        plan.line_bound += step.bound + 1;  // the text and a separator
        if (step.in_record < step.length) {
            plan.scratch_size = std::max(plan.scratch_size, step.length);
            plan.fields_in_record = false;
        }
        plan.steps.push_back(step);
    }
    plan.line_bound += 1;  // the line end
    // The one choice of path: a plan with an item past the record takes the
    // per-item path, which copies such items with zeros after the record's
    // end; every other plan the record lines.
    plan.line_kernels = plan.fields_in_record;
    plan.header = header_line(names, csv);
    return plan;
}

}  // namespace

ItemPlan make_plan(const FormatDef& format) {
    const std::uint8_t csv = csv_words(format);
    const std::vector<ItemForm> forms = item_forms(format);
    const std::vector<KindBlock> blocks = kind_blocks(format);
    const GaijiTables tables = gaiji_tables(format);
    std::shared_ptr<const GaijiPages> pages;
    if (tables.any()) pages = make_gaiji_pages(tables, format.host_code, (csv & CSV_UTF8) != 0);
    ItemPlan plan =
        layout_plan(format, 0, blocks.empty() ? format.items.size() : blocks.front().first_item, forms, csv, pages);
    plan.record_format = record_format(format);
    plan.record_limit = static_cast<std::size_t>(record_limit(format));
    if (blocks.empty()) return plan;

    // Records of each kind take the items of its block; the items before the
    // first block take the records of no kind.
    plan.default_layout = blocks.front().first_item > 0;
    const ItemCodec& text = item_codec(ITEM_EBCDIC, format.host_code);
    plan.kind_text = text.decode;
    plan.kind_layouts.reserve(blocks.size());
    for (const KindBlock& block : blocks) {
        const KindTest& test = block.line->kind_test;
        KindSelect select;
        select.start = static_cast<std::size_t>(test.start);
        select.length = static_cast<std::size_t>(test.length);
        select.value.assign(test.value.begin(), test.value.end());
        select.raw = test.raw;
        if (!plan.kinds.empty()) {
            const KindSelect& previous = plan.kinds.back();
            select.same_field = previous.start == select.start && previous.length == select.length;
        }
        plan.kind_text_bound = std::max(plan.kind_text_bound, text.bound(select.length));
        plan.kinds.push_back(std::move(select));
        ItemPlan& layout =
            plan.kind_layouts.emplace_back(layout_plan(format, block.first_item, block.end_item, forms, csv, pages));
        // The loops size their buffers by the largest layout.
        plan.largest_bound = std::max(plan.largest_bound, layout.largest_bound);
        plan.line_bound = std::max(plan.line_bound, layout.line_bound);
        plan.scratch_size = std::max(plan.scratch_size, layout.scratch_size);
    }
    return plan;
}

void copy_item_bytes(const PlanStep& step, const std::uint8_t* record, std::uint8_t* scratch) noexcept {
    if (step.in_record > 0) std::memcpy(scratch, record + step.start, step.in_record);
    std::memset(scratch + step.in_record, 0, step.length - step.in_record);
}

}  // namespace rekmo
