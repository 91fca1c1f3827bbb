// E items: one text byte per host byte, never 0x00, each from the table, on
// every level of vector kernels.
#include <vector>

#include "codec/ebcdic.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    std::vector<std::uint8_t> out(ebcdic_bound(size) + 1, 0xEE);
    FUZZ_CHECK(ebcdic_to_jis8({data, size}, out.data()) == size);
    FUZZ_CHECK(out[size] == 0xEE);  // nothing written past the bound
    out.resize(size);
    FUZZ_CHECK(fuzz::has_no_zero(out));
    for (std::size_t i = 0; i < size; ++i) FUZZ_CHECK(out[i] == HOST_SB_TABLE[data[i]]);
    // In place gives the same.
    std::vector<std::uint8_t> in_place(data, data + size);
    (void)ebcdic_to_jis8(in_place, in_place.data());
    FUZZ_CHECK(in_place == out);
    fuzz::for_each_vector_level([&](const VectorKernels& kernels) {
        std::vector<std::uint8_t> level(size + 1, 0xEE);
        FUZZ_CHECK(ebcdic_to_jis8({data, size}, level.data(), kernels) == size && level[size] == 0xEE);
        level.resize(size);
        FUZZ_CHECK(level == out);
        std::vector<std::uint8_t> level_in_place(data, data + size);
        (void)ebcdic_to_jis8(level_in_place, level_in_place.data(), kernels);
        FUZZ_CHECK(level_in_place == out);
    });
    return 0;
}
