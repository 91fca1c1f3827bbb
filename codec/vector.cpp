// Which level of decoders this processor gets: the best it supports, chosen
// once, at the first call. The scalar level is built here.
#include "codec/vector.hpp"

#include "codec/level.hpp"
#include "codec/level_x86.hpp"
#include "codec/steps.hpp"

namespace rekmo {
namespace {

constexpr VectorKernels SCALAR_KERNELS = level::kernels<ScalarSteps>(VectorLevel::SCALAR);

#if REKMO_VECTOR_X86
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
