// Chunks of whole records go round a ring of slots. Every thread runs the
// same loop: under one lock it picks the most useful task that is ready
// (write the next chunk in record order, else read a chunk into a free slot
// and convert it), does it outside the lock, and comes back. A thread never
// waits for its own chunk's turn to be written: whichever thread is free
// writes it. So no core idles while any work is ready, and reads, conversion
// and the kernel's copies overlap.
//
// Lines reach WinFile strictly in record order, and every record is converted
// exactly as on one thread: the bytes written are the same. An early end
// leaves the same prefix too: after a failed write nothing more is written,
// after a read error or a partial record nothing more is read.
#include "record/parallel.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace rekmo {
namespace {

class ParallelLoop final : public RecordLoop {
public:
    ParallelLoop(const ItemPlan& plan, unsigned threads, std::size_t chunk_records, std::size_t variable_chunk)
        : plan_(plan),
          chunk_records_(chunk_records),
          chunk_size_(variable_chunk > 0 ? variable_chunk : chunk_records * plan.record_length),
          variable_(variable_chunk > 0),
          threads_(threads) {
        if (variable_) kept_.reset(new std::uint8_t[chunk_size_]);
        const std::size_t slots = parallel_slots(threads);
        slots_.reserve(slots);
        for (std::size_t i = 0; i < slots; ++i)
            slots_.emplace_back(chunk_size_, chunk_records * plan.line_bound + LINE_SLACK);
        converters_.reserve(threads);
        for (unsigned i = 0; i < threads; ++i) converters_.emplace_back(plan);
    }

    Result run(ByteSource& source, ByteSink& sink) noexcept override {
        fault_ = {};
        walk_ = {};
        walk_.blocked = plan_.record_format == RecordFormat::VB;
        walk_.limit = plan_.record_limit;
        kept_size_ = 0;
        source_ = &source;
        sink_ = &sink;
        std::vector<std::thread> helpers;
        {
            // The helpers wait for the lock until all are started: when one
            // cannot be (no memory for its state), the run stops before
            // anything is read, and every thread started is joined.
            const std::lock_guard<std::mutex> hold(mutex_);
            try {
                helpers.reserve(threads_ - 1);
                for (unsigned i = 0; i + 1 < threads_; ++i) helpers.emplace_back([this, i] { work(converters_[i]); });
            } catch (const std::system_error&) {
                // The system gives fewer threads: the ones started, and this one, do the work.
            } catch (...) {
                out_of_memory_ = true;
                stopped_ = true;
            }
        }
        work(converters_.back());
        for (std::thread& thread : helpers) thread.join();

        if (out_of_memory_) return Result::OUT_OF_MEMORY;
        if (write_failed_) return Result::WRITE_ERROR;
        const Result result = fault_.record != 0 ? fault_result_ : read_failed_ ? Result::READ_ERROR : Result::OK;
        if (sink.finish() != Result::OK && result == Result::OK) return Result::WRITE_ERROR;
        return result;
    }

private:
    enum class State { FREE, CONVERTING, CONVERTED };

    // Slots are converted by different threads at once, and each conversion
    // updates its output buffer per record: one slot per cache line.
    struct alignas(64) Slot {
        Slot(std::size_t input_capacity, std::size_t output_capacity)
            : input(new std::uint8_t[input_capacity]), output(output_capacity) {}
        std::unique_ptr<std::uint8_t[]> input;
        std::size_t input_size = 0;
        OutputBuffer output;  // holds a chunk's worst-case lines: never grows
        State state = State::FREE;
        bool failed = false;                // out of memory while converting
        std::size_t kind_fault = SIZE_MAX;  // the lines stop before this record of no kind
        // V and VB: where the descriptor walk stood at the chunk's start, the
        // whole records it passed, and the fault it stopped at after them.
        DescriptorState start;
        std::size_t records = 0;
        bool descriptor_faulty = false;
        RecordFault descriptor_fault;
    };

    // What the reading thread made of one read.
    struct Piece {
        std::size_t bytes = 0;  // to convert
        bool read_failed = false;
        bool done = false;    // the input ends after it
        bool faulty = false;  // V: a descriptor fault follows its records
    };

    // Reads the next chunk into `slot`, outside the lock: only the thread
    // that reads touches the bytes kept from the last read and the walk.
    Piece read_piece(Slot& slot) noexcept {
        Piece piece;
        if (!variable_) {
            const ReadResult got = source_->read({slot.input.get(), chunk_size_});
            piece.bytes = got.count - got.count % plan_.record_length;
            // A read error or a partial record ends the input; the whole
            // records before it are still converted and written.
            piece.read_failed = got.result != Result::OK || piece.bytes != got.count;
            piece.done = piece.read_failed || got.count < chunk_size_;
            return piece;
        }
        // The bytes after the last chunk's records come first.
        std::copy_n(kept_.get(), kept_size_, slot.input.get());
        const ReadResult got = source_->read({slot.input.get() + kept_size_, chunk_size_ - kept_size_});
        const std::size_t total = kept_size_ + got.count;
        const bool end = got.result == Result::OK && got.count < chunk_size_ - kept_size_;
        slot.start = walk_;
        const DescriptorCut cut = cut_records(walk_, {slot.input.get(), total}, end, chunk_records_);
        slot.records = cut.records;
        slot.descriptor_faulty = cut.faulty;
        slot.descriptor_fault = cut.fault;
        kept_size_ = total - cut.bytes;
        std::copy_n(slot.input.get() + cut.bytes, kept_size_, kept_.get());
        piece.bytes = total;  // the records' bytes, and after them the steps' reach
        piece.read_failed = got.result != Result::OK;
        piece.done = piece.read_failed || cut.faulty || (end && kept_size_ == 0);
        piece.faulty = cut.faulty;
        if (cut.records == 0) piece.bytes = 0;
        return piece;
    }

    Slot& slot_of(std::size_t sequence) { return slots_[sequence % slots_.size()]; }

    void work(RecordConverter& converter) noexcept {
        std::unique_lock lock(mutex_);
        while (true) {
            // Write the next chunk in record order.
            Slot& next = slot_of(next_write_);
            if (!writing_ && !stopped_ && next_write_ < next_read_ && next.state == State::CONVERTED) {
                writing_ = true;
                lock.unlock();
                const bool written = !next.failed && sink_->write(next.output.bytes()) == Result::OK;
                lock.lock();
                writing_ = false;
                if (!written) {
                    (next.failed ? out_of_memory_ : write_failed_) = true;
                    stopped_ = true;
                } else if (next.kind_fault != SIZE_MAX) {
                    // Its lines before the record of no kind are written;
                    // nothing after it is.
                    fault_.record = variable_ ? next.start.records + next.kind_fault + 1
                                              : std::uint64_t{next_write_} * chunk_records_ + next.kind_fault + 1;
                    fault_result_ = Result::RECORD_KIND;
                    stopped_ = true;
                } else if (variable_ && next.descriptor_faulty) {
                    fault_ = next.descriptor_fault;
                    fault_result_ = Result::RECORD_DESCRIPTOR;
                    stopped_ = true;
                } else {
                    next.state = State::FREE;
                    ++next_write_;
                }
                changed_.notify_all();
                continue;
            }
            // Read the next chunk into a free slot, and convert it while its
            // bytes are still in this core's cache.
            if (!reading_ && !input_done_ && !stopped_ && next_read_ - next_write_ < slots_.size()) {
                Slot& slot = slot_of(next_read_);
                reading_ = true;
                lock.unlock();
                const Piece piece = read_piece(slot);
                lock.lock();
                reading_ = false;
                read_failed_ = piece.read_failed;
                input_done_ = piece.done;
                changed_.notify_all();
                const std::size_t whole = piece.bytes;
                if (whole == 0 && !piece.faulty) continue;
                slot.input_size = whole;
                slot.state = State::CONVERTING;
                ++next_read_;
                ++converting_;
                lock.unlock();
                bool failed = false;
                std::size_t kind_fault = SIZE_MAX;
                slot.output.clear();
                try {
                    // The slot holds the chunk's worst-case lines: it never
                    // grows, so this cannot fail; should it, the run ends.
                    const Result converted = variable_
                                                 ? converter.convert_variable({slot.input.get(), whole}, slot.start,
                                                                              slot.records, slot.output, nullptr)
                                                 : converter.convert({slot.input.get(), whole}, slot.output, nullptr);
                    if (converted == Result::RECORD_KIND) kind_fault = converter.records_done();
                } catch (const std::bad_alloc&) {
                    failed = true;
                }
                lock.lock();
                --converting_;
                slot.failed = failed;
                slot.kind_fault = kind_fault;
                slot.state = State::CONVERTED;
                changed_.notify_all();
                continue;
            }
            // Nothing ready: done when everything read was written (or the
            // run stopped and nobody is busy), else wait for a change.
            const bool busy = reading_ || writing_ || converting_ > 0;
            if (!busy && (stopped_ || (input_done_ && next_write_ == next_read_))) {
                changed_.notify_all();
                return;
            }
            changed_.wait(lock);
        }
    }

    const ItemPlan& plan_;
    std::size_t chunk_records_;
    std::size_t chunk_size_;
    bool variable_;                         // V or VB
    std::unique_ptr<std::uint8_t[]> kept_;  // V: the bytes after the last chunk's whole records
    std::size_t kept_size_ = 0;
    DescriptorState walk_;  // V: where the descriptor walk stands
    Result fault_result_ = Result::OK;
    unsigned threads_;
    std::vector<Slot> slots_;
    std::vector<RecordConverter> converters_;  // one per thread, each with its own scratch
    ByteSource* source_ = nullptr;
    ByteSink* sink_ = nullptr;

    std::mutex mutex_;  // guards everything below, and the slots' states
    std::condition_variable changed_;
    std::size_t next_read_ = 0;   // sequence number of the next chunk to read
    std::size_t next_write_ = 0;  // ... and of the next one to write
    bool reading_ = false;
    bool writing_ = false;
    unsigned converting_ = 0;  // chunks being converted
    bool input_done_ = false;
    bool read_failed_ = false;
    bool write_failed_ = false;
    bool out_of_memory_ = false;
    bool stopped_ = false;  // a write failed, or a thread could not start: no more reads, conversions or writes
};

}  // namespace

std::unique_ptr<RecordLoop> make_parallel_loop(const ItemPlan& plan, unsigned threads, std::size_t chunk_records,
                                               std::size_t variable_chunk) {
    return std::make_unique<ParallelLoop>(plan, threads, chunk_records, variable_chunk);
}

}  // namespace rekmo
