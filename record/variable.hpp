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

DescriptorStep next_record(DescriptorState& state, std::span<const std::uint8_t> bytes, std::size_t& pos,
                           std::span<const std::uint8_t>& record, RecordFault& fault) noexcept;

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
