// The SSE4.1 level: the decoders' machines over the x86 steps, 16 bytes at
// a time. Built with -msse4.1; called only on processors that have it.
#include "codec/level_x86.hpp"

#if REKMO_VECTOR_X86
#include "codec/level.hpp"
#include "codec/steps_x86.hpp"

namespace rekmo {

constinit const VectorKernels SSE41_KERNELS = level::kernels<X86Steps<W128, false>>(VectorLevel::SSE41);

}  // namespace rekmo
#endif
