#include "reference/decimal_reference.hpp"

#include <cstdio>
#include <cstdlib>

namespace rekmo::reference {

std::string decimal_text(DecimalMode mode, std::span<const std::uint8_t> item) {
    // Every half-byte as a character ('0'-'9', ':'-'?'), then the sign.
    std::string nibbles;
    for (const std::uint8_t b : item) {
        if (mode == DECIMAL_PACKED) nibbles += static_cast<char>('0' + (b >> 4));
        nibbles += static_cast<char>('0' + (b & 0x0F));
    }
    int sign = 0xC;
    if (!item.empty()) {
        sign = mode == DECIMAL_ZONED ? item.back() >> 4 : item.back() & 0x0F;
        if (mode == DECIMAL_PACKED) nibbles.pop_back();
    }
    const std::string digits = nibbles.substr(0, nibbles.find_first_not_of("0123456789"));
    const std::string significant = digits.substr(std::min(digits.size(), digits.find_first_not_of('0')));

    double value = 0;
    if (!significant.empty()) {
        const std::size_t read = std::min<std::size_t>(significant.size(), 25);
        const std::string text = significant.substr(0, read) + "e" + std::to_string(significant.size() - read);
        value = std::strtod(text.c_str(), nullptr);
    }
    if (value == 0) return "0";
    char exact[400];
    std::snprintf(exact, sizeof exact, "%.0f", value);  // glibc prints every digit exactly
    std::string text = exact;
    if (text.size() > 17) {
        std::string head = text.substr(0, 17);
        if (text[17] >= '5') {  // add one, by hand
            int i = 16;
            while (i >= 0 && head[static_cast<std::size_t>(i)] == '9') head[static_cast<std::size_t>(i--)] = '0';
            if (i < 0)
                head.insert(0, "1");
            else
                ++head[static_cast<std::size_t>(i)];
        }
        text = head + std::string(text.size() - 17, '0');
    }
    return (sign == 0xC || sign == 0xF) ? text : "-" + text;
}

std::optional<std::string> number_text(const NumberForm& form, std::span<const std::uint8_t> item) {
    const int scale = form.scale;
    std::string digits;
    bool negative = false;
    if (!item.empty()) {
        // Every half-byte as a hex character: "F1F2D3", "01234D".
        std::string hex;
        for (const std::uint8_t b : item) hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 0x0F];
        char sign_half = 'C';
        std::size_t first = 0, count = item.size();  // the digit bytes (zoned)
        if (form.mode == DECIMAL_PACKED) {
            digits = hex.substr(0, hex.size() - 1);
            sign_half = hex.back();
        } else if (form.sign == ZonedSign::LEADING_SEPARATE || form.sign == ZonedSign::TRAILING_SEPARATE) {
            const std::uint8_t sign = form.sign == ZonedSign::LEADING_SEPARATE ? item.front() : item.back();
            if (sign != 0x60 && sign != 0x4E) return std::nullopt;
            negative = sign == 0x60;
            first = form.sign == ZonedSign::LEADING_SEPARATE ? 1 : 0;
            count = item.size() - 1;
            sign_half = negative ? 'D' : 'C';
        } else {
            sign_half = form.sign == ZonedSign::LEADING ? hex.front() : hex[hex.size() - 2];
        }
        if (form.mode == DECIMAL_ZONED) {
            for (std::size_t i = first; i < first + count; ++i) digits += hex[2 * i + 1];
        }
        if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        if (sign_half <= '9') return std::nullopt;
        negative = sign_half != 'C' && sign_half != 'F';
    }
    if (form.digits) return (negative ? "-" : "") + digits;
    std::string text = digits.substr(std::min(digits.size(), digits.find_first_not_of('0')));
    if (text.empty()) return scale > 0 ? "0." + std::string(static_cast<std::size_t>(scale), '0') : "0";
    if (scale < 0) text += std::string(static_cast<std::size_t>(-scale), '0');
    if (scale > 0) {
        if (text.size() <= static_cast<std::size_t>(scale))
            text.insert(0, static_cast<std::size_t>(scale) + 1 - text.size(), '0');
        text.insert(text.size() - static_cast<std::size_t>(scale), ".");
    }
    return (negative ? "-" : "") + text;
}

}  // namespace rekmo::reference
