// JEF text (F, FN items): the machine is codec/jef_machine.hpp.
#include "codec/jef.hpp"

#include "codec/jef_machine.hpp"

namespace rekmo {

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                             const VectorKernels& kernels) noexcept {
    return kernels.jef(item, out);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                               const VectorKernels& kernels) noexcept {
    return kernels.jef_n(item, out);
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return active_kernels().jef(item, out);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return active_kernels().jef_n(item, out);
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return jef_text<ScalarSteps>(item, out, report);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return jef_n_text<ScalarSteps>(item, out, report);
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page) noexcept {
    return active_kernels().page_jef(item, out, page);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                               const HostCodePage& page) noexcept {
    return active_kernels().page_jef_n(item, out, page);
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                             DecodeReport& report) noexcept {
    return jef_page_text<ScalarSteps>(item, out, page, report);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostCodePage& page,
                               DecodeReport& report) noexcept {
    return jef_n_page_text<ScalarSteps>(item, out, page, report);
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page) noexcept {
    NoReport quiet;
    return jef_utf8_text<ScalarSteps>(item, out, page, quiet);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                               const HostUtf8Page& page) noexcept {
    NoReport quiet;
    return jef_n_utf8_text<ScalarSteps>(item, out, page, quiet);
}

std::size_t decode_jef_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                             DecodeReport& report) noexcept {
    return jef_utf8_text<ScalarSteps>(item, out, page, report);
}

std::size_t decode_jef_n_field(std::span<const std::uint8_t> item, std::uint8_t* out, const HostUtf8Page& page,
                               DecodeReport& report) noexcept {
    return jef_n_utf8_text<ScalarSteps>(item, out, page, report);
}

}  // namespace rekmo
