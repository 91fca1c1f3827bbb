// Record conversion: the item plan, the record loop and the file driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/item_table.hpp"
#include "format/format.hpp"
#include "platform/platform.hpp"

namespace rekmo {

// Result codes; also the exit status.
inline constexpr int RESULT_OK = 0;
inline constexpr int RESULT_FAILURE = 1;      // usage, open, size, read and format faults
inline constexpr int RESULT_WRITE_ERROR = 2;  // writing WinFile failed
inline constexpr int RESULT_FORMAT_UNOPENED = -1;

// One output item, compiled from its ItemDef.
struct PlanStep {
    std::size_t start = 0;      // offset in the record
    std::size_t length = 0;     // bytes decoded; 0 for a negative length
    std::size_t in_record = 0;  // bytes inside the record; the rest read as 0x00
    std::size_t bound = 0;      // worst-case text bytes
    DecodeFn decode = nullptr;
    std::size_t item = 0;       // index of its ItemDef in the format
};

// The format compiled for conversion: only output items with a length.
struct ItemPlan {
    std::vector<PlanStep> steps;
    std::size_t record_length = 0;
    std::size_t largest_bound = 0;  // largest step bound
    std::size_t line_bound = 0;     // worst-case bytes of one line, separators and line end included
    std::size_t scratch_size = 0;   // largest item that reaches past the record
};

ItemPlan make_plan(const FormatDef& format);

// Copies an item's bytes from the record into `scratch`, the part past the
// record's end filled with 0x00. `scratch` holds step.length bytes.
void copy_item_bytes(const PlanStep& step, const std::uint8_t* record, std::uint8_t* scratch) noexcept;

// Where converted lines go.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes could not all be written.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Completes the output (a file is closed); false when that fails, since
    // data can still be lost at that point.
    virtual bool finish() { return true; }
};

// Where host records come from.
class ByteSource {
public:
    struct Result {
        std::size_t count = 0;  // bytes placed in the buffer
        bool error = false;     // the read failed
    };
    virtual ~ByteSource() = default;
    // Fills the buffer unless the end of the input or an error comes first.
    virtual Result read(std::span<std::uint8_t> buffer) = 0;
};

// Host records read from an open file.
class FileSource final : public ByteSource {
public:
    explicit FileSource(platform::File& file) : file_(file) {}
    Result read(std::span<std::uint8_t> buffer) override {
        const platform::File::ReadResult r = file_.read(buffer);
        return Result{r.count, r.error};
    }

private:
    platform::File& file_;
};

// Text bytes appended by the decoders, written out in large blocks.
class OutputBuffer {
public:
    explicit OutputBuffer(std::size_t capacity);
    std::uint8_t* tail() noexcept { return data_.get() + size_; }
    std::size_t room() const noexcept { return capacity_ - size_; }
    void advance(std::size_t n) noexcept { size_ += n; }
    void put(std::uint8_t byte) noexcept { data_[size_++] = byte; }
    std::span<const std::uint8_t> bytes() const noexcept { return {data_.get(), size_}; }
    void clear() noexcept { size_ = 0; }
    // Makes room for n more bytes: writes the buffer to `spill` when there is
    // one, grows it otherwise (or when a single need exceeds the capacity).
    // False when the spill write failed.
    bool make_room(std::size_t n, ByteSink* spill);

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Converts whole records into lines: for each output item its text, items
// joined by ',' and each line ended by one 0x0A.
class RecordConverter {
public:
    explicit RecordConverter(const ItemPlan& plan);
    // Converts records.size() / record_length records (whole records only).
    // False when a spill write failed; lines up to that point are in the sink.
    bool convert(std::span<const std::uint8_t> records, OutputBuffer& out, ByteSink* spill);

private:
    std::uint8_t* convert_line(const std::uint8_t* record, std::uint8_t* out) noexcept;

    const ItemPlan& plan_;
    std::unique_ptr<std::uint8_t[]> scratch_;
};

// A record loop: reads a source in chunks of whole records, converts them and
// writes the lines to a sink, in record order. Its buffers are allocated when
// it is made, so that a lack of memory shows before WinFile is created.
class RecordLoop {
public:
    virtual ~RecordLoop() = default;
    // Returns RESULT_OK, RESULT_FAILURE (read error, or the input ended inside
    // a record; every whole record before it is written, none after) or
    // RESULT_WRITE_ERROR (conversion stopped at the first failed write, or
    // finishing the sink failed; the sink holds exactly what it accepted).
    // May throw std::bad_alloc.
    virtual int run(ByteSource& source, ByteSink& sink) = 0;
};

struct LoopOptions {
    unsigned threads = 1;                // threads converting chunks; 1: the calling thread alone
    std::size_t chunk_bytes = 256u << 10;  // host bytes per chunk, rounded down to whole records (at least one)
};

// The loop for a plan: chunks converted on `threads` threads when that pays
// and the chunks' lines fit in bounded memory, else on the calling thread
// with the lines written out as the buffer fills. Both write the same bytes.
std::unique_ptr<RecordLoop> make_record_loop(const ItemPlan& plan, const LoopOptions& options);

// make_record_loop(plan, options)->run(source, sink).
int convert_records(const ItemPlan& plan, ByteSource& source, ByteSink& sink, const LoopOptions& options = {});

// Converts HostFile into WinFile with a checked format. FormatFile's path is
// given so that WinFile may never name it. Shows a message on failure and
// returns the result code (0, 1 or 2).
int convert_file(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                 const std::string& format_path) noexcept;

}  // namespace rekmo
