// The record converter: whole records to lines, through the record lines of
// a level (record/line.hpp) where the plan allows, else item by item.
#include <algorithm>
#include <cstring>

#include "codec/level_x86.hpp"
#include "codec/steps.hpp"
#include "record/line.hpp"
#include "record/plan.hpp"

namespace rekmo {

LinesFn lines_for(VectorLevel level) noexcept {
    switch (level) {
        case VectorLevel::SCALAR:
            break;
        case VectorLevel::SSE41:
#if REKMO_VECTOR_X86
            return sse41_lines;
#else
            break;
#endif
        case VectorLevel::AVX2:
#if REKMO_VECTOR_X86
            return avx2_lines;
#else
            break;
#endif
    }
    return write_lines<ScalarSteps>;
}

OutputBuffer::OutputBuffer(std::size_t capacity) : data_(new std::uint8_t[capacity]), capacity_(capacity) {}

Result OutputBuffer::make_room(std::size_t n, ByteSink* spill) {
    if (spill != nullptr && size_ > 0) {
        if (spill->write(bytes()) != Result::OK) return Result::WRITE_ERROR;
        size_ = 0;
    }
    if (room() < n) {
        const std::size_t capacity = std::max(capacity_ * 2, size_ + n);
        std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
        if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    return Result::OK;
}

RecordConverter::RecordConverter(const ItemPlan& plan, const VectorKernels& kernels)
    : plan_(plan),
      lines_(lines_for(kernels.level)),
      scratch_(new std::uint8_t[std::max<std::size_t>(plan.scratch_size, 1)]) {
    if (plan.kinds.empty()) return;
    kind_converters_.reserve(plan.kind_layouts.size());
    for (const ItemPlan& layout : plan.kind_layouts) kind_converters_.emplace_back(layout, kernels);
    kind_text_.reset(new std::uint8_t[std::max<std::size_t>(plan.kind_text_bound, 1)]);
}

std::size_t RecordConverter::kind_of(const std::uint8_t* record, std::size_t size) noexcept {
    std::size_t text_size = 0;
    for (std::size_t k = 0; k < plan_.kinds.size(); ++k) {
        const KindSelect& kind = plan_.kinds[k];
        // A record too short for the test's bytes is not of its kind.
        if (kind.start > size || size - kind.start < kind.length) continue;
        const std::uint8_t* const bytes = record + kind.start;
        if (kind.raw) {
            if (std::memcmp(bytes, kind.value.data(), kind.length) == 0) return k;
            continue;
        }
        // The bytes as an E item, trailing spaces ignored: the value was
        // stored without them.
        if (!kind.same_field || k == 0 || plan_.kinds[k - 1].raw) {
            text_size = plan_.kind_text({bytes, kind.length}, kind_text_.get());
            while (text_size > 0 && kind_text_[text_size - 1] == ' ') --text_size;
        }
        // An all-space value is empty: memcmp must not see its null data.
        if (text_size == kind.value.size() &&
            (text_size == 0 || std::memcmp(kind_text_.get(), kind.value.data(), text_size) == 0))
            return k;
    }
    return plan_.default_layout ? plan_.kinds.size() : NO_KIND;
}

std::span<const std::uint8_t> RecordConverter::item_bytes(const PlanStep& step, const std::uint8_t* record) noexcept {
    if (step.in_record == step.length) return {record + step.start, step.length};
    copy_item_bytes(step, record, scratch_.get());
    return {scratch_.get(), step.length};
}

// A line whose worst case fits in the buffer: one pass with a local cursor,
// no checks per item; every text is followed by a separator, and the last
// separator becomes the line end.
std::uint8_t* RecordConverter::convert_line(const std::uint8_t* record, std::uint8_t* out) noexcept {
    for (const PlanStep& step : plan_.steps) {
        out += write_field(step, item_bytes(step, record), out);
        *out++ = SEPARATOR;
    }
    if (!plan_.steps.empty()) --out;
    *out++ = LINE_END;
    return out;
}

Result RecordConverter::convert(std::span<const std::uint8_t> records, OutputBuffer& out, ByteSink* spill) {
    done_ = 0;
    if (plan_.kinds.empty()) {
        const Result result = convert_layout(records, out, spill);
        if (result == Result::OK) done_ = records.size() / plan_.record_length;
        return result;
    }
    // Runs of records of one kind go through that kind's layout together, so
    // that the record lines take the run as they take a chunk of one layout.
    const std::size_t record_length = plan_.record_length;
    const std::size_t count = records.size() / record_length;
    const std::uint8_t* const first = records.data();
    std::size_t kind = count > 0 ? kind_of(first, record_length) : NO_KIND;
    while (done_ < count) {
        if (kind == NO_KIND) return Result::RECORD_KIND;
        std::size_t end = done_ + 1;
        std::size_t next = NO_KIND;
        for (; end < count; ++end) {
            next = kind_of(first + end * record_length, record_length);
            if (next != kind) break;
        }
        const std::span<const std::uint8_t> run(first + done_ * record_length, (end - done_) * record_length);
        RecordConverter& layout = kind == plan_.kinds.size() ? *this : kind_converters_[kind];
        if (layout.convert_layout(run, out, spill) != Result::OK) return Result::WRITE_ERROR;
        done_ = end;
        kind = next;
    }
    return Result::OK;
}

Result RecordConverter::convert_layout(std::span<const std::uint8_t> records, OutputBuffer& out, ByteSink* spill) {
    const std::size_t record_length = plan_.record_length;
    const std::size_t line_bound = plan_.line_bound;
    const std::size_t count = records.size() / record_length;
    // The record lines may read LINE_SLACK bytes past a record: not past the
    // end of `records`, so the last records take the per-item path.
    const std::size_t last = (LINE_SLACK + record_length - 1) / record_length;
    const std::size_t kernel_records = plan_.line_kernels && count > last ? count - last : 0;
    const std::uint8_t* record = records.data();
    std::size_t r = 0;
    while (r < count) {
        // As many lines as the buffer holds at their worst, and the slack.
        const std::size_t fit = out.room() > LINE_SLACK ? (out.room() - LINE_SLACK) / line_bound : 0;
        if (r < kernel_records && fit > 0) {
            const std::size_t batch = std::min(kernel_records - r, fit);
            std::uint8_t* const end =
                lines_(plan_.steps.data(), plan_.steps.size(), record, record_length, batch, out.tail());
            out.advance(static_cast<std::size_t>(end - out.tail()));
            r += batch;
            record += batch * record_length;
            continue;
        }
        if (out.room() >= line_bound) {
            out.advance(static_cast<std::size_t>(convert_line(record, out.tail()) - out.tail()));
        } else {
            // Near the end of the buffer, or lines longer than it: item by
            // item, making room (writing out or growing) as needed.
            bool first = true;
            for (const PlanStep& step : plan_.steps) {
                if (out.room() <= step.bound && out.make_room(step.bound + 1, spill) != Result::OK) {
                    return Result::WRITE_ERROR;
                }
                if (!first) out.put(SEPARATOR);
                first = false;
                out.advance(write_field(step, item_bytes(step, record), out.tail()));
            }
            if (out.room() == 0 && out.make_room(1, spill) != Result::OK) return Result::WRITE_ERROR;
            out.put(LINE_END);
        }
        ++r;
        record += record_length;
    }
    return Result::OK;
}

}  // namespace rekmo

namespace rekmo {

// A V record's line. When the record holds every field and the bytes after
// it the steps' reach, the record lines take it; else item by item, a field
// that reaches past the record's end empty (never bytes of the next record).
Result RecordConverter::variable_line(std::span<const std::uint8_t> record, std::size_t after, OutputBuffer& out,
                                      ByteSink* spill) {
    const std::size_t need = plan_.line_bound + LINE_SLACK;
    if (out.room() < need && out.make_room(need, spill) != Result::OK) return Result::WRITE_ERROR;
    const std::uint8_t* const bytes = record.data();
    if (plan_.line_kernels && record.size() >= plan_.steps_end && after >= LINE_SLACK) {
        out.advance(static_cast<std::size_t>(lines_(plan_.steps.data(), plan_.steps.size(), bytes, 0, 1, out.tail()) -
                                             out.tail()));
        return Result::OK;
    }
    std::uint8_t* o = out.tail();
    for (const PlanStep& step : plan_.steps) {
        if (step.start <= record.size() && record.size() - step.start >= step.length) {
            o += write_field(step, {bytes + step.start, step.length}, o);
        }
        *o++ = SEPARATOR;
    }
    if (!plan_.steps.empty()) --o;
    *o++ = LINE_END;
    out.advance(static_cast<std::size_t>(o - out.tail()));
    return Result::OK;
}

Result RecordConverter::convert_variable(std::span<const std::uint8_t> bytes, DescriptorState start,
                                         std::size_t records, OutputBuffer& out, ByteSink* spill) {
    done_ = 0;
    std::size_t pos = 0;
    std::span<const std::uint8_t> record;
    RecordFault fault;
    while (done_ < records) {
        // The walk passed these bytes before: only records and BDWs follow.
        const DescriptorStep step = next_record(start, bytes, pos, record, fault);
        if (step != DescriptorStep::RECORD) {
            if (step == DescriptorStep::BLOCK) continue;
            break;
        }
        const std::size_t after = bytes.size() - pos;
        RecordConverter* layout = this;
        if (!plan_.kinds.empty()) {
            const std::size_t kind = kind_of(record.data(), record.size());
            if (kind == NO_KIND) return Result::RECORD_KIND;
            if (kind < kind_converters_.size()) layout = &kind_converters_[kind];
        }
        if (layout->variable_line(record, after, out, spill) != Result::OK) return Result::WRITE_ERROR;
        ++done_;
    }
    return Result::OK;
}

}  // namespace rekmo
