// Code page 932 to UTF-8: the machine is codec/cp932_machine.hpp.
#include "codec/cp932.hpp"

#include "codec/cp932_machine.hpp"

namespace rekmo {

std::size_t cp932_to_utf8(std::span<const std::uint8_t> in, std::uint8_t* out) noexcept {
    return active_kernels().cp932_utf8(in, out);
}

std::size_t cp932_to_utf8(std::span<const std::uint8_t> in, std::uint8_t* out, const VectorKernels& kernels) noexcept {
    return kernels.cp932_utf8(in, out);
}

}  // namespace rekmo
