// The AVX2 level: the decoders' machines over the x86 steps, 32 bytes at a
// time and 16 for short stretches. Built with -mavx2; called only on
// processors that have it.
#include "codec/level_x86.hpp"

#if REKMO_VECTOR_X86
#include "codec/level.hpp"
#include "codec/steps_x86.hpp"

namespace rekmo {

constinit const VectorKernels AVX2_KERNELS = level::kernels<X86Steps<W256, false>>(VectorLevel::AVX2);

}  // namespace rekmo
#endif
