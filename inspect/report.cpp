// One inspection, written as it is made: the layout, then, with a host file,
// its size, some records and optionally every record. The host file is
// opened once and read once, front to back, through one handle: a FIFO or a
// device is read like a file, and its size is what was read. (A regular
// file whose size leaves a few bytes after the last whole record has those
// read first, by their place.)
#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <thread>

#include "driver/driver.hpp"
#include "inspect/display.hpp"
#include "inspect/inspect.hpp"
#include "inspect/items.hpp"
#include "platform/platform.hpp"

namespace rekmo::inspect {
namespace {

constexpr std::size_t HEAD_BYTES = 64u << 10;
constexpr std::size_t TAIL_BYTES = 16;
constexpr std::size_t BLOCK_BYTES = 1u << 20;

class HostReader;

// What the reader tells as it reads; false from either ends the reading.
class ReadListener {
public:
    // The first bytes of a file of known size are all in.
    virtual bool head_read(const HostReader& reader) = 0;
    // Whole records asked for, in order, the first numbered `first_number`.
    virtual bool records_read(std::span<const std::uint8_t> records, std::uint64_t first_number) = 0;

protected:
    ~ReadListener() = default;
};

// The host file as it is read: every read passes here, in order (the scan's
// threads read under one lock), keeps the file's first bytes (and, of a
// file of unknown size, its last bytes) and hands on the records asked for.
// Reads come in whole records up to the end of the file, so a record never
// spans two of them.
class HostReader final : public ByteSource {
public:
    // `size`: a regular file's size; none for a FIFO or a device.
    // `source` gives the file's bytes in order (checked against `size`).
    HostReader(platform::File& file, ByteSource& source, std::size_t record_length, const Options& options,
               std::optional<std::uint64_t> size, ReadListener& listener)
        : file_(file),
          source_(source),
          record_length_(record_length),
          first_(options.first_record),
          end_(options.first_record + std::min(options.record_count, UINT64_MAX - options.first_record)),
          known_size_(size),
          listener_(listener) {}

    ReadResult read(std::span<std::uint8_t> buffer) noexcept override {
        if (stopped) return ReadResult{0, Result::READ_ERROR};
        const ReadResult r = source_.read(buffer);
        try {
            if (!observe(buffer.first(r.count))) stopped = true;
        } catch (const std::bad_alloc&) {
            out_of_memory = stopped = true;
        }
        return stopped ? ReadResult{0, Result::READ_ERROR} : r;  // a failed read ends the reading
    }

    // Of a regular file whose size leaves 1 to TAIL_BYTES bytes after the
    // last whole record, its last bytes, read by their place: false when
    // that read failed.
    bool read_tail(std::int64_t layout_length) {
        const std::uint64_t size = *known_size_;
        const std::uint64_t remainder = layout_length >= 1 ? size % static_cast<std::uint64_t>(layout_length) : 0;
        if (remainder == 0 || remainder > TAIL_BYTES) return true;
        tail.resize(std::min<std::uint64_t>(size, TAIL_BYTES));
        const ReadResult r = file_.read_at(size - tail.size(), tail);
        tail.resize(r.count);
        return r.result == Result::OK;
    }

    // True when nothing more is to be learnt from a regular file: its first
    // bytes and the records asked for have been read.
    bool has_all() const noexcept {
        const std::uint64_t size = *known_size_;
        if (size_ >= size) return true;
        if (!head_complete()) return false;
        if (record_length_ > 0 && size_ / record_length_ < std::min(end_ - 1, size / record_length_)) return false;
        return true;
    }

    std::uint64_t size() const noexcept { return size_; }

    std::vector<std::uint8_t> head, tail;
    bool stopped = false;  // the listener ended the reading, or memory ran out
    bool out_of_memory = false;

private:
    bool head_complete() const noexcept { return head.size() >= std::min<std::uint64_t>(*known_size_, HEAD_BYTES); }

    bool observe(std::span<const std::uint8_t> bytes) {
        const bool had_head = known_size_ && head_complete();
        const std::size_t to_head = std::min(bytes.size(), HEAD_BYTES - std::min(HEAD_BYTES, head.size()));
        head.insert(head.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(to_head));
        if (!known_size_) {
            tail.insert(tail.end(), bytes.end() - static_cast<std::ptrdiff_t>(std::min(bytes.size(), TAIL_BYTES)),
                        bytes.end());
            if (tail.size() > TAIL_BYTES) tail.erase(tail.begin(), tail.end() - TAIL_BYTES);
        }
        if (known_size_ && !had_head && head_complete() && !listener_.head_read(*this)) return false;
        if (record_length_ > 0) {
            // The records here are numbered from `number`; those asked for
            // are one stretch of them.
            const std::uint64_t number = size_ / record_length_ + 1;
            const std::uint64_t low = std::max(number, first_);
            const std::uint64_t high = std::min(number + bytes.size() / record_length_, end_);
            if (low < high) {
                const std::span<const std::uint8_t> records =
                    bytes.subspan((low - number) * record_length_, (high - low) * record_length_);
                if (!listener_.records_read(records, low)) return false;
            }
        }
        size_ += bytes.size();
        return true;
    }

    platform::File& file_;
    ByteSource& source_;
    std::size_t record_length_;  // 0 when no record is to be cut
    std::uint64_t first_, end_;  // the records asked for: [first_, end_)
    std::optional<std::uint64_t> known_size_;
    ReadListener& listener_;
    std::uint64_t size_ = 0;
};

// Reads the rest of the file, or of a regular file only as much as the
// report needs.
Result read_rest(HostReader& reader, std::size_t record_length, bool regular) {
    const std::size_t block_size =
        record_length > 0 ? std::max<std::size_t>(1, BLOCK_BYTES / record_length) * record_length : BLOCK_BYTES;
    std::vector<std::uint8_t> block(block_size);
    while (!(regular && reader.has_all())) {
        const ReadResult r = reader.read(block);
        if (r.result != Result::OK) return r.result;
        if (r.count < block.size()) break;
    }
    return Result::OK;
}

// The first bytes of a regular file (never a FIFO or a device: opening or
// reading one again could wait forever or take data meant for someone else).
std::vector<std::uint8_t> regular_file_head(const std::string& path) {
    std::vector<std::uint8_t> head;
    platform::FileKind kind;
    platform::File file;
    if (platform::path_kind(path, kind) != Result::OK || kind != platform::FileKind::REGULAR ||
        file.open_input(path) != Result::OK) {
        return head;
    }
    head.resize(HEAD_BYTES);
    head.resize(file.read(head).count);
    return head;
}

// True when `bytes`, the start of the file given as FormatFile, look like
// host data rather than a format: control bytes or no line ends, and not one
// item line the reader accepts.
bool looks_like_host_data(std::span<const std::uint8_t> bytes, const Layout& layout) noexcept {
    if (layout.accepted() || bytes.empty()) return false;
    if (std::any_of(layout.item_faults.begin(), layout.item_faults.end(),
                    [](Result fault) { return fault == Result::OK; })) {
        return false;
    }
    const bool control = std::any_of(bytes.begin(), bytes.end(),
                                     [](std::uint8_t b) { return b < 0x20 && b != '\t' && b != '\r' && b != '\n'; });
    const bool lines = std::find(bytes.begin(), bytes.end(), '\n') != bytes.end();
    return control || !lines;
}

// Bytes that hold a whole format accepted by the reader, with at least one item.
bool is_format(std::span<const std::uint8_t> bytes) noexcept {
    FormatDef format;
    return parse_format(bytes, format).result == Result::OK && !format.items.empty();
}

std::string records_text(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

// What to tell about the command line: a record range that starts past the
// end of the file, and operands given in rekmo's order (FormatFile last).
void add_notes(const Options& options, const HostReader& reader, Report& report) {
    const HostCheck& host = *report.host;
    // V and VB records are counted by the walk, which went past the range
    // asked for unless the file ended first (a fault is told on its own).
    const bool counted = !report.descriptors || (report.descriptors->end && !report.descriptors->fault);
    const std::uint64_t records = report.descriptors ? report.descriptors->records : host.records;
    if (options.records_given && report.layout.accepted() && options.record_count > 0 && counted &&
        options.first_record > records) {
        report.notes.push_back("record " + std::to_string(options.first_record) +
                               " is past the end: " + shown_text(host.path) + " has " + records_text(records));
    }
    if (!report.layout.accepted() && host.size <= HEAD_BYTES && is_format(reader.head) &&
        looks_like_host_data(regular_file_head(options.format_path), report.layout)) {
        const std::string format_path = shown_text(options.format_path), host_path = shown_text(host.path);
        report.notes.push_back("FormatFile comes first: " + format_path + " looks like host data and " + host_path +
                               " like a format file; try: rekmo-inspect " + host_path + " " + format_path);
    }
}

// The report's parts to the output as they become known. Records read
// before the host file's section can be written (all of them, from a file
// whose size is known at its end) wait as host bytes.
class ReportWriter final : public ReadListener {
public:
    ReportWriter(bool json, ReportOutput& out, Report& report) : parts_(json), out_(out), report_(report) {}

    // False once a write has failed; nothing is written after it.
    bool write(std::string_view text) {
        failed_ = failed_ || !out_.write(text);
        return !failed_;
    }
    bool head() { return write(parts_.head(report_)); }
    bool tail() { return (host_written_ || write(parts_.host(report_))) && write(parts_.tail(report_)); }
    bool failed() const noexcept { return failed_; }
    bool host_written() const noexcept { return host_written_; }

    // Records are cut only from a layout rekmo accepts.
    void open_converter(const FormatDef& format) {
        if (converter_.open(format).result != Result::OK) throw std::bad_alloc();
    }
    Converter& converter() noexcept { return converter_; }

    // The host file's section, then the records that waited for it.
    bool write_host(std::uint64_t size, const HostReader& reader) {
        report_.host = check_host(size, report_.layout.format, reader.head, reader.tail);
        report_.host->path = host_path_;
        host_written_ = true;
        bool written = write(parts_.host(report_)) && write_records(waiting_, first_waiting_);
        for (const RecordSample& sample : waiting_samples_) written = written && write_sample(sample);
        waiting_ = {};
        waiting_samples_ = {};
        return written;
    }

    // A V or VB record, written once the host file's section is.
    bool record_sample(RecordSample&& sample) {
        if (!host_written_) {
            waiting_samples_.push_back(std::move(sample));
            return true;
        }
        return write_sample(sample);
    }

    bool head_read(const HostReader& reader) override { return write_host(host_size_, reader); }

    bool records_read(std::span<const std::uint8_t> records, std::uint64_t first_number) override {
        if (host_written_) return write_records(records, first_number);
        if (waiting_.empty()) first_waiting_ = first_number;
        waiting_.insert(waiting_.end(), records.begin(), records.end());
        return true;
    }

    // The host file's path, as given, and (of a regular file) its size.
    void set_host(const std::string& path, std::uint64_t size) {
        host_path_ = path;
        host_size_ = size;
    }

private:
    // One record at a time, so that memory does not grow with their number.
    bool write_records(std::span<const std::uint8_t> records, std::uint64_t first_number) {
        if (records.empty()) return true;  // (the converter is open only for an accepted layout)
        const std::size_t length = converter_.record_length();
        for (std::size_t at = 0; at + length <= records.size(); at += length) {
            sample_record(converter_, records.subspan(at, length), first_number + at / length, false, sample_);
            if (!write_sample(sample_)) return false;
        }
        return true;
    }

    bool write_sample(const RecordSample& sample) {
        // A record of no kind stops rekmo: a finding.
        report_.record_findings |= sample.kind == NO_KIND;
        for (const ItemSample& item : sample.items) report_.record_findings |= item.findings != 0;
        return write(parts_.record(report_, sample));
    }

    ReportParts parts_;
    ReportOutput& out_;
    Report& report_;
    Converter converter_;
    RecordSample sample_;
    std::vector<std::uint8_t> waiting_;
    std::vector<RecordSample> waiting_samples_;
    std::uint64_t first_waiting_ = 0;
    std::string host_path_;
    std::uint64_t host_size_ = 0;
    bool host_written_ = false;
    bool failed_ = false;
};

// Walks a V or VB file's descriptor words as it is read, one pass, to its
// end with --scan (counting every record on this thread), else as far as
// the records asked for: each of them is written as it is passed. The walk
// keeps no more than the largest record and a block of bytes.
Result read_variable(HostReader& reader, const Options& options, ReportWriter& writer, Report& report, bool regular) {
    const FormatDef& format = report.layout.format;
    Converter& converter = writer.converter();
    RecordWalk walk(record_format(format), static_cast<std::size_t>(record_limit(format)));
    Descriptors& met = report.descriptors.emplace();
    const std::uint64_t first = options.first_record;
    const std::uint64_t end_wanted = first + std::min(options.record_count, UINT64_MAX - first);
    if (options.scan) report.scan = empty_scan(converter);
    ItemTexts texts;
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
    bool end = false;
    Result result = Result::OK;
    while (true) {
        VariableRecord record;
        RecordFault fault;
        const RecordWalk::Step step = walk.next(bytes, pos, end, record, fault);
        if (step == RecordWalk::Step::RECORD) {
            if (record.number >= first && record.number < end_wanted) {
                RecordSample sample;
                sample_record(converter, record.data, record.number, true, sample);
                sample.variable = true;
                sample.offset = record.offset;
                sample.rdw = static_cast<std::uint32_t>(record.data.size() + 4);
                sample.block = record.block;
                sample.block_offset = record.block_offset;
                sample.bdw = record.block_length;
                if (!writer.record_sample(std::move(sample))) break;
            }
            if (options.scan) count_record(converter, record.data, record.number, texts, *report.scan);
            continue;
        }
        if (step == RecordWalk::Step::FAULT) met.fault = fault;
        if (step != RecordWalk::Step::MORE) {
            met.end = true;
            break;
        }
        // Nothing more to show or count: the rest is not read.
        if (!options.scan && regular && walk.records() + 1 >= end_wanted && reader.has_all()) break;
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pos));
        pos = 0;
        const std::size_t kept = bytes.size();
        bytes.resize(kept + BLOCK_BYTES);
        const ReadResult r = reader.read(std::span(bytes).subspan(kept));
        bytes.resize(kept + r.count);
        if (r.result != Result::OK) {
            result = r.result;
            break;
        }
        end = r.count < BLOCK_BYTES;
    }
    met.records = walk.records();
    met.blocks = walk.blocks();
    return result;
}

// Reads the host file and writes its section and its records: OK,
// READ_ERROR (`error` says why) or WRITE_ERROR.
Result write_host_file(const Options& options, ReportWriter& writer, Report& report, std::string& error) {
    const std::string& path = *options.host_path;
    platform::File file;
    platform::FileInfo info;
    if (file.open_input(path) != Result::OK || file.info(info) != Result::OK ||
        info.kind == platform::FileKind::DIRECTORY) {
        error = "cannot open the host file " + shown_text(path);
        return Result::READ_ERROR;
    }
    // Records can only be cut from the file when rekmo would accept the layout.
    const FormatDef& format = report.layout.format;
    const bool accepted = report.layout.accepted();
    const bool variable = record_format(format) != RecordFormat::F;
    const std::size_t record_length = accepted && !variable ? static_cast<std::size_t>(format.record_length) : 0;
    // A regular file is read against its size, and measured again at the
    // end: a file that changes while it is inspected is not reported as fine.
    const bool regular = info.kind == platform::FileKind::REGULAR;
    FileSource file_source(file);
    SizeCheckedSource checked(file_source, info.size);
    if (accepted) writer.open_converter(format);
    writer.set_host(path, info.size);
    HostReader reader(file, regular ? static_cast<ByteSource&>(checked) : file_source, record_length, options,
                      regular ? std::optional(info.size) : std::nullopt, writer);
    const bool tail_read = !regular || variable || reader.read_tail(format.record_length);
    Result read;
    if (accepted && variable) {
        read = read_variable(reader, options, writer, report, regular);
    } else if (accepted && options.scan) {
        const unsigned threads =
            options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
        report.scan.emplace();
        read = scan_records(format, reader, threads, *report.scan);
    } else {
        read = read_rest(reader, record_length, regular);
    }
    if (reader.out_of_memory || read == Result::OUT_OF_MEMORY) throw std::bad_alloc();
    if (writer.failed()) return Result::WRITE_ERROR;
    platform::FileInfo after;
    const bool changed = regular && (checked.changed() || file.info(after) != Result::OK || after.size != info.size);
    // What was read before a failed read is still shown.
    if (!writer.host_written() && !writer.write_host(regular ? info.size : reader.size(), reader)) {
        return Result::WRITE_ERROR;
    }
    add_notes(options, reader, report);
    if (changed) {
        error = "the host file " + shown_text(path) + " changed size while it was read";
        return Result::READ_ERROR;
    }
    if (read != Result::OK || !tail_read) {
        error = "cannot read the host file " + shown_text(path);
        return Result::READ_ERROR;
    }
    return Result::OK;
}

}  // namespace

Result write_report(const Options& options, bool json, ReportOutput& out, Report& report, std::string& error) {
    report.layout = inspect_layout(options.format_path);
    if (!report.layout.readable()) {
        error = report.layout.error.result == Result::FORMAT_SIZE
                    ? "the format file " + shown_text(options.format_path) + " is larger than 16 MiB: rekmo refuses it"
                    : "cannot read the format file " + shown_text(options.format_path);
        return Result::CANNOT_OPEN;
    }
    ReportWriter writer(json, out, report);
    if (!writer.head()) return Result::WRITE_ERROR;
    const Result read = options.host_path ? write_host_file(options, writer, report, error) : Result::OK;
    if (read == Result::WRITE_ERROR || !writer.tail()) return Result::WRITE_ERROR;
    return read;
}

bool has_findings(const Report& report) noexcept {
    if (!report.layout.accepted() || !report.layout.findings.empty() || report.record_findings) return true;
    if (report.host &&
        (report.host->remainder != 0 || !report.host->damage.empty() || report.host->suggested_record_format)) {
        return true;
    }
    if (report.descriptors && report.descriptors->fault) return true;
    for (const RecordSample& record : report.records) {
        for (const ItemSample& item : record.items) {
            if (item.findings != 0) return true;
        }
    }
    if (report.scan) {
        if (report.scan->no_kind != 0) return true;
        for (const ItemScan& item : report.scan->items) {
            for (const std::uint64_t n : item.records) {
                if (n != 0) return true;
            }
        }
    }
    return false;
}

}  // namespace rekmo::inspect
