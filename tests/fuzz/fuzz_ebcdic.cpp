// E items: one text byte per host byte, never 0x00, each from the table, on
// every level of vector kernels. Through each host code page: the texts of
// the page's table, byte by byte (the kernels and the eight-at-a-time path
// give the same on every level), within the bound.
#include <vector>

#include "codec/ebcdic.hpp"
#include "codec/host_code.hpp"
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

    for (const HostCodePage* page : {&HOST_PAGE_JEF, &HOST_PAGE_KEIS78}) {
        const std::size_t bound = host_single_bound(size);
        std::vector<std::uint8_t> text(bound + 1, 0xEE);
        const std::size_t n = host_single_to_sjis({data, size}, text.data(), page->single, active_kernels());
        FUZZ_CHECK(n <= bound && text[bound] == 0xEE);
        text.resize(n);
        std::vector<std::uint8_t> expected;
        for (std::size_t i = 0; i < size; ++i) {
            const HostText t = page->single.text[data[i]];
            expected.push_back(static_cast<std::uint8_t>(t));
            if (t > 0xFF) expected.push_back(static_cast<std::uint8_t>(t >> 8));
        }
        FUZZ_CHECK(text == expected);
        FUZZ_CHECK(fuzz::has_no_zero(text));
        fuzz::check_levels(
            {data, size}, bound,
            [&](auto in, std::uint8_t* dest, const VectorKernels& kernels) {
                return host_single_to_sjis(in, dest, page->single, kernels);
            },
            expected);
    }
    return 0;
}
