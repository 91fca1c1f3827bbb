// Zoned and packed numbers printed exactly (the number options of a format).
//
//   zoned, sign trailing          F1 F2 D3     -123   (the zone of the last byte)
//   zoned, sign leading           D1 F2 F3     -123   (the zone of the first byte)
//   zoned, leading separate       60 F1 F2 F3  -123   (60 '-', 4E '+')
//   zoned, trailing separate      F1 F2 F3 4E   123
//   packed                        12 3D        -123   (the low half of the last byte)
//
// Unlike the default printing (codec/decimal.cpp) nothing goes through a
// double: the digits are copied, so any length is exact. And an item that
// is no number (a digit position above 9, a sign half-byte 0-9, a separate
// sign byte other than 4E or 60) gives an empty text instead of the digits
// before the fault: a database reads it as NULL, not as a wrong value.
#include "codec/number.hpp"

#include "codec/decimal.hpp"
#include "codec/decimal_machine.hpp"

#include <algorithm>
#include <cstring>

namespace rekmo {
namespace {

constexpr std::uint8_t HOST_MINUS = 0x60;
constexpr std::uint8_t HOST_PLUS = 0x4E;

// The digit positions of an item, and its sign, as one form reads them.
struct Digits {
    const std::uint8_t* bytes = nullptr;  // zoned: the first digit byte; packed: the item
    std::size_t count = 0;
    bool packed = false;

    unsigned at(std::size_t i) const noexcept {
        if (!packed) return bytes[i] & 0x0Fu;
        const std::uint8_t b = bytes[i / 2];
        return i % 2 == 0 ? b >> 4u : b & 0x0Fu;
    }
};

struct Reading {
    Digits digits;
    bool number = true;        // false: no number (an empty text)
    bool negative = false;     // as the sign says, zero or not
    unsigned sign_half = 0xC;  // an embedded sign's half-byte (0xC for a separate sign)
};

Reading read_item(std::span<const std::uint8_t> item, const NumberForm& form) noexcept {
    Reading r;
    const std::size_t n = item.size();
    r.digits = {item.data(), number_digits(n, form), form.mode == DECIMAL_PACKED};
    if (n == 0) return r;  // no digits, no sign: zero
    if (form.mode == DECIMAL_PACKED) {
        r.sign_half = item[n - 1] & 0x0Fu;
    } else {
        switch (form.sign) {
            case ZonedSign::TRAILING:
                r.sign_half = item[n - 1] >> 4u;
                break;
            case ZonedSign::LEADING:
                r.sign_half = item[0] >> 4u;
                break;
            case ZonedSign::LEADING_SEPARATE:
            case ZonedSign::TRAILING_SEPARATE: {
                const bool leading = form.sign == ZonedSign::LEADING_SEPARATE;
                const std::uint8_t sign = leading ? item[0] : item[n - 1];
                if (leading) r.digits.bytes = item.data() + 1;
                r.number = sign == HOST_MINUS || sign == HOST_PLUS;
                r.negative = sign == HOST_MINUS;
                return r;
            }
        }
    }
    // C and F positive, D, A, B and E negative (as the default printing
    // reads them); 0-9 is a digit where the sign belongs: no number.
    r.number = r.sign_half > 9;
    r.negative = r.sign_half != 0xC && r.sign_half != 0xF;
    return r;
}

template <class Report>
std::size_t number_text(std::span<const std::uint8_t> item, const NumberForm& form, std::uint8_t* out,
                        Report& report) noexcept {
    const Reading r = read_item(item, form);
    const Digits& d = r.digits;
    // One pass to judge the item: every position a digit, and where the
    // significant digits start.
    bool number = r.number;
    std::size_t first = d.count;  // the first non-zero digit
    for (std::size_t i = 0; i < d.count && number; ++i) {
        const unsigned digit = d.at(i);
        number = digit <= 9;
        if (digit != 0 && first == d.count) first = i;
    }
    if (!number) {
        report.note(FINDING_BAD_NUMBER);
        return 0;
    }
    if (r.sign_half == 0xA || r.sign_half == 0xB || r.sign_half == 0xE) report.note(FINDING_UNUSUAL_SIGN);

    std::size_t len = 0;
    const auto put_digits = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) out[len++] = static_cast<std::uint8_t>('0' + d.at(i));
    };
    if (form.digits) {
        if (r.negative) out[len++] = '-';
        put_digits(0, d.count);
        return len;
    }
    const bool zero = first == d.count;
    if (r.negative && !zero) out[len++] = '-';
    if (form.scale <= 0) {
        if (zero) {
            out[len++] = '0';
            return len;
        }
        put_digits(first, d.count);
        const auto zeros = static_cast<std::size_t>(-static_cast<std::int64_t>(form.scale));
        std::memset(out + len, '0', zeros);
        return len + zeros;
    }
    // n implied places: the digits before them (or 0), a point, and exactly
    // n digits after it, zeros first when the item has fewer.
    const auto places = static_cast<std::size_t>(form.scale);
    const std::size_t point = d.count > places ? d.count - places : 0;  // digits before the point
    if (first < point) {
        put_digits(first, point);
    } else {
        out[len++] = '0';
    }
    out[len++] = '.';
    const std::size_t pad = places > d.count ? places - d.count : 0;
    std::memset(out + len, '0', pad);
    len += pad;
    put_digits(point, d.count);
    return len;
}

}  // namespace

bool plain_form(const NumberForm& form) noexcept {
    return form.sign == ZonedSign::TRAILING && !form.digits && form.scale == 0;
}

bool number_is_default_text(std::span<const std::uint8_t> item, const NumberForm& form) noexcept {
    const std::size_t n = item.size();
    if (!plain_form(form) || !short_decimal(form.mode, n)) return false;
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::memcpy(&low, item.data(), std::min<std::size_t>(n, 8));
    if (n > 8) std::memcpy(&high, item.data() + 8, n - 8);
    return plain_number(form.mode, n, low, high);
}

std::size_t decode_number(std::span<const std::uint8_t> item, const NumberForm& form, std::uint8_t* out) noexcept {
    if (number_is_default_text(item, form)) {
        return form.mode == DECIMAL_PACKED ? decode_packed_field(item, out) : decode_zoned_field(item, out);
    }
    NoReport quiet;
    return number_text(item, form, out, quiet);
}

std::size_t decode_number(std::span<const std::uint8_t> item, const NumberForm& form, std::uint8_t* out,
                          DecodeReport& report) noexcept {
    return number_text(item, form, out, report);
}

}  // namespace rekmo
