// Each text decoder alone, on item bytes shaped like real host data.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "codec/ebcdic.hpp"
#include "codec/jef.hpp"
#include "codec/jis.hpp"
#include "codec/keis.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Host letters, digits, katakana and spaces.
Bytes host_text(std::mt19937& rng, std::size_t n) {
    static const Bytes chars = {0xC1, 0xC2, 0xC5, 0xD4, 0xE3, 0xF0, 0xF1, 0xF9, 0x81, 0x8A, 0x9D, 0xAC, 0x40, 0x40};
    Bytes b(n);
    for (std::uint8_t& c : b) c = chars[rng() % chars.size()];
    return b;
}

// JIS X 0208 kanji rows 30-4F, as row/cell bytes (| 0x80 for host codes).
Bytes double_bytes(std::mt19937& rng, std::size_t chars, std::uint8_t high) {
    Bytes b;
    for (std::size_t i = 0; i < chars; ++i) {
        b.push_back(static_cast<std::uint8_t>((0x30 + rng() % 0x20) | high));
        b.push_back(static_cast<std::uint8_t>((0x21 + rng() % 0x5E) | high));
    }
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

template <typename Decode>
void run(benchmark::State& state, const Bytes& item, Decode decode) {
    Bytes out(item.size() + 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(item, out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(item.size()));
}

void ebcdic(benchmark::State& state) {
    std::mt19937 rng(1);
    const Bytes item = host_text(rng, static_cast<std::size_t>(state.range(0)));
    run(state, item, [](std::span<const std::uint8_t> in, std::uint8_t* out) { return ebcdic_to_jis8(in, out); });
}

void keis_mixed(benchmark::State& state) {
    std::mt19937 rng(2);
    const Bytes item = concat({host_text(rng, 6),
                               {0x0A, 0x42},
                               double_bytes(rng, 30, 0x80),
                               {0x0A, 0x41},
                               host_text(rng, 8),
                               {0x0A, 0x42},
                               double_bytes(rng, 10, 0x80),
                               {0x0A, 0x41}});
    run(state, item, [](std::span<const std::uint8_t> in, std::uint8_t* out) { return decode_keis_field(in, out); });
}

void keis_double(benchmark::State& state) {
    std::mt19937 rng(3);
    const Bytes item = double_bytes(rng, 20, 0x80);
    run(state, item, [](std::span<const std::uint8_t> in, std::uint8_t* out) { return decode_keis_n_field(in, out); });
}

void jef_mixed(benchmark::State& state) {
    std::mt19937 rng(4);
    const Bytes item = concat({host_text(rng, 6),
                               {0x28},
                               double_bytes(rng, 30, 0x80),
                               {0x29},
                               host_text(rng, 8),
                               {0x28},
                               double_bytes(rng, 10, 0x80),
                               {0x40, 0x40, 0x29}});
    run(state, item, [](std::span<const std::uint8_t> in, std::uint8_t* out) { return decode_jef_field(in, out); });
}

void jef_double(benchmark::State& state) {
    std::mt19937 rng(5);
    const Bytes item = concat({double_bytes(rng, 16, 0x80), {0x40, 0x40, 0x40, 0x40}});
    run(state, item, [](std::span<const std::uint8_t> in, std::uint8_t* out) { return decode_jef_n_field(in, out); });
}

void jis(benchmark::State& state) {
    std::mt19937 rng(6);
    const Bytes item = concat({{'T', 'E', 'L', ' '},
                               {0x1B, 0x24, 0x42},
                               double_bytes(rng, 30, 0),
                               {0x1B, 0x28, 0x4A},
                               {'A', 'B', 'C'},
                               {0x1B, 0x24, 0x42},
                               double_bytes(rng, 8, 0),
                               {0x1B, 0x28, 0x4A}});
    run(state, item, [](std::span<const std::uint8_t> in, std::uint8_t* out) { return decode_jis_field(in, out); });
}

BENCHMARK(ebcdic)->Arg(8)->Arg(40)->Arg(200);
BENCHMARK(keis_mixed);
BENCHMARK(keis_double);
BENCHMARK(jef_mixed);
BENCHMARK(jef_double);
BENCHMARK(jis);

}  // namespace
}  // namespace rekmo
