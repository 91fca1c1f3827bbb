// F and FN items: never longer than the item, never 0x00. The first byte
// picks the mixed or the double-byte-only form. Every level of vector
// kernels gives the text of the scalar code (which reporting uses).
#include <vector>

#include "codec/jef.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    if (size == 0) return 0;
    using Decode = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*) noexcept;
    using Report = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, DecodeReport&) noexcept;
    using Level = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const VectorKernels&) noexcept;
    const bool mixed = (data[0] & 1) != 0;
    const Decode decode = mixed ? Decode{decode_jef_field} : Decode{decode_jef_n_field};
    const Report decode_noting = mixed ? Report{decode_jef_field} : Report{decode_jef_n_field};
    const Level decode_level = mixed ? Level{decode_jef_field} : Level{decode_jef_n_field};
    const std::span<const std::uint8_t> item(data + 1, size - 1);
    const std::size_t bound = jef_bound(item.size());
    std::vector<std::uint8_t> out(bound + 1, 0xEE);
    const std::size_t n = decode(item, out.data());
    FUZZ_CHECK(n <= bound && out[bound] == 0xEE);  // nothing written past the bound
    out.resize(n);
    FUZZ_CHECK(fuzz::has_no_zero(out));
    DecodeReport report;  // reporting changes nothing in the text
    std::vector<std::uint8_t> noted(bound);
    noted.resize(decode_noting(item, noted.data(), report));
    FUZZ_CHECK(noted == out);
    fuzz::for_each_vector_level([&](const VectorKernels& kernels) {
        std::vector<std::uint8_t> level(bound + 1, 0xEE);
        const std::size_t len = decode_level(item, level.data(), kernels);
        FUZZ_CHECK(len <= bound && level[bound] == 0xEE);
        level.resize(len);
        FUZZ_CHECK(level == noted);
    });
    return 0;
}
