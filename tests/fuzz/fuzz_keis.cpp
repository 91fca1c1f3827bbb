// K and KN items: never longer than their bound, never 0x00, reporting
// changes nothing, every level of vector kernels gives the scalar code's
// text. The first byte picks the mixed or the double-byte-only
// form (bit 0) and the default decoders or a host code page (bits 1, 2);
// through a page, KN text holds no control byte or comma.
#include <vector>

#include "codec/keis.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    if (size == 0) return 0;
    using Decode = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*) noexcept;
    using Report = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, DecodeReport&) noexcept;
    using Level = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const VectorKernels&) noexcept;
    using PageDecode = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const HostCodePage&) noexcept;
    using PageReport =
        std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const HostCodePage&, DecodeReport&) noexcept;
    const bool mixed = (data[0] & 1) != 0;
    const std::span<const std::uint8_t> item(data + 1, size - 1);
    if ((data[0] & 2) == 0) {
        const Decode decode = mixed ? Decode{decode_keis_field} : Decode{decode_keis_n_field};
        const Report noting = mixed ? Report{decode_keis_field} : Report{decode_keis_n_field};
        const Level decode_level = mixed ? Level{decode_keis_field} : Level{decode_keis_n_field};
        const std::size_t bound = keis_bound(item.size());
        fuzz::check_levels(item, bound, decode_level, fuzz::check_decoder(item, bound, decode, noting));
        return 0;
    }
    const HostCodePage& page = (data[0] & 4) != 0 ? HOST_PAGE_KEIS83 : HOST_PAGE_KEIS78;
    const PageDecode decode = mixed ? PageDecode{decode_keis_field} : PageDecode{decode_keis_n_field};
    const PageReport noting = mixed ? PageReport{decode_keis_field} : PageReport{decode_keis_n_field};
    const std::vector<std::uint8_t> text = fuzz::check_decoder(
        item, mixed ? host_single_bound(item.size()) : host_pairs_bound(item.size()),
        [&](auto in, auto* out) { return decode(in, out, page); },
        [&](auto in, auto* out, DecodeReport& report) { return noting(in, out, page, report); });
    if (!mixed) FUZZ_CHECK(fuzz::no_control_or_comma(text));
    return 0;
}
