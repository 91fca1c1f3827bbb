// The whole record loop on generated data held in memory (no file I/O): a
// ledger layout and a Japanese customer layout, on one thread and on all.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "rekmo/rekmo.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const Bytes& data) : data_(data) {}
    ReadResult read(std::span<std::uint8_t> buffer) noexcept override {
        const std::size_t n = std::min(buffer.size(), data_.size() - pos_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        return {n, Result::OK};
    }

private:
    const Bytes& data_;
    std::size_t pos_ = 0;
};

class CountingSink final : public ByteSink {
public:
    Result write(std::span<const std::uint8_t> bytes) noexcept override {
        written += bytes.size();
        return Result::OK;
    }
    std::size_t written = 0;
};

struct Layout {
    const char* format;
    std::size_t record_length;
};

// Items drawn from realistic byte patterns: host text, packed and zoned
// numbers, double-byte text with shift codes.
Bytes records(const Layout& layout, std::size_t count) {
    std::mt19937 rng(11);
    Bytes record(layout.record_length);
    Bytes all;
    all.reserve(count * layout.record_length);
    for (std::size_t r = 0; r < count; ++r) {
        for (std::size_t i = 0; i < record.size(); ++i) {
            const unsigned v = static_cast<unsigned>(rng());
            record[i] = static_cast<std::uint8_t>(i % 7 == 0 ? 0xC1 + v % 9 : 0xA1 + v % 0x50);
        }
        all.insert(all.end(), record.begin(), record.end());
    }
    return all;
}

const Layout LEDGER = {
    "RECLEN=128\nA,1,10,E,1\nB,11,4,E,1\nC,15,8,Z,1\nD,23,8,Z,1\nE,31,3,E,1\nF,34,8,P,1\nG,42,8,P,1\n"
    "H,50,8,P,1\nI,58,5,Z,1\nJ,63,6,P,1\nK,69,6,P,1\nL,75,4,P,1\nM,79,7,Z,1\nN,101,20,E,1\nO,121,8,E,1\n",
    128};
const Layout CUSTOMER = {
    "RECLEN=400\nA,1,10,E,1\nB,11,30,E,1\nC,41,40,KN,1\nD,81,80,K,1\nE,161,80,J,1\nF,241,60,F,1\n"
    "G,301,40,FN,1\nH,341,8,P,1\nI,349,8,Z,1\nJ,357,44,E,0\n",
    400};

void run(benchmark::State& state, const Layout& layout) {
    FormatDef format;
    const std::string text = layout.format;
    (void)parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, format);
    const Bytes host = records(layout, (64u << 20) / layout.record_length);
    ConvertOptions options;
    options.threads = state.range(0) == 0 ? std::max(1u, std::thread::hardware_concurrency()) : 1;
    Converter converter;
    (void)converter.open(format, options);
    for (auto _ : state) {
        MemorySource source(host);
        CountingSink sink;
        benchmark::DoNotOptimize(converter.run(source, sink));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(host.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(host.size() / layout.record_length));
}

void ledger(benchmark::State& state) { run(state, LEDGER); }
void customer(benchmark::State& state) { run(state, CUSTOMER); }

// Argument 1: one thread; 0: every core.
BENCHMARK(ledger)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(customer)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace rekmo
