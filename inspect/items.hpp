// Items of host records through rekmo's plan and decoders, with findings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "app/convert.hpp"
#include "inspect/inspect.hpp"

namespace rekmo::inspect {

// Converts the output items of records one at a time, as rekmo would, with
// the decoders' reports and the text's commas and line ends.
class ItemReader {
public:
    explicit ItemReader(const FormatDef& format);
    std::size_t steps() const noexcept { return plan_.steps.size(); }
    std::size_t item_number(std::size_t step) const noexcept { return plan_.steps[step].item + 1; }
    std::size_t record_length() const noexcept { return plan_.record_length; }
    // The bytes the item decodes (past the record's end: 00 bytes).
    std::span<const std::uint8_t> item_bytes(std::size_t step, const std::uint8_t* record);
    // Converts the item; returns its Finding bits. The text is in text().
    std::uint32_t read(std::size_t step, const std::uint8_t* record);
    std::span<const std::uint8_t> text() const noexcept { return {text_.data(), text_size_}; }

private:
    ItemPlan plan_;
    std::vector<InspectFn> inspectors_;
    std::vector<std::uint8_t> text_;
    std::size_t text_size_ = 0;
    std::vector<std::uint8_t> scratch_;
};

// One record's output items.
RecordSample sample_record(ItemReader& reader, std::uint64_t number, const std::uint8_t* record);

// Reads whole records from `source` to its end on `threads` threads and counts
// each item's findings; the result does not depend on the thread count.
// False when a read failed (the records before it are counted).
bool scan_records(const FormatDef& format, ByteSource& source, unsigned threads, Scan& result);

}  // namespace rekmo::inspect
