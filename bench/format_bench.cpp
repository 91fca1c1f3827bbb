// Loading a format file: the time should grow linearly with its item lines.
#include <benchmark/benchmark.h>

#include <string>

#include "format/format.hpp"

namespace rekmo {
namespace {

void load(benchmark::State& state) {
    std::string text = "RECLEN=4000\r\n# generated layout\r\n";
    for (std::int64_t i = 0; i < state.range(0); ++i)
        text += "ITEM" + std::to_string(i) + "," + std::to_string(i % 3900 + 1) + ",20,KN,1\r\n";
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    for (auto _ : state) {
        FormatDef def;
        benchmark::DoNotOptimize(parse_format(bytes, def));
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(load)->RangeMultiplier(10)->Range(1000, 100000)->Complexity(benchmark::oN);

}  // namespace
}  // namespace rekmo
