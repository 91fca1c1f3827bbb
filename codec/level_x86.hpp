// The x86-64 levels, one source per instruction set (codec/level_sse41.cpp,
// codec/level_avx2.cpp), each built with that set's compiler option. Their
// decoders are called only after the processor has been found to support
// the set.
#pragma once

#include "codec/vector.hpp"

#if defined(REKMO_VECTOR) && (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define REKMO_VECTOR_X86 1
#else
#define REKMO_VECTOR_X86 0
#endif

#if REKMO_VECTOR_X86
namespace rekmo {

extern const VectorKernels SSE41_KERNELS;
extern const VectorKernels AVX2_KERNELS;

}  // namespace rekmo
#endif
