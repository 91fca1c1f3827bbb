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
        records_ = 0;
        fault_ = {};
        while (true) {
            const ReadResult got = source.read({block_.get(), block_size_});
            const std::size_t whole = got.count - got.count % record_length;
            // The buffer always holds a whole line's worst case after a
            // spill, so it never grows here: nothing can throw.
            const Result converted = converter_.convert({block_.get(), whole}, out_, &sink);
            if (converted == Result::RECORD_KIND) {
                // As for a read error: the lines before the record stay.
                fault_.record = records_ + converter_.records_done() + 1;
                result = converted;
                break;
            }
            if (converted != Result::OK) return Result::WRITE_ERROR;
            records_ += whole / record_length;
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
    std::uint64_t records_ = 0;  // records converted by earlier blocks
};

// V and VB records on the calling thread: blocks of the file are read, the
// descriptor walk passes the whole records at their start, and the bytes of
// a record cut by the block's end move to the front to be completed by the
// next read. A block holds the largest record and a BDW, so each read
// completes at least one.
class VariableLoop final : public RecordLoop {
public:
    VariableLoop(const ItemPlan& plan, std::size_t block_size)
        : plan_(plan),
          block_size_(block_size),
          block_(new std::uint8_t[block_size_]),
          out_(std::max(OUTPUT_CAPACITY, plan.line_bound + LINE_SLACK + 1)),
          converter_(plan) {}

    Result run(ByteSource& source, ByteSink& sink) noexcept override {
        Result result = Result::OK;
        fault_ = {};
        DescriptorState state;
        state.blocked = plan_.record_format == RecordFormat::VB;
        state.limit = plan_.record_limit;
        std::size_t kept = 0;  // bytes of a record cut by the last block's end
        while (true) {
            const ReadResult got = source.read({block_.get() + kept, block_size_ - kept});
            const std::size_t total = kept + got.count;
            // After a failed read the records it completed are converted, and
            // a record it cut short is no fault of the file's.
            const bool end = got.result == Result::OK && got.count < block_size_ - kept;
            const DescriptorState start = state;
            const DescriptorCut cut = cut_records(state, {block_.get(), total}, end, SIZE_MAX);
            const Result converted =
                converter_.convert_variable({block_.get(), total}, start, cut.records, out_, &sink);
            if (converted == Result::RECORD_KIND) {
                fault_.record = start.records + converter_.records_done() + 1;
                result = converted;
                break;
            }
            if (converted != Result::OK) return Result::WRITE_ERROR;
            if (cut.faulty) {
                fault_ = cut.fault;
                result = Result::RECORD_DESCRIPTOR;
                break;
            }
            if (got.result != Result::OK) {
                result = Result::READ_ERROR;
                break;
            }
            if (end) break;
            kept = total - cut.bytes;
            std::memmove(block_.get(), block_.get() + cut.bytes, kept);
        }
        if (!out_.bytes().empty() && sink.write(out_.bytes()) != Result::OK) return Result::WRITE_ERROR;
        out_.clear();
        const Result finished = sink.finish();
        return result == Result::OK ? finished : result;
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
    // V chunks: at most as many records as a chunk of F records of the
    // layout's length, in a chunk that holds the largest record and a BDW.
    const bool variable = plan.record_format != RecordFormat::F;
    const std::size_t variable_chunk = std::max(options.chunk_bytes, plan.record_limit + 2 * DESCRIPTOR_SIZE);
    // Every slot of the parallel loop holds a chunk and its worst-case lines
    // (a line bound can be huge when long items overlap), and every thread a
    // scratch item: as many threads as asked for while all of that fits.
    const std::size_t lines = variable ? saturated_product(chunk_records, plan.line_bound) + 2 * variable_chunk
                                       : saturated_product(chunk_records, plan.record_length + plan.line_bound);
    const std::size_t slot = lines > SIZE_MAX - LINE_SLACK ? SIZE_MAX : lines + LINE_SLACK;  // and the kernels' slack
    // (Each thread needs two slots at least: that bounds the search.)
    auto threads = static_cast<unsigned>(std::min<std::size_t>(options.threads, options.memory / slot / 2));
    auto memory = [&](unsigned n) {
        const std::size_t slots = saturated_product(parallel_slots(n), slot);
        const std::size_t scratch = saturated_product(n, plan.scratch_size);
        return slots > SIZE_MAX - scratch ? SIZE_MAX : slots + scratch;
    };
    while (threads > 1 && memory(threads) > options.memory) --threads;
    if (threads > 1) return make_parallel_loop(plan, threads, chunk_records, variable ? variable_chunk : 0);
    if (variable) return std::make_unique<VariableLoop>(plan, variable_chunk);
    return std::make_unique<SerialLoop>(plan, chunk_records);
}

}  // namespace rekmo
