// Running out of memory, on demand: this test executable replaces the global
// allocation functions, so that a test can make the n-th request from now
// fail, or count what is asked for and what is in use at most. (The
// command's own messages when memory runs out are end-to-end cases of
// tests/data/rekmo.txt.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "inspect/inspect.hpp"
#include "inspect/items.hpp"
#include "rekmo/rekmo.hpp"
#include "support/memory_io.hpp"

namespace {
std::atomic<long> fail_after{-1};       // this many requests succeed, then one fails; -1: none
std::atomic<std::size_t> requested{0};  // bytes asked for
std::atomic<std::size_t> requests{0};   // requests made
std::atomic<std::size_t> in_use{0};     // bytes asked for and not yet freed
std::atomic<std::size_t> peak{0};       // the most in use at once since it was last set

// Each block starts with its size, so that delete knows what it frees.
constexpr std::size_t HEADER = alignof(std::max_align_t);

void release(void* p) noexcept {
    if (p == nullptr) return;
    auto* block = static_cast<unsigned char*>(p) - HEADER;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    in_use -= size;
    std::free(block);
}
}  // namespace

void* operator new(std::size_t size) {
    if (fail_after >= 0 && fail_after-- == 0) throw std::bad_alloc();
    requested += size;
    ++requests;
    auto* block = static_cast<unsigned char*>(std::malloc(size + HEADER));
    if (block == nullptr) throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    const std::size_t now = in_use += size;
    for (std::size_t seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
    }
    return block + HEADER;
}
void* operator new[](std::size_t size) { return operator new(size); }
// The forms that return null instead of throwing take the same blocks (a
// sanitizer's own would have no size before them).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

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

// --- rekmo-inspect's report, written as it is made ---

// A format and a host file of `records` records of 100 bytes (two items, a
// comma in every seventh record) in a new folder, removed at the end.
class HostFiles {
public:
    explicit HostFiles(std::uint64_t records) {
        folder_ = std::filesystem::temp_directory_path() / ("rekmo-memory-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ / "f.fmt", std::ios::binary) << "RECLEN=100\nA,1,90,E,1\nB,91,10,Z,1\n";
        std::ofstream host(folder_ / "h.bin", std::ios::binary);
        std::string record(90, '\xC1');
        record += "\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xC0";
        for (std::uint64_t r = 0; r < records; ++r) {
            record[5] = r % 7 == 0 ? '\x6B' : '\xC1';
            host << record;
        }
    }
    ~HostFiles() { std::filesystem::remove_all(folder_); }
    inspect::Options options(bool json, bool scan) const {
        inspect::Options options;
        options.format_path = (folder_ / "f.fmt").string();
        options.host_path = (folder_ / "h.bin").string();
        options.first_record = 1;
        options.record_count = UINT64_MAX;
        options.records_given = true;
        options.json = json;
        options.scan = scan;
        options.threads = 2;
        return options;
    }

private:
    std::filesystem::path folder_;
};

// Takes the report piece by piece, keeping nothing; fails every write after
// the first `accepted`.
struct TestOutput final : inspect::ReportOutput {
    explicit TestOutput(std::size_t writes_accepted = SIZE_MAX) : accepted(writes_accepted) {}
    bool write(std::string_view text) override {
        largest = std::max(largest, text.size());
        if (++writes > accepted) return false;
        bytes += text.size();
        return true;
    }
    std::size_t accepted, writes = 0, bytes = 0, largest = 0;
};

struct Shape {
    bool json, scan;
};
constexpr Shape SHAPES[] = {{false, false}, {true, false}, {true, true}};

// The memory in use at most is the same whether one record is shown or all
// 10,000.
TEST(ReportMemory, DoesNotGrowWithTheRecordsShown) {
    const HostFiles files(10000);
    for (const Shape shape : SHAPES) {
        SCOPED_TRACE(::testing::Message() << "json " << shape.json << " scan " << shape.scan);
        std::size_t most[2] = {};
        const std::uint64_t shown[2] = {1, UINT64_MAX};
        for (int k = 0; k < 2; ++k) {
            inspect::Options options = files.options(shape.json, shape.scan);
            options.record_count = shown[k];
            TestOutput out;
            inspect::Report report;
            std::string error;
            const std::size_t before = in_use;
            peak = before;
            ASSERT_EQ(inspect::write_report(options, shape.json, out, report, error), Result::OK);
            most[k] = peak - before;
            EXPECT_EQ(out.bytes > 10000u * 100, k == 1);  // every record was written
            EXPECT_TRUE(inspect::has_findings(report));
        }
        EXPECT_LT(most[1], most[0] + (64u << 10)) << most[0];  // a record's text, not the records
    }
}

// The first failed write ends the run: nothing more is written, and the rest
// of the records are not made (far fewer allocations than a whole run).
TEST(ReportMemory, FirstFailedWriteEndsTheRun) {
    const HostFiles files(10000);
    for (const Shape shape : SHAPES) {
        SCOPED_TRACE(::testing::Message() << "json " << shape.json << " scan " << shape.scan);
        const inspect::Options options = files.options(shape.json, shape.scan);
        std::size_t whole_run = 0;
        for (const std::size_t accepted : {SIZE_MAX, std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{50}}) {
            SCOPED_TRACE(accepted);
            TestOutput out(accepted);
            inspect::Report report;
            std::string error;
            const std::size_t before = requests;
            const Result result = inspect::write_report(options, shape.json, out, report, error);
            const std::size_t made = requests - before;
            EXPECT_LT(out.largest, std::size_t{64} << 10);  // pieces, not the whole report at once
            if (accepted == SIZE_MAX) {
                EXPECT_EQ(result, Result::OK);
                whole_run = made;
                continue;
            }
            EXPECT_EQ(result, Result::WRITE_ERROR);
            EXPECT_EQ(out.writes, accepted + 1);
            EXPECT_LT(made, whole_run / 20) << whole_run;
        }
    }
}

#ifdef __linux__
// What this process has read so far: rchar of /proc/self/io.
std::uint64_t bytes_read() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}
#endif

// The first failed write ends the reading too: of a 20 MB host file, little
// more than the first block is read.
TEST(ReportMemory, FirstFailedWriteEndsTheReading) {
#ifndef __linux__
    GTEST_SKIP() << "what a process has read is told by Linux's /proc/self/io";
#else
    const HostFiles files(200000);
    for (const Shape shape : SHAPES) {
        SCOPED_TRACE(::testing::Message() << "json " << shape.json << " scan " << shape.scan);
        TestOutput out(2);  // the layout, the host file's section, then the first record fails
        inspect::Report report;
        std::string error;
        const std::uint64_t before = bytes_read();
        EXPECT_EQ(inspect::write_report(files.options(shape.json, shape.scan), shape.json, out, report, error),
                  Result::WRITE_ERROR);
        EXPECT_LT(bytes_read() - before, std::uint64_t{4} << 20);
    }
#endif
}

}  // namespace
}  // namespace rekmo
