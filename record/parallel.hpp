// The record loop on several threads.
#pragma once

#include <cstddef>
#include <memory>

#include "record/plan.hpp"

namespace rekmo {

// Chunks the loop on `threads` threads holds at once, each with its
// worst-case lines: enough for every thread to convert while converted chunks
// wait for their turn to be written.
constexpr std::size_t parallel_slots(unsigned threads) noexcept { return 2 * std::size_t{threads} + 2; }

// A loop that reads chunks of `chunk_records` records, converts them on
// `threads` threads and writes their lines strictly in record order. V and
// VB records (`variable_chunk` above 0) are read in chunks of that many
// bytes, cut after at most `chunk_records` whole records. Its buffers
// (parallel_slots(threads) chunks) are allocated here, which may throw
// std::bad_alloc.
std::unique_ptr<RecordLoop> make_parallel_loop(const ItemPlan& plan, unsigned threads, std::size_t chunk_records,
                                               std::size_t variable_chunk = 0);

}  // namespace rekmo
