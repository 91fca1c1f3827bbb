// 7-bit JIS text (J items): the machine is codec/jis_machine.hpp.
#include "codec/jis.hpp"

#include "codec/jis_machine.hpp"

namespace rekmo {

std::size_t decode_jis_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                             const VectorKernels& kernels) noexcept {
    return kernels.jis(item, out);
}

std::size_t decode_jis_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return active_kernels().jis(item, out);
}

std::size_t decode_jis_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return decode_jis<ScalarSteps>(item, out, report);
}

}  // namespace rekmo
