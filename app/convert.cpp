// The record loop. Host files are read in blocks of many whole records; each
// record's output items are decoded straight into one output buffer, which
// goes to WinFile in large writes. Nothing is allocated per record or item.
#include "app/convert.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "app/messages.hpp"
#include "app/parallel.hpp"
#include "platform/platform.hpp"

namespace rekmo {
namespace {

constexpr std::size_t OUTPUT_CAPACITY = 1 << 20;  // bytes of lines per write in the serial loop
// Each slot of the parallel loop (two per thread, and two more) holds a chunk
// and its worst-case lines. Threads are limited so that one such pair per
// thread fits in this (a few MB for ordinary layouts; only very long records
// or lines come near it); down to one thread, the serial loop then writes
// lines as its buffer fills instead.
constexpr std::size_t PARALLEL_MEMORY = 48u << 20;
// Below this a regular file is converted on one thread: starting threads
// would cost more than they save.
constexpr std::uint64_t PARALLEL_FROM_SIZE = 4u << 20;
constexpr std::uint8_t SEPARATOR = ',';
constexpr std::uint8_t LINE_END = '\n';

class FileSink final : public ByteSink {
public:
    explicit FileSink(platform::File& file) : file_(file) {}
    bool write(std::span<const std::uint8_t> bytes) override { return file_.write(bytes); }
    bool finish() override { return file_.close(); }

private:
    platform::File& file_;
};

// WinFile must not overwrite an input: same file, whatever the path (links
// included).
bool names_an_input(const std::string& win_path, const platform::FileIdentity& host,
                    const std::string& format_path) noexcept {
    platform::FileIdentity win;
    if (!platform::path_identity(win_path, win)) return false;
    platform::FileIdentity format;
    return win == host || (platform::path_identity(format_path, format) && win == format);
}

}  // namespace

ItemPlan make_plan(const FormatDef& format) {
    ItemPlan plan;
    plan.record_length = static_cast<std::size_t>(format.record_length);
    for (std::size_t index = 0; index < format.items.size(); ++index) {
        const ItemDef& item = format.items[index];
        if (item.length == 0 || item.output == 0) continue;
        const ItemCodec& codec = item_codec(item.type);
        PlanStep step;
        step.length = item.length > 0 ? static_cast<std::size_t>(item.length) : 0;
        // A negative length reads nothing, wherever the item starts.
        step.start = step.length > 0 ? static_cast<std::size_t>(item.start) : 0;
        step.in_record = step.start >= plan.record_length ? 0 : std::min(step.length, plan.record_length - step.start);
        step.bound = codec.bound(step.length);
        step.decode = codec.decode;
        step.item = index;
        plan.largest_bound = std::max(plan.largest_bound, step.bound);
        plan.line_bound += step.bound + 1;  // the text and a separator
        if (step.in_record < step.length) plan.scratch_size = std::max(plan.scratch_size, step.length);
        plan.steps.push_back(step);
    }
    plan.line_bound += 1;  // the line end
    return plan;
}

void copy_item_bytes(const PlanStep& step, const std::uint8_t* record, std::uint8_t* scratch) noexcept {
    if (step.in_record > 0) std::memcpy(scratch, record + step.start, step.in_record);
    std::memset(scratch + step.in_record, 0, step.length - step.in_record);
}

OutputBuffer::OutputBuffer(std::size_t capacity) : data_(new std::uint8_t[capacity]), capacity_(capacity) {}

bool OutputBuffer::make_room(std::size_t n, ByteSink* spill) {
    if (spill != nullptr && size_ > 0) {
        if (!spill->write(bytes())) return false;
        size_ = 0;
    }
    if (room() < n) {
        const std::size_t capacity = std::max(capacity_ * 2, size_ + n);
        std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
        if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    return true;
}

RecordConverter::RecordConverter(const ItemPlan& plan)
    : plan_(plan), scratch_(new std::uint8_t[std::max<std::size_t>(plan.scratch_size, 1)]) {}

// A line whose worst case fits in the buffer: one pass with a local cursor,
// no checks per item; every text is followed by a separator, and the last
// separator becomes the line end.
std::uint8_t* RecordConverter::convert_line(const std::uint8_t* record, std::uint8_t* out) noexcept {
    for (const PlanStep& step : plan_.steps) {
        const std::uint8_t* item = record + step.start;
        if (step.in_record < step.length) {
            copy_item_bytes(step, record, scratch_.get());
            item = scratch_.get();
        }
        out += step.decode({item, step.length}, out);
        *out++ = SEPARATOR;
    }
    if (!plan_.steps.empty()) --out;
    *out++ = LINE_END;
    return out;
}

bool RecordConverter::convert(std::span<const std::uint8_t> records, OutputBuffer& out, ByteSink* spill) {
    const std::size_t record_length = plan_.record_length;
    const std::size_t count = records.size() / record_length;
    const std::uint8_t* record = records.data();
    for (std::size_t r = 0; r < count; ++r, record += record_length) {
        if (out.room() >= plan_.line_bound) {
            out.advance(static_cast<std::size_t>(convert_line(record, out.tail()) - out.tail()));
            continue;
        }
        // Near the end of the buffer, or lines longer than it: item by item,
        // making room (writing out or growing) as needed.
        bool first = true;
        for (const PlanStep& step : plan_.steps) {
            if (out.room() <= step.bound && !out.make_room(step.bound + 1, spill)) return false;
            if (!first) out.put(SEPARATOR);
            first = false;
            const std::uint8_t* item = record + step.start;
            if (step.in_record < step.length) {
                copy_item_bytes(step, record, scratch_.get());
                item = scratch_.get();
            }
            out.advance(step.decode({item, step.length}, out.tail()));
        }
        if (out.room() == 0 && !out.make_room(1, spill)) return false;
        out.put(LINE_END);
    }
    return true;
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

    int run(ByteSource& source, ByteSink& sink) override {
        const std::size_t record_length = plan_.record_length;
        int result = RESULT_OK;
        while (true) {
            const ByteSource::Result got = source.read({block_.get(), block_size_});
            const std::size_t whole = got.count - got.count % record_length;
            if (!converter_.convert({block_.get(), whole}, out_, &sink)) return RESULT_WRITE_ERROR;
            // A failed read, or input that ends inside a record (the file
            // changed after its size was checked, or a stream), is a read
            // error; every whole record before it has been converted.
            if (got.error || whole != got.count) {
                result = RESULT_FAILURE;
                break;
            }
            if (got.count < block_size_) break;
        }
        if (!out_.bytes().empty() && !sink.write(out_.bytes())) return RESULT_WRITE_ERROR;
        out_.clear();
        if (!sink.finish() && result == RESULT_OK) return RESULT_WRITE_ERROR;
        return result;
    }

private:
    const ItemPlan& plan_;
    std::size_t block_size_;
    std::unique_ptr<std::uint8_t[]> block_;
    OutputBuffer out_;
    RecordConverter converter_;
};

}  // namespace

std::unique_ptr<RecordLoop> make_record_loop(const ItemPlan& plan, const LoopOptions& options) {
    const std::size_t chunk_records = std::max<std::size_t>(1, options.chunk_bytes / plan.record_length);
    // Bytes one thread holds: a chunk and its worst-case lines (checked for
    // overflow: a line bound can be huge when long items overlap).
    const std::size_t lane_limit = PARALLEL_MEMORY / 2;
    const std::size_t per_lane = plan.line_bound <= lane_limit / chunk_records
                                     ? chunk_records * (plan.record_length + plan.line_bound)
                                     : lane_limit + 1;
    const auto threads = static_cast<unsigned>(std::min<std::size_t>(options.threads, PARALLEL_MEMORY / per_lane));
    if (threads > 1) return make_parallel_loop(plan, threads, chunk_records);
    return std::make_unique<SerialLoop>(plan, chunk_records);
}

int convert_records(const ItemPlan& plan, ByteSource& source, ByteSink& sink, const LoopOptions& options) {
    return make_record_loop(plan, options)->run(source, sink);
}

int convert_file(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                 const std::string& format_path) noexcept {
    try {
        platform::File host;
        platform::FileInfo info;
        if (!host.open_input(host_path) || !host.info(info) || info.kind == platform::FileKind::DIRECTORY) {
            report_message(Message::CANNOT_OPEN, {host_path});
            return RESULT_FAILURE;
        }
        // Only a regular file has a size to check; a FIFO or a device is read
        // as a stream, and a trailing partial record is a read error.
        const auto record_length = static_cast<std::uint64_t>(format.record_length);
        if (info.kind == platform::FileKind::REGULAR && info.size % record_length != 0) {
            report_message(Message::RECORD_LENGTH_MISMATCH, {host_path, format.record_length});
            return RESULT_FAILURE;
        }
        if (names_an_input(win_path, info.identity, format_path)) {
            report_message(Message::CANNOT_OPEN, {win_path});
            return RESULT_FAILURE;
        }
        const ItemPlan plan = make_plan(format);
        LoopOptions options;
        const bool small = info.kind == platform::FileKind::REGULAR && info.size < PARALLEL_FROM_SIZE;
        options.threads = small ? 1 : std::max(1u, std::thread::hardware_concurrency());
        const std::unique_ptr<RecordLoop> loop = make_record_loop(plan, options);

        platform::File win;
        if (!win.create_output(win_path)) {
            report_message(Message::CANNOT_OPEN, {win_path});
            return RESULT_FAILURE;
        }
        FileSource source(host);
        FileSink sink(win);
        const int result = loop->run(source, sink);
        if (result == RESULT_FAILURE) report_message(Message::READ_ERROR);
        if (result == RESULT_WRITE_ERROR) report_message(Message::WRITE_ERROR);
        return result;
    } catch (const std::bad_alloc&) {
        report_message(Message::OUT_OF_MEMORY);
        return RESULT_FAILURE;
    }
}

}  // namespace rekmo
