// P and Z items: an integer text within the bound, the fast path equal to the
// plain path through a double, reporting equal to not reporting. The first
// byte picks the form.
#include <string_view>
#include <vector>

#include "codec/decimal.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    if (size == 0) return 0;
    const DecimalMode mode = (data[0] & 1) != 0 ? DECIMAL_ZONED : DECIMAL_PACKED;
    const std::span<const std::uint8_t> item(data + 1, std::min<std::size_t>(size - 1, 300));
    const std::size_t bound = mode == DECIMAL_ZONED ? zoned_bound(item.size()) : packed_bound(item.size());
    auto decode = [&](std::uint8_t* out, DecodeReport* report) {
        if (report == nullptr) return mode == DECIMAL_ZONED ? decode_zoned_field(item, out) : decode_packed_field(item, out);
        return mode == DECIMAL_ZONED ? decode_zoned_field(item, out, *report) : decode_packed_field(item, out, *report);
    };
    std::vector<std::uint8_t> text(bound + 1, 0xEE);
    const std::size_t n = decode(text.data(), nullptr);
    FUZZ_CHECK(n >= 1 && n <= bound && text[bound] == 0xEE);
    const std::string_view s(reinterpret_cast<const char*>(text.data()), n);
    // -?[1-9][0-9]* or 0: no leading zeros, no sign on zero.
    const std::size_t digits = s[0] == '-' ? 1 : 0;
    FUZZ_CHECK(digits < n && (s[digits] != '0' || (n == 1 && s == "0")));
    for (std::size_t i = digits; i < n; ++i) FUZZ_CHECK(s[i] >= '0' && s[i] <= '9');
    std::vector<std::uint8_t> plain(400);
    plain.resize(print_decimal(decode_decimal(mode, item), plain.data()));
    FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()) == s);
    DecodeReport report;
    std::vector<std::uint8_t> noted(bound);
    noted.resize(decode(noted.data(), &report));
    FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(noted.data()), noted.size()) == s);
    return 0;
}
