// The record lines of the SSE4.1 level, built with -msse4.1; called only on
// processors that have it.
#include "codec/level_x86.hpp"

#if REKMO_VECTOR_X86
#include "codec/steps_x86.hpp"
#include "record/line.hpp"

namespace rekmo {

std::uint8_t* sse41_lines(const PlanStep* steps, std::size_t step_count, const std::uint8_t* records,
                          std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept {
    return write_lines<X86Steps<W128, true>>(steps, step_count, records, record_length, count, out);
}

}  // namespace rekmo
#endif
