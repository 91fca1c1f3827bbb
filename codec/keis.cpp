// KEIS text (K, KN items): the machine is codec/keis_machine.hpp.
#include "codec/keis.hpp"

#include "codec/keis_machine.hpp"

namespace rekmo {

std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                              const VectorKernels& kernels) noexcept {
    return kernels.keis(item, out);
}

std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const VectorKernels& kernels) noexcept {
    return kernels.keis_n(item, out);
}

std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return active_kernels().keis(item, out);
}

std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return active_kernels().keis_n(item, out);
}

std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return keis_text<ScalarSteps>(item, out, report);
}

std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return keis_n_text<ScalarSteps>(item, out, report);
}

std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                              const HostCodePage& page) noexcept {
    return active_kernels().page_keis(item, out, page);
}

std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const HostCodePage& page) noexcept {
    return active_kernels().page_keis_n(item, out, page);
}

std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                              DecodeReport& report) noexcept {
    return keis_page_text<ScalarSteps>(item, out, page, report);
}

std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                                DecodeReport& report) noexcept {
    return keis_n_page_text<ScalarSteps>(item, out, page, report);
}

std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                              const HostUtf8Page& page) noexcept {
    NoReport quiet;
    return keis_utf8_text<ScalarSteps>(item, out, page, quiet);
}

std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const HostUtf8Page& page) noexcept {
    NoReport quiet;
    return keis_n_utf8_text<ScalarSteps>(item, out, page, quiet);
}

std::size_t decode_keis_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                              DecodeReport& report) noexcept {
    return keis_utf8_text<ScalarSteps>(item, out, page, report);
}

std::size_t decode_keis_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                                DecodeReport& report) noexcept {
    return keis_n_utf8_text<ScalarSteps>(item, out, page, report);
}

}  // namespace rekmo
