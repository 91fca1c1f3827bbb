// Variable-length records (RECFM=V and VB): the walk over their descriptor
// words. A V record is led by a record descriptor word (RDW): its length,
// those 4 bytes included, big-endian in the first two bytes, then 00 00 (a
// record spanning blocks would set them). In VB the records stand in blocks,
// each led by a block descriptor word (BDW): the block's length, the BDW
// included, in the same form, or with the high bit of the first byte set in
// 31 bits over all four bytes (the extended form of large blocks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/result.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo {

inline constexpr std::size_t DESCRIPTOR_SIZE = 4;
inline constexpr std::uint32_t EXTENDED_BDW = 0x80u;                  // high bit of a BDW's first byte
inline constexpr std::uint64_t SMALLEST_BLOCK = 2 * DESCRIPTOR_SIZE;  // a BDW and an empty record

inline std::uint32_t big_endian16(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]};
}

// Where the walk stands in the file: carried from one piece of the file to
// the next, so that a piece may end anywhere between two records.
struct DescriptorState {
    bool blocked = false;           // VB
    std::size_t limit = 0;          // the largest RDW length
    std::uint64_t offset = 0;       // file offset of the next byte
    std::uint64_t records = 0;      // records passed
    std::uint64_t block_left = 0;   // VB: bytes of the current block still to come (0: a BDW comes next)
    std::uint64_t block_start = 0;  // VB: file offset of the current block's BDW
};

// One step of the walk over `bytes` from `pos`.
enum class DescriptorStep {
    RECORD,  // a whole record: `record` holds its data, after the RDW
    BLOCK,   // a BDW passed
    MORE,    // `bytes` ends before the next descriptor or record does
    FAULT,   // a wrong descriptor: `fault` says which record and where
};

// Inline: the conversion walks every record's descriptor once more.
inline DescriptorStep next_record(DescriptorState& state, std::span<const std::uint8_t> bytes, std::size_t& pos,
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

// At the end of the input, with the walk stopped at `pos` of `bytes`:
// bytes that hold no whole record, or a block that promised more records
// than the file holds, are a fault. True and `fault` set when so.
inline bool ends_faulty(const DescriptorState& state, std::size_t pos, std::size_t size, RecordFault& fault) noexcept {
    if (pos < size) {
        // A descriptor or record cut short by the end of the file.
        fault = {state.records + 1, state.offset};
        return true;
    }
    if (state.blocked && state.block_left != 0) {
        fault = {state.records + 1, state.block_start};
        return true;
    }
    return false;
}

// The whole records (and BDWs) at the start of `bytes`, at most
// `max_records` records: the state moves past them. At the end of the input
// (`end`), bytes that hold no whole record, or a block cut short, are a
// fault; so is a wrong descriptor anywhere.
struct DescriptorCut {
    std::size_t bytes = 0;    // bytes passed
    std::size_t records = 0;  // records among them
    bool faulty = false;      // the walk stopped at a fault after them
    RecordFault fault;
};
DescriptorCut cut_records(DescriptorState& state, std::span<const std::uint8_t> bytes, bool end,
                          std::size_t max_records) noexcept;

}  // namespace rekmo
