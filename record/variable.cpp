// The walk over the descriptor words of V and VB files.
#include "record/variable.hpp"

namespace rekmo {
DescriptorCut cut_records(DescriptorState& state, std::span<const std::uint8_t> bytes, bool end,
                          std::size_t max_records) noexcept {
    DescriptorCut cut;
    std::size_t pos = 0;
    std::span<const std::uint8_t> record;
    while (cut.records < max_records) {
        const DescriptorStep step = next_record(state, bytes, pos, record, cut.fault);
        if (step == DescriptorStep::MORE) {
            if (!end) break;
            if (pos < bytes.size()) {
                // A descriptor or record cut short by the end of the file.
                cut.fault = {state.records + 1, state.offset};
                cut.faulty = true;
            } else if (state.blocked && state.block_left != 0) {
                // The block promised more records than the file holds.
                cut.fault = {state.records + 1, state.block_start};
                cut.faulty = true;
            }
            break;
        }
        if (step == DescriptorStep::FAULT) {
            cut.faulty = true;
            break;
        }
        cut.bytes = pos;
        if (step == DescriptorStep::RECORD) ++cut.records;
    }
    return cut;
}

}  // namespace rekmo
