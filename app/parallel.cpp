// Every thread runs the same loop over its own lane: take the next chunk of
// whole records from the source (reads are serialised and numbered), convert
// it into the lane's output buffer, then wait for the chunk's turn and write
// its lines. Turns follow the read order, so lines reach WinFile strictly in
// record order, and every record is converted exactly as on one thread:
// the bytes written are the same. An early end leaves the same prefix too:
// after a failed write nothing more is written, and after a read error or a
// partial record nothing more is read.
//
// Reading, converting and writing overlap across threads, and the kernel's
// copies for reads and writes run on every core instead of one.
#include "app/parallel.hpp"

#include <atomic>
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
    ParallelLoop(const ItemPlan& plan, unsigned threads, std::size_t chunk_records)
        : plan_(plan), chunk_size_(chunk_records * plan.record_length) {
        lanes_.reserve(threads);
        for (unsigned i = 0; i < threads; ++i) lanes_.emplace_back(plan, chunk_size_, chunk_records * plan.line_bound);
    }

    int run(ByteSource& source, ByteSink& sink) override {
        source_ = &source;
        sink_ = &sink;
        std::vector<std::thread> threads;
        try {
            for (std::size_t i = 0; i + 1 < lanes_.size(); ++i) threads.emplace_back([this, i] { lane_loop(lanes_[i]); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for: the ones started, and this one, do the work.
        }
        lane_loop(lanes_.back());
        for (std::thread& thread : threads) thread.join();

        if (out_of_memory_) throw std::bad_alloc();
        if (write_failed_) return RESULT_WRITE_ERROR;
        const int result = read_failed_ ? RESULT_FAILURE : RESULT_OK;
        if (!sink.finish() && result == RESULT_OK) return RESULT_WRITE_ERROR;
        return result;
    }

private:
    struct Lane {
        Lane(const ItemPlan& plan, std::size_t input_capacity, std::size_t output_capacity)
            : input(new std::uint8_t[input_capacity]), output(output_capacity), converter(plan) {}
        std::unique_ptr<std::uint8_t[]> input;
        OutputBuffer output;  // holds a chunk's worst-case lines: never grows
        RecordConverter converter;
    };

    void lane_loop(Lane& lane) noexcept {
        while (true) {
            std::size_t turn = 0;
            std::size_t whole = 0;
            {
                const std::lock_guard lock(read_mutex_);
                if (input_done_ || stop_) return;
                const ByteSource::Result got = source_->read({lane.input.get(), chunk_size_});
                whole = got.count - got.count % plan_.record_length;
                // A read error or a partial record ends the input; the whole
                // records before it are still converted and written.
                read_failed_ = got.error || whole != got.count;
                input_done_ = read_failed_ || got.count < chunk_size_;
                if (whole == 0) return;
                turn = next_turn_++;
            }
            bool converted = true;
            lane.output.clear();
            try {
                (void)lane.converter.convert({lane.input.get(), whole}, lane.output, nullptr);
            } catch (const std::bad_alloc&) {
                converted = false;
            }
            std::unique_lock lock(write_mutex_);
            turn_done_.wait(lock, [&] { return write_turn_ == turn; });
            if (!stop_) {
                if (!converted) {
                    out_of_memory_ = true;
                    stop_ = true;
                } else if (!sink_->write(lane.output.bytes())) {
                    write_failed_ = true;
                    stop_ = true;
                }
            }
            ++write_turn_;
            turn_done_.notify_all();
        }
    }

    const ItemPlan& plan_;
    std::size_t chunk_size_;
    std::vector<Lane> lanes_;  // one per thread; the last for the calling thread
    ByteSource* source_ = nullptr;
    ByteSink* sink_ = nullptr;

    std::mutex read_mutex_;  // guards the source and the fields below it
    bool input_done_ = false;
    bool read_failed_ = false;
    std::size_t next_turn_ = 0;

    std::mutex write_mutex_;  // guards the sink and the fields below it
    std::condition_variable turn_done_;
    std::size_t write_turn_ = 0;
    bool write_failed_ = false;
    bool out_of_memory_ = false;
    std::atomic<bool> stop_ = false;  // also read before reading: no more chunks after a failure
};

}  // namespace

std::unique_ptr<RecordLoop> make_parallel_loop(const ItemPlan& plan, unsigned threads, std::size_t chunk_records) {
    return std::make_unique<ParallelLoop>(plan, threads, chunk_records);
}

}  // namespace rekmo
