// The walk over the descriptor words of V and VB files.
#include "record/variable.hpp"

#include <algorithm>

namespace rekmo {
DescriptorCut cut_records(DescriptorState& state, std::span<const std::uint8_t> bytes, bool end,
                          std::size_t max_records) noexcept {
    DescriptorCut cut;
    std::size_t pos = 0;
    std::span<const std::uint8_t> record;
    while (true) {
        if (cut.records == max_records) {
            // Stopped by the count: where these are the input's last
            // records, a block that promised more is still a fault.
            if (end && pos == bytes.size()) cut.faulty = ends_faulty(state, pos, bytes.size(), cut.fault);
            break;
        }
        const DescriptorStep step = next_record(state, bytes, pos, record, cut.fault);
        if (step == DescriptorStep::MORE) {
            if (end) cut.faulty = ends_faulty(state, pos, bytes.size(), cut.fault);
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

namespace rekmo {

RecordWalk::RecordWalk(RecordFormat format, std::size_t limit) noexcept
    : blocked_(format == RecordFormat::VB), limit_(limit) {}

RecordWalk::Step RecordWalk::next(std::span<const std::uint8_t> bytes, std::size_t& pos, bool end,
                                  VariableRecord& record, RecordFault& fault) noexcept {
    DescriptorState state;
    state.blocked = blocked_;
    state.limit = limit_;
    state.offset = offset_;
    state.records = records_;
    state.block_left = block_left_;
    state.block_start = block_start_;
    std::span<const std::uint8_t> data;
    std::size_t at = std::min(pos, bytes.size());
    Step result = Step::MORE;
    while (true) {
        const DescriptorStep step = next_record(state, bytes, at, data, fault);
        if (step == DescriptorStep::BLOCK) {
            ++blocks_;
            block_length_ = state.block_left + DESCRIPTOR_SIZE;
            continue;
        }
        if (step == DescriptorStep::RECORD) {
            record = {data,
                      state.records,
                      state.offset - data.size() - DESCRIPTOR_SIZE,
                      blocked_ ? blocks_ : 0,
                      blocked_ ? state.block_start : 0,
                      blocked_ ? block_length_ : 0};
            result = Step::RECORD;
        } else if (step == DescriptorStep::FAULT) {
            result = Step::FAULT;
        } else if (end) {
            result = ends_faulty(state, at, bytes.size(), fault) ? Step::FAULT : Step::END;
        }
        break;
    }
    if (result == Step::FAULT) return result;  // the walk stays where it was
    pos = at;
    offset_ = state.offset;
    records_ = state.records;
    block_left_ = state.block_left;
    block_start_ = state.block_start;
    return result;
}

}  // namespace rekmo
