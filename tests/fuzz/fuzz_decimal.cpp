// P and Z items of any length: an integer text within the bound (or infinity,
// beyond 308 significant digits, which the format check keeps rekmo from),
// the fast path equal to the plain path through a double, reporting equal to
// not reporting, and every level of vector kernels equal to the scalar code.
// The first byte picks the form.
#include <string_view>
#include <vector>

#include "codec/decimal.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    if (size == 0) return 0;
    const DecimalMode mode = (data[0] & 1) != 0 ? DECIMAL_ZONED : DECIMAL_PACKED;
    const std::span<const std::uint8_t> item(data + 1, size - 1);
    const std::size_t bound = mode == DECIMAL_ZONED ? zoned_bound(item.size()) : packed_bound(item.size());
    auto decode = [&](std::uint8_t* out, DecodeReport* report) {
        if (report == nullptr)
            return mode == DECIMAL_ZONED ? decode_zoned_field(item, out) : decode_packed_field(item, out);
        return mode == DECIMAL_ZONED ? decode_zoned_field(item, out, *report) : decode_packed_field(item, out, *report);
    };
    std::vector<std::uint8_t> text(bound + 1, 0xEE);
    const std::size_t n = decode(text.data(), nullptr);
    FUZZ_CHECK(n >= 1 && n <= bound && text[bound] == 0xEE);
    const std::string_view s(reinterpret_cast<const char*>(text.data()), n);
    const std::size_t digits = s[0] == '-' ? 1 : 0;
    if (s.substr(digits) == "inf") {
        FUZZ_CHECK(item.size() > (mode == DECIMAL_ZONED ? 300u : 150u));  // beyond what rekmo accepts
    } else {
        // -?[1-9][0-9]* or 0: no leading zeros, no sign on zero.
        FUZZ_CHECK(digits < n && (s[digits] != '0' || (n == 1 && s == "0")));
        for (std::size_t i = digits; i < n; ++i) FUZZ_CHECK(s[i] >= '0' && s[i] <= '9');
    }
    // Zero only when no digit before the first half-byte above 9 is.
    bool significant = false;
    const std::size_t halves = item.empty() ? 0 : mode == DECIMAL_ZONED ? item.size() : 2 * item.size() - 1;
    for (std::size_t i = 0; i < halves; ++i) {
        const unsigned half =
            mode == DECIMAL_ZONED ? item[i] & 0x0Fu : (i % 2 == 0 ? item[i / 2] >> 4 : item[i / 2] & 0x0Fu);
        if (half > 9) break;
        significant = significant || half != 0;
    }
    FUZZ_CHECK(significant == (s != "0"));
    std::vector<std::uint8_t> plain(320);
    plain.resize(print_decimal(decode_decimal(mode, item), plain.data()));
    FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()) == s);
    DecodeReport report;
    std::vector<std::uint8_t> noted(bound);
    noted.resize(decode(noted.data(), &report));
    FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(noted.data()), noted.size()) == s);
    fuzz::for_each_vector_level([&](const VectorKernels& kernels) {
        std::vector<std::uint8_t> level(bound + 1, 0xEE);
        const std::size_t len = mode == DECIMAL_ZONED ? decode_zoned_field(item, level.data(), kernels)
                                                      : decode_packed_field(item, level.data(), kernels);
        FUZZ_CHECK(len <= bound && level[bound] == 0xEE);
        FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(level.data()), len) == s);
    });
    return 0;
}
