// The record loop on several threads.
#pragma once

#include <cstddef>
#include <memory>

#include "app/convert.hpp"

namespace rekmo {

// A loop that reads chunks of `chunk_records` records on the calling thread,
// converts them on `threads` worker threads and writes their lines strictly
// in record order. Holds a few chunks and their worst-case lines in memory.
std::unique_ptr<RecordLoop> make_parallel_loop(const ItemPlan& plan, unsigned threads, std::size_t chunk_records);

}  // namespace rekmo
