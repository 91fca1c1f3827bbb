// Zoned and packed decoding: the fast integer path against the plain path
// through a double, on items shaped like ledger fields.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/decimal.hpp"

namespace rekmo {
namespace {

// `count` items of `length` bytes with random digits and C/D/F signs.
std::vector<std::uint8_t> items(DecimalMode mode, std::size_t length, std::size_t count) {
    std::mt19937 rng(42);
    auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    std::vector<std::uint8_t> bytes(length * count);
    const unsigned signs[] = {0xC, 0xD, 0xF};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned high = mode == DECIMAL_ZONED ? 0xF : below(10);
        bytes[i] = static_cast<std::uint8_t>(high << 4 | below(10));
        if (i % length == length - 1) {
            const unsigned sign = signs[below(3)];
            bytes[i] = static_cast<std::uint8_t>(mode == DECIMAL_ZONED ? sign << 4 | (bytes[i] & 0xFu)
                                                                       : (bytes[i] & 0xF0u) | sign);
        }
    }
    return bytes;
}

template <bool Fast>
void decode(benchmark::State& state, DecimalMode mode) {
    const auto length = static_cast<std::size_t>(state.range(0));
    constexpr std::size_t COUNT = 4096;
    const std::vector<std::uint8_t> data = items(mode, length, COUNT);
    std::uint8_t out[400];
    for (auto _ : state) {
        for (std::size_t i = 0; i < COUNT; ++i) {
            const std::span<const std::uint8_t> item(data.data() + i * length, length);
            const std::size_t n =
                Fast ? (mode == DECIMAL_ZONED ? decode_zoned_field(item, out) : decode_packed_field(item, out))
                     : print_decimal(decode_decimal(mode, item), out);
            benchmark::DoNotOptimize(n);
            benchmark::DoNotOptimize(out);
        }
    }
    const auto count = static_cast<std::int64_t>(COUNT);
    state.SetItemsProcessed(state.iterations() * count);
    state.SetBytesProcessed(state.iterations() * count * static_cast<std::int64_t>(length));
}

void packed(benchmark::State& state) { decode<true>(state, DECIMAL_PACKED); }
void packed_plain(benchmark::State& state) { decode<false>(state, DECIMAL_PACKED); }
void zoned(benchmark::State& state) { decode<true>(state, DECIMAL_ZONED); }
void zoned_plain(benchmark::State& state) { decode<false>(state, DECIMAL_ZONED); }

// Packed 4 and 8 bytes (7 and 15 digits: amounts), 12 bytes (23 digits: the
// path through a double); zoned 8 bytes (dates) and 20 digits.
BENCHMARK(packed)->Arg(4)->Arg(8)->Arg(12);
BENCHMARK(packed_plain)->Arg(4)->Arg(8)->Arg(12);
BENCHMARK(zoned)->Arg(8)->Arg(20);
BENCHMARK(zoned_plain)->Arg(8)->Arg(20);

// A column of short items as the Python package fills it: the integers of
// one item of every 128-byte record, the other bytes random.
void column(benchmark::State& state, DecimalMode mode) {
    const auto length = static_cast<std::size_t>(state.range(0));
    constexpr std::size_t RECORD = 128, AT = 37, COUNT = 4096;
    std::vector<std::uint8_t> records(RECORD * COUNT);
    std::mt19937 rng(7);
    for (std::uint8_t& b : records) b = static_cast<std::uint8_t>(rng());
    const std::vector<std::uint8_t> data = items(mode, length, COUNT);
    for (std::size_t r = 0; r < COUNT; ++r) {
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(r * length), length,
                    records.begin() + static_cast<std::ptrdiff_t>(r * RECORD + AT));
    }
    std::vector<std::int64_t> values(COUNT);
    std::vector<std::uint8_t> not_numbers(COUNT);
    for (auto _ : state) {
        short_decimal_values(mode, records, RECORD, AT, length, values.data(),
                             reinterpret_cast<bool*>(not_numbers.data()));
        benchmark::DoNotOptimize(values.data());
        benchmark::DoNotOptimize(not_numbers.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(COUNT));
}

void packed_column(benchmark::State& state) { column(state, DECIMAL_PACKED); }
void zoned_column(benchmark::State& state) { column(state, DECIMAL_ZONED); }

// Packed 4, 6 and 8 bytes (amounts), zoned 5, 7 and 8 (codes and dates).
BENCHMARK(packed_column)->Arg(8)->Arg(6)->Arg(4);
BENCHMARK(zoned_column)->Arg(8)->Arg(5)->Arg(7);

}  // namespace
}  // namespace rekmo
