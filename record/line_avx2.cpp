// The record lines of the AVX2 level, built with -mavx2; called only on
// processors that have it.
#include "codec/level_x86.hpp"

#if REKMO_VECTOR_X86
#include "codec/steps_x86.hpp"
#include "record/line.hpp"

namespace rekmo {

std::uint8_t* avx2_lines(const PlanStep* steps, std::size_t step_count, const std::uint8_t* records,
                         std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept {
    return write_lines<X86Steps<W256, true>>(steps, step_count, records, record_length, count, out);
}

}  // namespace rekmo
#endif
