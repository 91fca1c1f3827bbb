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
            if (i < 0) head.insert(0, "1");
            else ++head[static_cast<std::size_t>(i)];
        }
        text = head + std::string(text.size() - 17, '0');
    }
    return (sign == 0xC || sign == 0xF) ? text : "-" + text;
}

}  // namespace rekmo::reference
