// Items of host records through rekmo's own converter, with its findings.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "inspect/inspect.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo::inspect {

// The output items of each whole record of `records`, the first numbered
// `first_number`, appended to `samples`. May throw std::bad_alloc.
void sample_records(Converter& converter, std::span<const std::uint8_t> records, std::uint64_t first_number,
                    std::vector<RecordSample>& samples);

// Reads whole records from `source` to its end on `threads` threads and
// counts each item's findings; the result does not depend on the thread
// count. OK, READ_ERROR (the records before the failed read are counted) or
// OUT_OF_MEMORY.
Result scan_records(const FormatDef& format, ByteSource& source, unsigned threads, Scan& result) noexcept;

}  // namespace rekmo::inspect
