// Inside the conversion core: the item plan (record/plan.cpp), the record
// converter (record/line.cpp) and the record loops (record/loop.cpp,
// record/parallel.cpp) behind rekmo/rekmo.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "codec/vector.hpp"
#include "format/format.hpp"
#include "record/field.hpp"
#include "record/item_table.hpp"
#include "record/variable.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo {

// The lines of `count` records of `record_length` bytes, each of the steps'
// fields inline over one level's steps (record/line.hpp): a ',' after each
// field but the last, a '\n' at the end of each line. Returns the end of the
// lines. Each line holds at most the plan's line_bound; past that, and past
// the last record, the lines may reach LINE_SLACK bytes.
struct PlanStep;
using LinesFn = std::uint8_t* (*)(const PlanStep* steps, std::size_t step_count, const std::uint8_t* records,
                                  std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept;

// How far the record lines may read past the last record they are given,
// and write past the last line: the steps' reach, and the separator after
// the last field.
constexpr std::size_t LINE_SLACK = 64;
static_assert(LINE_SLACK >= STEP_REACH + 1, "the slack holds what a step may reach past a field");

// The record lines of a level this build and this processor have.
LinesFn lines_for(VectorLevel level) noexcept;

struct GaijiPages;  // record/gaiji_page.hpp

// One output item, compiled from its ItemDef.
struct PlanStep {
    std::size_t start = 0;      // offset in the record
    std::size_t length = 0;     // bytes decoded; 0 for a negative length
    std::size_t in_record = 0;  // bytes inside the record; the rest read as 0x00
    std::size_t bound = 0;      // worst-case text bytes
    DecodeFn decode = nullptr;
    ReportFn report = nullptr;
    ItemOp op = ItemOp::CALL;            // how the record lines convert it
    ItemOp text_op = ItemOp::CALL;       // SHAPED: how they convert the decoder's text
    const HostCodePage* page = nullptr;  // the PAGE_ ops'
    // Through a page the plan made (GAIJI): these instead of decode, report.
    PageStepFn page_decode = nullptr;
    PageStepReportFn page_report = nullptr;
    const void* page_data = nullptr;
    std::size_t item = 0;  // index of its ItemDef in the format
    FieldShape shape;      // what the format's options make of its text
    bool shaped = false;   // shape.changes_text(): written by write_shaped_field
};

// A step's decoder's text.
inline std::size_t decode_step(const PlanStep& step, std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return step.page_decode != nullptr ? step.page_decode(item, out, step.page_data) : step.decode(item, out);
}

// A step's field: its decoder's text, or the options' form of it.
inline std::size_t write_field(const PlanStep& step, std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    if (step.page_decode != nullptr) {
        return step.shaped ? write_shaped_field(step.shape, step.page_decode, step.page_data, item, out)
                           : step.page_decode(item, out, step.page_data);
    }
    return step.shaped ? write_shaped_field(step.shape, step.decode, item, out) : step.decode(item, out);
}

inline std::size_t write_field(const PlanStep& step, std::span<const std::uint8_t> item, std::uint8_t* out,
                               DecodeReport& report) noexcept {
    if (step.page_report != nullptr) {
        return step.shaped ? write_shaped_field(step.shape, step.page_report, step.page_data, item, out, report)
                           : step.page_report(item, out, step.page_data, report);
    }
    return step.shaped ? write_shaped_field(step.shape, step.report, item, out, report)
                       : step.report(item, out, report);
}

// A KIND line compiled: the test that picks a record's layout.
struct KindSelect {
    std::size_t start = 0;
    std::size_t length = 0;
    std::vector<std::uint8_t> value;  // the E text without trailing spaces, or (raw) the bytes
    bool raw = false;                 // X'..': the bytes compared as they are
    bool same_field = false;          // the previous test reads the same bytes: its text serves
};

// The format compiled for conversion: only output items with a length.
// With KIND lines, the plan's own steps are the layout of the records that
// match no kind (the item lines before the first KIND line), and each kind
// has a plan of its own; the bounds are the largest of them all.
struct ItemPlan {
    std::vector<PlanStep> steps;
    bool fields_in_record = true;      // every step lies within the record
    bool line_kernels = true;          // the record lines can take it (see make_plan)
    std::vector<std::uint8_t> header;  // CSV=HEADER: the first line of a run; else empty
    std::size_t record_length = 0;
    std::size_t largest_bound = 0;  // largest step bound
    std::size_t line_bound = 0;     // worst-case bytes of one line, separators and line end included
    std::size_t scratch_size = 0;   // largest item that reaches past the record
    std::size_t steps_end = 0;      // where the furthest step ends: a V record this long holds every field

    RecordFormat record_format = RecordFormat::F;
    std::size_t record_limit = 0;  // V, VB: the largest RDW length

    std::vector<KindSelect> kinds;       // in file order: the first test that holds wins
    std::vector<ItemPlan> kind_layouts;  // the layout of each kind
    bool default_layout = true;          // with kinds: item lines come before the first KIND line
    DecodeFn kind_text = nullptr;        // E, through HOSTCODE's table, for the tests
    std::size_t kind_text_bound = 0;     // the longest test's text

    std::shared_ptr<const GaijiPages> gaiji;  // the pages the GAIJI lines make; null without them
};

// Compiles a checked format. May throw std::bad_alloc.
ItemPlan make_plan(const FormatDef& format);

// Copies an item's bytes from the record into `scratch`, the part past the
// record's end filled with 0x00. `scratch` holds step.length bytes.
void copy_item_bytes(const PlanStep& step, const std::uint8_t* record, std::uint8_t* scratch) noexcept;

// Text bytes appended by the decoders, written out in large blocks.
class OutputBuffer {
public:
    explicit OutputBuffer(std::size_t capacity);  // may throw std::bad_alloc
    std::uint8_t* tail() noexcept { return data_.get() + size_; }
    std::size_t room() const noexcept { return capacity_ - size_; }
    void advance(std::size_t n) noexcept { size_ += n; }
    void put(std::uint8_t byte) noexcept { data_[size_++] = byte; }
    std::span<const std::uint8_t> bytes() const noexcept { return {data_.get(), size_}; }
    void clear() noexcept { size_ = 0; }
    // Makes room for n more bytes: writes the buffer to `spill` when there is
    // one, grows it otherwise (or when a single need exceeds the capacity,
    // which may throw std::bad_alloc). WRITE_ERROR when the spill failed.
    Result make_room(std::size_t n, ByteSink* spill);

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Converts whole records into lines: for each output item its text, items
// joined by ',' and each line ended by one 0x0A.
class RecordConverter {
public:
    // Lines through the given level's steps. May throw std::bad_alloc.
    explicit RecordConverter(const ItemPlan& plan, const VectorKernels& kernels = active_kernels());
    // Converts records.size() / record_length records (whole records only).
    // WRITE_ERROR when a spill write failed: the lines before it are in the
    // sink. RECORD_KIND at a record that matches no kind (and no layout
    // serves such records): the lines before it are written, and
    // records_done() counts them. Without a spill the buffer grows, which
    // may throw std::bad_alloc.
    Result convert(std::span<const std::uint8_t> records, OutputBuffer& out, ByteSink* spill);
    // Converts the `records` records of a V or VB file's bytes that a
    // descriptor walk from `start` passed whole (cut_records): each its
    // line, a field that reaches past its record's end empty. Results as
    // convert().
    Result convert_variable(std::span<const std::uint8_t> bytes, DescriptorState start, std::size_t records,
                            OutputBuffer& out, ByteSink* spill);
    // The records the last convert() wrote lines for.
    std::size_t records_done() const noexcept { return done_; }
    // The layout that converts `record` (of `size` bytes): an index into
    // the plan's kind_layouts, kinds.size() for the default layout, or
    // NO_KIND.
    std::size_t kind_of(const std::uint8_t* record, std::size_t size) noexcept;
    static constexpr std::size_t NO_KIND = SIZE_MAX;
    // The bytes a step decodes in `record`: in the record, or copied with 00
    // past its end. Valid until the next call.
    std::span<const std::uint8_t> item_bytes(const PlanStep& step, const std::uint8_t* record) noexcept;

private:
    Result convert_layout(std::span<const std::uint8_t> records, OutputBuffer& out, ByteSink* spill);
    std::uint8_t* convert_line(const std::uint8_t* record, std::uint8_t* out) noexcept;
    Result variable_line(std::span<const std::uint8_t> record, std::size_t after, OutputBuffer& out, ByteSink* spill);

    const ItemPlan& plan_;
    LinesFn lines_;
    std::unique_ptr<std::uint8_t[]> scratch_;
    std::vector<RecordConverter> kind_converters_;  // one per kind layout
    std::unique_ptr<std::uint8_t[]> kind_text_;     // a test's text
    std::size_t done_ = 0;
};

// A record loop: reads a source in chunks of whole records, converts them and
// writes the lines to a sink, in record order. Its buffers are allocated when
// it is made.
class RecordLoop {
public:
    virtual ~RecordLoop() = default;
    // As Converter::run.
    virtual Result run(ByteSource& source, ByteSink& sink) noexcept = 0;
    // Where the last run stopped on RECORD_KIND or RECORD_DESCRIPTOR.
    RecordFault fault() const noexcept { return fault_; }

protected:
    RecordFault fault_;
};

// The loop for a plan: chunks converted on options.threads threads when that
// many (or fewer, but at least two) fit their buffers in options.memory,
// else on the calling thread with the lines written out as the buffer fills.
// Both write the same bytes. V and VB records are cut into chunks at record
// boundaries by a walk over their descriptors as they are read: one pass,
// so a stream converts as a file does, in constant memory. May throw
// std::bad_alloc.
std::unique_ptr<RecordLoop> make_record_loop(const ItemPlan& plan, const ConvertOptions& options);

}  // namespace rekmo
