// K and KN items: never longer than the item, never 0x00. The first byte
// picks the mixed or the double-byte-only form.
#include <vector>

#include "codec/keis.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    if (size == 0) return 0;
    const bool mixed = (data[0] & 1) != 0;
    const std::span<const std::uint8_t> item(data + 1, size - 1);
    const std::size_t bound = keis_bound(item.size());
    std::vector<std::uint8_t> out(bound + 1, 0xEE);
    const std::size_t n = decode_keis_field(mixed, item, out.data());
    FUZZ_CHECK(n <= bound && out[bound] == 0xEE);  // nothing written past the bound
    out.resize(n);
    FUZZ_CHECK(fuzz::has_no_zero(out));
    DecodeReport report;  // reporting changes nothing in the text
    std::vector<std::uint8_t> noted(bound);
    noted.resize(decode_keis_field(mixed, item, noted.data(), report));
    FUZZ_CHECK(noted == out);
    return 0;
}
