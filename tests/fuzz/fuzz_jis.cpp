// J items: never longer than the item, never 0x00, and nothing after a zero
// byte of the item matters; every level of vector kernels gives the text of
// the scalar code (which reporting uses).
#include <algorithm>
#include <vector>

#include "codec/jis.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    const std::size_t bound = jis_bound(size);
    std::vector<std::uint8_t> out(bound + 1, 0xEE);
    const std::size_t n = decode_jis_field({data, size}, out.data());
    FUZZ_CHECK(n <= bound && out[bound] == 0xEE);  // nothing written past the bound
    out.resize(n);
    FUZZ_CHECK(fuzz::has_no_zero(out));
    DecodeReport report;  // reporting changes nothing in the text
    std::vector<std::uint8_t> noted(bound);
    noted.resize(decode_jis_field({data, size}, noted.data(), report));
    FUZZ_CHECK(noted == out);
    fuzz::for_each_vector_level([&](const VectorKernels& kernels) {
        std::vector<std::uint8_t> level(bound + 1, 0xEE);
        const std::size_t len = decode_jis_field({data, size}, level.data(), kernels);
        FUZZ_CHECK(len <= bound && level[bound] == 0xEE);
        level.resize(len);
        FUZZ_CHECK(level == noted);
    });
    const auto text_end = static_cast<std::size_t>(std::find(data, data + size, 0) - data);
    std::vector<std::uint8_t> cut(jis_bound(text_end));
    cut.resize(decode_jis_field({data, text_end}, cut.data()));
    FUZZ_CHECK(cut == out);
    return 0;
}
