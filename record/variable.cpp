// The walk over the descriptor words of V and VB files.
#include "record/variable.hpp"

namespace rekmo {
namespace {

constexpr std::uint32_t EXTENDED_BDW = 0x80u;                  // high bit of a BDW's first byte
constexpr std::uint64_t SMALLEST_BLOCK = 2 * DESCRIPTOR_SIZE;  // a BDW and an empty record

std::uint32_t big_endian16(const std::uint8_t* p) noexcept { return std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]}; }

}  // namespace

DescriptorStep next_record(DescriptorState& state, std::span<const std::uint8_t> bytes, std::size_t& pos,
                           std::span<const std::uint8_t>& record, RecordFault& fault) noexcept {
    const std::size_t left = bytes.size() - pos;
    if (left < DESCRIPTOR_SIZE) return DescriptorStep::MORE;
    const std::uint8_t* const d = bytes.data() + pos;
    const auto faulty = [&](std::uint64_t offset) {
        fault = {state.records + 1, offset};
        return DescriptorStep::FAULT;
    };
    if (state.blocked && state.block_left == 0) {
        std::uint64_t length;
        if ((d[0] & EXTENDED_BDW) != 0) {
            length = std::uint64_t{d[0] & ~EXTENDED_BDW & 0xFFu} << 24 | std::uint64_t{d[1]} << 16 |
                     std::uint64_t{d[2]} << 8 | d[3];
        } else {
            if (d[2] != 0 || d[3] != 0) return faulty(state.offset);
            length = big_endian16(d);
        }
        if (length < SMALLEST_BLOCK) return faulty(state.offset);
        state.block_start = state.offset;
        state.block_left = length - DESCRIPTOR_SIZE;
        state.offset += DESCRIPTOR_SIZE;
        pos += DESCRIPTOR_SIZE;
        return DescriptorStep::BLOCK;
    }
    const std::uint32_t length = big_endian16(d);
    // Non-zero bytes 3-4: a segment of a spanned record.
    if (d[2] != 0 || d[3] != 0 || length < DESCRIPTOR_SIZE || length > state.limit) return faulty(state.offset);
    // A record that runs past its block: the BDW disagrees with its records.
    if (state.blocked && length > state.block_left) return faulty(state.block_start);
    if (left < length) return DescriptorStep::MORE;
    record = bytes.subspan(pos + DESCRIPTOR_SIZE, length - DESCRIPTOR_SIZE);
    pos += length;
    state.offset += length;
    state.records += 1;
    if (state.blocked) state.block_left -= length;
    return DescriptorStep::RECORD;
}

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
