// The record loop. Host records are read in blocks of many whole records;
// each record's output items are decoded straight into one output buffer,
// which goes to the sink in large writes. Nothing is allocated per record or
// item.
#include <algorithm>
#include <cstring>
#include <new>

#include "record/parallel.hpp"
#include "record/plan.hpp"

namespace rekmo {
namespace {

constexpr std::size_t OUTPUT_CAPACITY = 1 << 20;  // bytes of lines per write in the serial loop
constexpr std::uint8_t SEPARATOR = ',';
constexpr std::uint8_t LINE_END = '\n';

}  // namespace

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
        step.shaped = step.shape.changes_text();
        step.bound = field_bound(step.shape, step.length, codec.bound(step.length));
        step.decode = codec.decode;
        step.report = codec.report;
        step.item = index;
        names.push_back(item.name);
        plan.largest_bound = std::max(plan.largest_bound, step.bound);
        plan.line_bound += step.bound + 1;  // the text and a separator
        if (step.in_record < step.length) {
            plan.scratch_size = std::max(plan.scratch_size, step.length);
            plan.fields_in_record = false;
        }
        plan.steps.push_back(step);
        plan.fields.push_back({step.start, step.length, field_op(codec, step.length), codec.table, codec.rows,
                               codec.pairs, codec.decode});
    }
    plan.line_bound += 1;  // the line end
    // The one choice of path: the line kernels write the decoders' texts,
    // so a plan with an item past the record or a text the options change
    // takes the plain per-item path.
    plan.line_kernels = plan.fields_in_record &&
                        std::none_of(plan.steps.begin(), plan.steps.end(), [](const PlanStep& s) { return s.shaped; });
    if (csv & CSV_HEADER) plan.header = header_line(names, (csv & CSV_QUOTE) != 0);
    return plan;
}

void copy_item_bytes(const PlanStep& step, const std::uint8_t* record, std::uint8_t* scratch) noexcept {
    if (step.in_record > 0) std::memcpy(scratch, record + step.start, step.in_record);
    std::memset(scratch + step.in_record, 0, step.length - step.in_record);
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
    : plan_(plan), kernels_(kernels), scratch_(new std::uint8_t[std::max<std::size_t>(plan.scratch_size, 1)]) {}

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
    const std::size_t record_length = plan_.record_length;
    const std::size_t line_bound = plan_.line_bound;
    const std::size_t count = records.size() / record_length;
    // The line kernels may read LINE_SLACK bytes past a record: not past the
    // end of `records`, so the last records take the plain path.
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
                kernels_.lines(plan_.fields.data(), plan_.fields.size(), record, record_length, batch, out.tail());
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

namespace {

// The loop on the calling thread: one block of records at a time, lines
// written whenever the output buffer fills. Used for small inputs, a single
// core, and layouts whose lines are too long to hold a chunk of them.
class SerialLoop final : public RecordLoop {
public:
    SerialLoop(const ItemPlan& plan, std::size_t chunk_records)
        : plan_(plan),
          block_size_(chunk_records * plan.record_length),
          block_(new std::uint8_t[block_size_]),
          // Room for a block's lines up to the usual write size, and always
          // for the largest single item.
          out_(std::max(std::min(OUTPUT_CAPACITY, chunk_records * plan.line_bound), plan.largest_bound + 1)),
          converter_(plan) {}

    Result run(ByteSource& source, ByteSink& sink) noexcept override {
        const std::size_t record_length = plan_.record_length;
        Result result = Result::OK;
        while (true) {
            const ReadResult got = source.read({block_.get(), block_size_});
            const std::size_t whole = got.count - got.count % record_length;
            // The buffer always holds a whole line's worst case after a
            // spill, so it never grows here: nothing can throw.
            if (converter_.convert({block_.get(), whole}, out_, &sink) != Result::OK) return Result::WRITE_ERROR;
            // A failed read, or input that ends inside a record (the file
            // changed after its size was checked, or a stream), is a read
            // error; every whole record before it has been converted.
            if (got.result != Result::OK || whole != got.count) {
                result = Result::READ_ERROR;
                break;
            }
            if (got.count < block_size_) break;
        }
        if (!out_.bytes().empty() && sink.write(out_.bytes()) != Result::OK) return Result::WRITE_ERROR;
        out_.clear();
        if (sink.finish() != Result::OK && result == Result::OK) return Result::WRITE_ERROR;
        return result;
    }

private:
    const ItemPlan& plan_;
    std::size_t block_size_;
    std::unique_ptr<std::uint8_t[]> block_;
    OutputBuffer out_;
    RecordConverter converter_;
};

// a * b, or SIZE_MAX when that overflows.
std::size_t saturated_product(std::size_t a, std::size_t b) noexcept {
    return b != 0 && a > SIZE_MAX / b ? SIZE_MAX : a * b;
}

}  // namespace

std::unique_ptr<RecordLoop> make_record_loop(const ItemPlan& plan, const ConvertOptions& options) {
    const std::size_t chunk_records = std::max<std::size_t>(1, options.chunk_bytes / plan.record_length);
    // Every slot of the parallel loop holds a chunk and its worst-case lines
    // (a line bound can be huge when long items overlap), and every thread a
    // scratch item: as many threads as asked for while all of that fits.
    const std::size_t lines = saturated_product(chunk_records, plan.record_length + plan.line_bound);
    const std::size_t slot = lines > SIZE_MAX - LINE_SLACK ? SIZE_MAX : lines + LINE_SLACK;  // and the kernels' slack
    // (Each thread needs two slots at least: that bounds the search.)
    auto threads = static_cast<unsigned>(std::min<std::size_t>(options.threads, options.memory / slot / 2));
    auto memory = [&](unsigned n) {
        const std::size_t slots = saturated_product(parallel_slots(n), slot);
        const std::size_t scratch = saturated_product(n, plan.scratch_size);
        return slots > SIZE_MAX - scratch ? SIZE_MAX : slots + scratch;
    };
    while (threads > 1 && memory(threads) > options.memory) --threads;
    if (threads > 1) return make_parallel_loop(plan, threads, chunk_records);
    return std::make_unique<SerialLoop>(plan, chunk_records);
}

}  // namespace rekmo
