// P and Z items of any length: an integer text within the bound (or infinity,
// beyond 308 significant digits, which the format check keeps rekmo from),
// the fast path equal to the plain path through a double, reporting equal to
// not reporting, and every level of vector kernels equal to the scalar code;
// and the exact forms of the number options. The first byte picks the form.
#include <string_view>
#include <vector>

#include "codec/decimal.hpp"
#include "codec/number.hpp"
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

    // The exact forms of the number options, the form from the first byte:
    // within the bound, reporting equal to not reporting, empty exactly when
    // it is no number, and under plain EXACT the default text wherever that
    // has at most 15 significant digits.
    NumberForm form;
    form.mode = mode;
    form.sign = static_cast<ZonedSign>((data[0] >> 1) & 3u);
    form.digits = (data[0] & 8u) != 0;
    form.scale = form.digits ? 0 : static_cast<std::int32_t>(data[0] >> 4) - 8;
    const std::size_t exact_bound = number_bound(item.size(), form);
    std::vector<std::uint8_t> exact(exact_bound + 1, 0xEE);
    const std::size_t e = decode_number(item, form, exact.data());
    FUZZ_CHECK(e <= exact_bound && exact[exact_bound] == 0xEE);
    const std::string_view x(reinterpret_cast<const char*>(exact.data()), e);
    DecodeReport exact_report;
    std::vector<std::uint8_t> exact_noted(exact_bound);
    exact_noted.resize(decode_number(item, form, exact_noted.data(), exact_report));
    FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(exact_noted.data()), exact_noted.size()) == x);
    const bool bad = (exact_report.found & FINDING_BAD_NUMBER) != 0;
    if (bad) {
        FUZZ_CHECK(e == 0);
    } else {
        FUZZ_CHECK(e > 0 || (form.digits && number_digits(item.size(), form) == 0));
        // -?digits, with a point and `scale` digits after it for a positive scale.
        const std::size_t sign = x.starts_with('-') ? 1 : 0;
        const std::size_t point = x.find('.');
        for (std::size_t i = sign; i < e; ++i) FUZZ_CHECK((x[i] >= '0' && x[i] <= '9') || i == point);
        if (!form.digits && form.scale > 0) {
            FUZZ_CHECK(point != std::string_view::npos && e - point - 1 == static_cast<std::size_t>(form.scale));
        } else {
            FUZZ_CHECK(point == std::string_view::npos);
        }
        if (form.digits) FUZZ_CHECK(e - sign == number_digits(item.size(), form));
    }
    const std::size_t significant_digits = e - (x.starts_with('-') ? 1 : 0);
    if (form.sign == ZonedSign::TRAILING && !form.digits && form.scale == 0 && !bad && significant_digits <= 15 &&
        !item.empty()) {
        FUZZ_CHECK(x == s);
    }
    return 0;
}
