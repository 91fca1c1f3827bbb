// The public face of the conversion core: a checked format compiled into a
// plan, with the converter, the texts and the record loop built on it.
#include <algorithm>
#include <cstring>
#include <new>

#include "record/plan.hpp"

namespace rekmo {
namespace {

constexpr std::size_t LINES_CAPACITY = 1 << 20;  // bytes of lines gathered before they join the caller's vector

// Lines appended to a caller's vector.
class VectorSink final : public ByteSink {
public:
    explicit VectorSink(std::vector<std::uint8_t>& lines) : lines_(lines) {}
    Result write(std::span<const std::uint8_t> bytes) noexcept override {
        try {
            lines_.insert(lines_.end(), bytes.begin(), bytes.end());
            return Result::OK;
        } catch (const std::bad_alloc&) {
            return Result::OUT_OF_MEMORY;
        }
    }

private:
    std::vector<std::uint8_t>& lines_;
};

// What an unquoted text itself shows: the line would gain a column or be
// split, or a reader would take the quote as the start of a quoted field.
// (Under QUOTE every such text is quoted.)
std::uint32_t text_findings(const PlanStep& step, std::span<const std::uint8_t> text) noexcept {
    if (step.shape.quote) return 0;
    std::uint32_t found = 0;
    for (const std::uint8_t b : text) {
        if (b == ',') found |= FINDING_COMMA;
        if (b == '\r') found |= FINDING_CR;
        if (b == '\n') found |= FINDING_LF;
        if (b == '"') found |= FINDING_QUOTE;
    }
    return found;
}

}  // namespace

struct Converter::State {
    State(const FormatDef& format, const ConvertOptions& run_options)
        : plan(make_plan(format)),
          converter(plan),
          text(std::max<std::size_t>(plan.largest_bound, 1)),
          options(run_options) {
        columns.reserve(plan.steps.size());
        for (const PlanStep& step : plan.steps) columns.push_back({step.item, step.start, step.length, step.bound});
        for (const ItemPlan& layout : plan.kind_layouts) {
            std::vector<Column>& own = kind_columns.emplace_back();
            for (const PlanStep& step : layout.steps) own.push_back({step.item, step.start, step.length, step.bound});
        }
    }
    ItemPlan plan;
    std::vector<Column> columns;
    std::vector<std::vector<Column>> kind_columns;  // one per KIND line
    RecordConverter converter;
    std::vector<std::uint8_t> text;  // one item's text, for item_texts()
    ConvertOptions options;
    std::unique_ptr<RecordLoop> loop;  // made by prepare_run()
    RecordFault fault;                 // where the last run or convert() stopped
};

namespace {

// A V or VB file's bytes: every whole record, then a fault when the bytes
// do not end with one.
Result convert_variable(Converter::State& state, std::span<const std::uint8_t> bytes, OutputBuffer& out,
                        ByteSink& sink) {
    DescriptorState walk;
    walk.blocked = state.plan.record_format == RecordFormat::VB;
    walk.limit = state.plan.record_limit;
    const DescriptorState start = walk;
    const DescriptorCut cut = cut_records(walk, bytes, true, SIZE_MAX);
    const Result converted = state.converter.convert_variable(bytes, start, cut.records, out, &sink);
    if (converted != Result::OK) return converted;
    if (!cut.faulty) return Result::OK;
    state.fault = cut.fault;
    return Result::RECORD_DESCRIPTOR;
}

}  // namespace

Converter::Converter() noexcept = default;
Converter::~Converter() = default;
Converter::Converter(Converter&&) noexcept = default;
Converter& Converter::operator=(Converter&&) noexcept = default;

FormatError Converter::open(const FormatDef& format, const ConvertOptions& options) noexcept {
    state_.reset();
    const FormatError checked = check_format(format);
    if (checked.result != Result::OK) return checked;
    // A GAIJI line whose table was never read (load_gaiji_tables) cannot
    // convert as the format says.
    for (const OptionLine& option : format.options) {
        if (option.kind == OptionKind::GAIJI && !option.gaiji_table) {
            FormatError unread{Result::CANNOT_OPEN, 0, 0};
            try {
                unread.value = option.path;
            } catch (const std::bad_alloc&) {
                return FormatError{Result::OUT_OF_MEMORY, 0, 0};
            }
            return unread;
        }
    }
    try {
        state_ = std::make_unique<State>(format, options);
    } catch (const std::bad_alloc&) {
        return FormatError{Result::OUT_OF_MEMORY, 0, 0};
    }
    return checked;
}

std::size_t Converter::record_length() const noexcept { return state_ ? state_->plan.record_length : 0; }

std::span<const Column> Converter::columns() const noexcept {
    return state_ ? std::span<const Column>(state_->columns) : std::span<const Column>();
}

std::size_t Converter::line_bound() const noexcept { return state_ ? state_->plan.line_bound : 0; }

std::span<const std::uint8_t> Converter::header() const noexcept {
    return state_ ? std::span<const std::uint8_t>(state_->plan.header) : std::span<const std::uint8_t>();
}

Result Converter::convert(std::span<const std::uint8_t> records, std::vector<std::uint8_t>& lines) noexcept {
    if (!state_) return Result::OK;
    try {
        const std::size_t count = records.size() / state_->plan.record_length;
        OutputBuffer out(
            std::max(std::min(LINES_CAPACITY, count * state_->plan.line_bound), state_->plan.largest_bound + 1));
        VectorSink sink(lines);
        state_->fault = {};
        const Result converted = state_->plan.record_format == RecordFormat::F
                                     ? state_->converter.convert(records, out, &sink)
                                     : convert_variable(*state_, records, out, sink);
        const bool stopped = converted == Result::RECORD_KIND || converted == Result::RECORD_DESCRIPTOR;
        if ((converted != Result::OK && !stopped) || sink.write(out.bytes()) != Result::OK) {
            return Result::OUT_OF_MEMORY;  // the only way the vector fails
        }
        if (converted == Result::RECORD_KIND) state_->fault.record = state_->converter.records_done() + 1;
        return converted;
    } catch (const std::bad_alloc&) {
        return Result::OUT_OF_MEMORY;
    }
}

Result Converter::item_texts(std::span<const std::uint8_t> records, ItemTexts& texts, bool findings) noexcept {
    if (!state_) return Result::OK;
    const ItemPlan& plan = state_->plan;
    std::uint8_t* const text = state_->text.data();
    try {
        for (std::size_t at = 0; at + plan.record_length <= records.size(); at += plan.record_length) {
            for (const PlanStep& step : plan.steps) {
                const std::span<const std::uint8_t> item = state_->converter.item_bytes(step, records.data() + at);
                std::size_t n;
                if (findings) {
                    DecodeReport report;
                    n = write_field(step, item, text, report);
                    texts.findings.push_back(report.found | text_findings(step, {text, n}));
                } else {
                    n = write_field(step, item, text);
                }
                texts.bytes.insert(texts.bytes.end(), text, text + n);
                texts.ends.push_back(texts.bytes.size());
            }
        }
        return Result::OK;
    } catch (const std::bad_alloc&) {
        return Result::OUT_OF_MEMORY;
    }
}

std::span<const std::uint8_t> Converter::item_bytes(std::size_t column, std::span<const std::uint8_t> record) noexcept {
    return state_->converter.item_bytes(state_->plan.steps[column], record.data());
}

std::size_t Converter::column_text(std::size_t column, std::span<const std::uint8_t> record,
                                   std::uint8_t* out) noexcept {
    const PlanStep& step = state_->plan.steps[column];
    return write_field(step, state_->converter.item_bytes(step, record.data()), out);
}

Result Converter::prepare_run() noexcept {
    if (!state_ || state_->loop) return Result::OK;
    try {
        state_->loop = make_record_loop(state_->plan, state_->options);
        return Result::OK;
    } catch (const std::bad_alloc&) {
        return Result::OUT_OF_MEMORY;
    }
}

Result Converter::run(ByteSource& source, ByteSink& sink) noexcept {
    if (const Result prepared = prepare_run(); prepared != Result::OK) return prepared;
    if (!state_) return Result::OK;
    // The header is the run's, written once before the records' lines.
    const std::vector<std::uint8_t>& header = state_->plan.header;
    if (!header.empty() && sink.write(header) != Result::OK) return Result::WRITE_ERROR;
    const Result result = state_->loop->run(source, sink);
    state_->fault = state_->loop->fault();
    return result;
}

RecordFault Converter::record_fault() const noexcept { return state_ ? state_->fault : RecordFault{}; }

std::size_t Converter::kinds() const noexcept { return state_ ? state_->plan.kinds.size() : 0; }

std::size_t Converter::kind_of(std::span<const std::uint8_t> record) noexcept {
    return state_ ? state_->converter.kind_of(record.data(), record.size()) : NO_KIND;
}

std::span<const Column> Converter::kind_columns(std::size_t kind) const noexcept {
    if (!state_) return {};
    if (kind < state_->kind_columns.size()) return state_->kind_columns[kind];
    return kind == state_->kind_columns.size() ? std::span<const Column>(state_->columns) : std::span<const Column>();
}

Result Converter::record_texts(std::span<const std::uint8_t> record, std::size_t kind, ItemTexts& texts,
                               bool findings) noexcept {
    if (!state_) return Result::OK;
    const ItemPlan& plan = state_->plan;
    if (kind > plan.kind_layouts.size()) return Result::OK;
    const ItemPlan& layout = kind < plan.kind_layouts.size() ? plan.kind_layouts[kind] : plan;
    const bool variable = plan.record_format != RecordFormat::F;
    if (!variable && record.size() < plan.record_length) return Result::OK;
    std::uint8_t* const text = state_->text.data();
    try {
        for (const PlanStep& step : layout.steps) {
            std::size_t n = 0;
            std::uint32_t found = 0;
            // A V record's field that reaches past its end is empty, as
            // its line writes it.
            const bool whole = step.start <= record.size() && record.size() - step.start >= step.length;
            if (!variable || whole) {
                const std::span<const std::uint8_t> item = variable ? record.subspan(step.start, step.length)
                                                                    : state_->converter.item_bytes(step, record.data());
                if (findings) {
                    DecodeReport report;
                    n = write_field(step, item, text, report);
                    found = report.found | text_findings(step, {text, n});
                } else {
                    n = write_field(step, item, text);
                }
            }
            if (findings) texts.findings.push_back(found);
            texts.bytes.insert(texts.bytes.end(), text, text + n);
            texts.ends.push_back(texts.bytes.size());
        }
        return Result::OK;
    } catch (const std::bad_alloc&) {
        return Result::OUT_OF_MEMORY;
    }
}

bool short_number_item(const ItemDef& item, const ItemForm& form, std::size_t record_length) noexcept {
    if (item.type != ITEM_PACKED && item.type != ITEM_ZONED) return false;
    const DecimalMode mode = item.type == ITEM_PACKED ? DECIMAL_PACKED : DECIMAL_ZONED;
    const std::size_t length = item.length > 0 ? static_cast<std::size_t>(item.length) : 0;
    return short_decimal_item(mode, length) && item.start >= 0 &&
           static_cast<std::uint64_t>(item.start) + length <= record_length && !form.digits && form.scale == 0 &&
           form.sign == SignForm::TRAILING;
}

std::int64_t short_number(const ItemDef& item, std::span<const std::uint8_t> record, bool& number) noexcept {
    return short_decimal_value(item.type == ITEM_PACKED ? DECIMAL_PACKED : DECIMAL_ZONED, record,
                               static_cast<std::size_t>(item.start), static_cast<std::size_t>(item.length), number);
}

void short_numbers(const ItemDef& item, std::span<const std::uint8_t> records, std::size_t record_length,
                   std::int64_t* values, bool* not_numbers) noexcept {
    short_decimal_values(item.type == ITEM_PACKED ? DECIMAL_PACKED : DECIMAL_ZONED, records, record_length,
                         static_cast<std::size_t>(item.start), static_cast<std::size_t>(item.length), values,
                         not_numbers);
}

}  // namespace rekmo
