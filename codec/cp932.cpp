// Code page 932 to UTF-8: the machine is codec/cp932_machine.hpp.
#include "codec/cp932.hpp"

#include <unordered_map>

#include "codec/cp932_machine.hpp"

namespace rekmo {

std::size_t cp932_to_utf8(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept {
    return active_kernels().cp932_utf8(in, out);
}

std::size_t cp932_to_utf8(std::span<const std::uint8_t> in, std::uint8_t* out, const VectorKernels& kernels) noexcept {
    return kernels.cp932_utf8(in, out);
}

namespace {

std::unordered_map<char32_t, std::uint16_t> make_cp932_codes() {
    std::unordered_map<char32_t, std::uint16_t> codes;
    for (const bool nec_selected : {false, true}) {
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!is_cp932_lead(static_cast<std::uint8_t>(lead))) continue;
            if ((lead == 0xED || lead == 0xEE) != nec_selected) continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (!is_cp932_trail(static_cast<std::uint8_t>(trail))) continue;
                const char32_t cp = cp932_pair(static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail));
                if (cp != 0) codes.emplace(cp, static_cast<std::uint16_t>(lead << 8 | trail));
            }
        }
    }
    return codes;
}

}  // namespace

std::uint16_t cp932_code(char32_t cp) {
    if (cp >= 0x20 && cp <= 0x7E) return static_cast<std::uint16_t>(cp);
    if (cp >= 0xFF61 && cp <= 0xFF9F) return static_cast<std::uint16_t>(cp - 0xFF61 + 0xA1);
    static const std::unordered_map<char32_t, std::uint16_t> codes = make_cp932_codes();
    const auto found = codes.find(cp);
    return found == codes.end() ? 0 : found->second;
}

}  // namespace rekmo
