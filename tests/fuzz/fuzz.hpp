// Shared by the fuzz targets: each defines LLVMFuzzerTestOneInput, and a
// failed check aborts, which libFuzzer (or the corpus replay) reports.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

#include "codec/vector.hpp"
#include "format/gaiji.hpp"
#include "rekmo/rekmo.hpp"
#include "support/memory_io.hpp"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace rekmo::fuzz {

// True when no byte of the text is 0x00: no decoder writes one, since every
// text ends at its first zero byte.
inline bool has_no_zero(std::span<const std::uint8_t> text) {
    for (const std::uint8_t b : text)
        if (b == 0) return false;
    return true;
}

// Runs a decoder and its reporting form over `item`: the text stays within
// `bound`, holds no 0x00, and reporting changes nothing in it. Returns it.
template <class Decode, class Noting>
std::vector<std::uint8_t> check_decoder(std::span<const std::uint8_t> item, std::size_t bound, Decode decode,
                                        Noting noting) {
    std::vector<std::uint8_t> out(bound + 1, 0xEE);
    const std::size_t n = decode(item, out.data());
    FUZZ_CHECK(n <= bound && out[bound] == 0xEE);  // nothing written past the bound
    out.resize(n);
    FUZZ_CHECK(has_no_zero(out));
    DecodeReport report;
    std::vector<std::uint8_t> noted(bound + 1, 0xEE);
    const std::size_t m = noting(item, noted.data(), report);
    FUZZ_CHECK(noted[bound] == 0xEE);
    noted.resize(m);
    FUZZ_CHECK(noted == out);
    return out;
}

// Double-byte text through a host code page: no control byte, no comma, so
// that no code can add a column or a line.
inline bool no_control_or_comma(std::span<const std::uint8_t> text) {
    for (const std::uint8_t b : text)
        if (b < 0x20 || b == 0x7F || b == ',') return false;
    return true;
}

// Calls f(kernels) for every level of vector kernels this build and this
// processor have, the scalar level included.
template <class F>
void for_each_vector_level(F&& f) {
    for (const VectorLevel level : {VectorLevel::SCALAR, VectorLevel::SSE41, VectorLevel::AVX2}) {
        if (const VectorKernels* kernels = vector_kernels(level)) f(*kernels);
    }
}

// Every level of vector kernels gives `expected`, the scalar code's text,
// within `bound`.
template <class Level>
void check_levels(std::span<const std::uint8_t> item, std::size_t bound, Level decode_level,
                  const std::vector<std::uint8_t>& expected) {
    for_each_vector_level([&](const VectorKernels& kernels) {
        std::vector<std::uint8_t> level(bound + 1, 0xEE);
        const std::size_t len = decode_level(item, level.data(), kernels);
        FUZZ_CHECK(len <= bound && level[bound] == 0xEE);
        level.resize(len);
        FUZZ_CHECK(level == expected);
    });
}

// Host bytes from memory, lines into memory.
using Source = test::MemorySource;
using Sink = test::MemorySink;

// Format text and host bytes from one input: the first two bytes give the
// format's length.
struct FormatAndHost {
    std::span<const std::uint8_t> format;
    std::span<const std::uint8_t> host;
};
inline bool split_input(const std::uint8_t* data, std::size_t size, FormatAndHost& out) {
    if (size < 2) return false;
    const std::size_t format_size = std::min<std::size_t>(static_cast<std::size_t>(data[0] | data[1] << 8), size - 2);
    out.format = {data + 2, format_size};
    out.host = {data + 2 + format_size, size - 2 - format_size};
    return true;
}

// Keeps each input fast: long records and items say nothing more.
constexpr std::int32_t MAX_FUZZ_LENGTH = 4096;

inline bool within_fuzz_limits(const FormatDef& def) {
    if (def.record_length > MAX_FUZZ_LENGTH) return false;
    for (const ItemDef& item : def.items)
        if (item.length > MAX_FUZZ_LENGTH) return false;
    return true;
}

// The files of GAIJI lines are not read here: each line gets a small table
// of its kind (user-defined codes, a sequence, the spaces, a comma), so that
// the pages the tables make are fuzzed with the rest.
inline void attach_gaiji_tables(FormatDef& def) {
    static const char* const TABLES[] = {
        "80A1 U+E000\n4040 U+3000\nA4A2 U+304B U+309A\nF4FE U+20B9F\n",  // JEF
        "81A1 U+E757\n4040 U+FF01\nA4A2 U+9AD9\n",                       // KEIS
        "4A U+00A3\n41 U+FF61\n6B U+002C\nC1 U+1F600\n",                 // EBCDIC
    };
    for (OptionLine& option : def.options) {
        if (option.kind != OptionKind::GAIJI || !option.well_formed) continue;
        const char* text = TABLES[static_cast<int>(option.gaiji_code)];
        auto table = std::make_shared<GaijiTable>();
        const std::size_t fault = parse_gaiji_table({reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)},
                                                    option.gaiji_code, *table);
        FUZZ_CHECK(fault == 0);
        option.gaiji_table = std::move(table);
    }
}

}  // namespace rekmo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
