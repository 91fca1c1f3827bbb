// Which vector kernels this processor gets: the best level it supports,
// chosen once, at the first call.
#include "codec/vector.hpp"

#include "codec/vector_x86.hpp"

namespace rekmo {
namespace {

std::size_t no_text(const std::uint8_t*, std::size_t, std::uint8_t*, const std::uint8_t*) noexcept { return 0; }
std::size_t no_pairs(const std::uint8_t*, std::size_t, std::uint8_t*) noexcept { return 0; }
std::size_t no_number(const std::uint8_t*, std::size_t, std::uint8_t*) noexcept { return 0; }

std::size_t plain_find_jef_shift(const std::uint8_t* in, std::size_t n) noexcept {
    std::size_t i = 0;
    while (i < n && (in[i] & 0xFE) != 0x28) ++i;
    return i;
}

std::uint8_t* plain_lines(const FieldStep* fields, std::size_t field_count, const std::uint8_t* records,
                          std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept {
    for (std::size_t r = 0; r < count; ++r, records += record_length) {
        for (std::size_t f = 0; f < field_count; ++f) {
            out += call_field(fields[f], records, out);
            *out++ = ',';
        }
        if (field_count > 0) --out;
        *out++ = '\n';
    }
    return out;
}

constexpr VectorKernels SCALAR_KERNELS = {
    no_text, no_text, no_pairs, no_pairs, no_pairs, no_number, no_number, plain_find_jef_shift, plain_lines};

#if REKMO_VECTOR_X86
constexpr VectorKernels SSE41_KERNELS = {sse41_host_text,  sse41_host_page_text, sse41_keis_pairs,
                                         sse41_jef_pairs,  sse41_jis_pairs,      sse41_packed_text,
                                         sse41_zoned_text, sse41_find_jef_shift, sse41_lines};
// The numbers fit one 128-bit register: the AVX2 level keeps the SSE4.1 code.
constexpr VectorKernels AVX2_KERNELS = {avx2_host_text,   avx2_host_page_text, avx2_keis_pairs,
                                        avx2_jef_pairs,   avx2_jis_pairs,      sse41_packed_text,
                                        sse41_zoned_text, avx2_find_jef_shift, avx2_lines};

bool supports(VectorLevel level) noexcept {
    __builtin_cpu_init();
    switch (level) {
        case VectorLevel::SCALAR:
            return true;
        case VectorLevel::SSE41:
            return __builtin_cpu_supports("sse4.1") != 0;
        case VectorLevel::AVX2:
            return __builtin_cpu_supports("avx2") != 0;
    }
    return false;
}
#endif

}  // namespace

const VectorKernels* vector_kernels(VectorLevel level) noexcept {
#if REKMO_VECTOR_X86
    if (!supports(level)) return nullptr;
    switch (level) {
        case VectorLevel::SCALAR:
            return &SCALAR_KERNELS;
        case VectorLevel::SSE41:
            return &SSE41_KERNELS;
        case VectorLevel::AVX2:
            return &AVX2_KERNELS;
    }
    return nullptr;
#else
    return level == VectorLevel::SCALAR ? &SCALAR_KERNELS : nullptr;
#endif
}

std::size_t call_field(const FieldStep& field, const std::uint8_t* record, std::uint8_t* out) noexcept {
    return field.call({record + field.start, field.length}, out);
}

const VectorKernels& scalar_kernels() noexcept { return SCALAR_KERNELS; }

VectorLevel best_vector_level() noexcept {
    static const VectorLevel best = [] {
        if (vector_kernels(VectorLevel::AVX2) != nullptr) return VectorLevel::AVX2;
        if (vector_kernels(VectorLevel::SSE41) != nullptr) return VectorLevel::SSE41;
        return VectorLevel::SCALAR;
    }();
    return best;
}

}  // namespace rekmo
