// The record loop on several threads.
#pragma once

#include <cstddef>
#include <memory>

#include "record/plan.hpp"

namespace rekmo {

// A loop that reads chunks of `chunk_records` records, converts them on
// `threads` threads and writes their lines strictly in record order. Its
// buffers (a few chunks per thread) are allocated here, which may throw
// std::bad_alloc.
std::unique_ptr<RecordLoop> make_parallel_loop(const ItemPlan& plan, unsigned threads, std::size_t chunk_records);

}  // namespace rekmo
