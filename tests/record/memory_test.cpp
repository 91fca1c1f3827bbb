// Running out of memory, on demand: this test executable replaces the global
// allocation functions, so that a test can make the n-th request from now
// fail, or count what is asked for. (The command's own messages when memory
// runs out are end-to-end cases of tests/data/rekmo.txt.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "inspect/items.hpp"
#include "rekmo/rekmo.hpp"
#include "support/memory_io.hpp"

namespace {
std::atomic<long> fail_after{-1};       // this many requests succeed, then one fails; -1: none
std::atomic<std::size_t> requested{0};  // bytes asked for
std::atomic<std::size_t> requests{0};   // requests made
}  // namespace

void* operator new(std::size_t size) {
    if (fail_after >= 0 && fail_after-- == 0) throw std::bad_alloc();
    requested += size;
    ++requests;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::format_of;

// Counts what it takes, without allocating.
struct CountingSink final : ByteSink {
    Result write(std::span<const std::uint8_t> bytes) noexcept override {
        taken += bytes.size();
        return Result::OK;
    }
    std::size_t taken = 0;
};

// Runs `run(k)` for k = -1 (nothing fails), then once for each request that
// run made, failing that request: a run may end out of memory, never in
// std::terminate.
template <class Run>
void fail_each_request(Run run) {
    const std::size_t before = requests;
    run(-1);
    const auto made = static_cast<long>(requests - before);
    for (long k = 0; k <= made; ++k) run(k);
}

// A thread that cannot be started for lack of memory stops the run before
// anything is read, and every thread started is joined.
TEST(OutOfMemory, WhileThreadsStart) {
    const FormatDef def = format_of("RECLEN=10\nA,1,10,E,1\n");
    const Bytes host(10 * 10000, 0xC1);
    Converter converter;
    ASSERT_EQ(converter.open(def, {4, 1000}).result, Result::OK);
    ASSERT_EQ(converter.prepare_run(), Result::OK);
    int refused = 0;
    fail_each_request([&](long k) {
        test::MemorySource source(host);
        CountingSink sink;
        fail_after = k;
        const Result result = converter.run(source, sink);
        fail_after = -1;
        if (result == Result::OUT_OF_MEMORY) {
            EXPECT_EQ(sink.taken, 0u) << k;
            ++refused;
        } else {
            EXPECT_EQ(result, Result::OK) << k;
            EXPECT_EQ(sink.taken, 11u * 10000) << k;
        }
    });
    EXPECT_GE(refused, 4);  // the list of threads and three threads' states
    fail_each_request([&](long k) {
        test::MemorySource source(host);
        inspect::Scan scan;
        fail_after = k;
        const Result result = inspect::scan_records(def, source, 4, scan);
        fail_after = -1;
        EXPECT_TRUE(result == Result::OUT_OF_MEMORY || (result == Result::OK && scan.records == 10000)) << k;
    });
}

// The buffers of several threads stay within ConvertOptions::memory: here a
// chunk and its lines take about 1 MiB, and 64 threads are asked for.
TEST(OutOfMemory, ThreadsAreLimitedByWhatTheirBuffersTake) {
    const FormatDef def = format_of("RECLEN=100\nA,1,100,E,1\nB,1,100,K,1\n");
    for (const std::size_t memory : {std::size_t{8} << 20, std::size_t{48} << 20}) {
        Converter converter;
        ASSERT_EQ(converter.open(def, {64, 256u << 10, memory}).result, Result::OK);
        requested = 0;
        ASSERT_EQ(converter.prepare_run(), Result::OK);
        EXPECT_LE(requested, memory + (64u << 10)) << memory;
        EXPECT_GT(requested, memory / 2) << memory;  // and that is still several threads
    }
}

}  // namespace
}  // namespace rekmo
