// Items of host records through rekmo's own converter, with its findings.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "inspect/inspect.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo::inspect {

// The record's layout and its output items (`variable`: a V or VB record's
// data, after its RDW). May throw std::bad_alloc.
void sample_record(Converter& converter, std::span<const std::uint8_t> record, std::uint64_t number, bool variable,
                   RecordSample& sample);

// A scan with nothing counted yet: an item for each output item of every
// layout, and under KIND lines a count for each layout.
Scan empty_scan(const Converter& converter);

// Counts one record (as sample_record takes it), numbered `number`, into
// `scan`: its layout, or that it has none, and its items' findings. `texts`
// is room to work in. May throw std::bad_alloc.
void count_record(Converter& converter, std::span<const std::uint8_t> record, std::uint64_t number, ItemTexts& texts,
                  Scan& scan);

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
