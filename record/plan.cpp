// The plan: the format compiled for conversion, one step per output item.
#include <algorithm>
#include <cstring>

#include "codec/decimal_machine.hpp"
#include "codec/number.hpp"
#include "record/plan.hpp"

namespace rekmo {

ItemPlan make_plan(const FormatDef& format) {
    ItemPlan plan;
    plan.record_length = static_cast<std::size_t>(format.record_length);
    const std::uint8_t csv = csv_words(format);
    const std::vector<ItemForm> forms = item_forms(format);
    std::vector<std::string_view> names;
    for (std::size_t index = 0; index < format.items.size(); ++index) {
        const ItemDef& item = format.items[index];
        if (item.length == 0 || item.output == 0) continue;
        const ItemCodec& codec = item_codec(item.type, format.host_code);
        PlanStep step;
        step.length = item.length > 0 ? static_cast<std::size_t>(item.length) : 0;
        // A negative length reads nothing, wherever the item starts.
        step.start = step.length > 0 ? static_cast<std::size_t>(item.start) : 0;
        step.in_record = step.start >= plan.record_length ? 0 : std::min(step.length, plan.record_length - step.start);
        step.shape = field_shape(item, forms[index], csv);
        step.shape.utf8_at = 2 * codec.bound(step.length) + 2;
        step.shaped = step.shape.changes_text();
        step.bound = field_bound(step.shape, step.length, codec.bound(step.length));
        step.decode = codec.decode;
        step.report = codec.report;
        step.text_op = item_op(codec, step.length);
        step.op = step.shaped ? ItemOp::SHAPED : step.text_op;
        // An exact number in the plain form of up to 15 digits is the
        // default text, or empty when it is no number: inline in the lines.
        if (step.shape.number && plain_form(step.shape.form) && short_decimal(step.shape.form.mode, step.length)) {
            step.op = step.shape.form.mode == DECIMAL_PACKED ? ItemOp::EXACT_PACKED : ItemOp::EXACT_ZONED;
        }
        // E text trimmed or quoted in Shift_JIS: inline in the lines too.
        if (step.shaped && step.text_op == ItemOp::EBCDIC && !step.shape.utf8) step.op = ItemOp::SHAPED_EBCDIC;
        step.page = codec.page;
        step.item = index;
        names.push_back(item.name);
        plan.largest_bound = std::max(plan.largest_bound, step.bound);
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

void copy_item_bytes(const PlanStep& step, const std::uint8_t* record, std::uint8_t* scratch) noexcept {
    if (step.in_record > 0) std::memcpy(scratch, record + step.start, step.in_record);
    std::memset(scratch + step.in_record, 0, step.length - step.in_record);
}

}  // namespace rekmo
