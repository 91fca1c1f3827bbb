// One inspection: the layout, then, with a host file, its size, some records
// and optionally every record. The host file is opened once and read once,
// front to back, through one handle: a FIFO or a device is read like a file,
// and its size is what was read.
#include <algorithm>
#include <cstdint>
#include <new>
#include <thread>

#include "inspect/display.hpp"
#include "inspect/inspect.hpp"
#include "inspect/items.hpp"
#include "platform/platform.hpp"
#include "driver/driver.hpp"

namespace rekmo::inspect {
namespace {

constexpr std::size_t HEAD_BYTES = 64u << 10;
constexpr std::size_t TAIL_BYTES = 16;
constexpr std::size_t BLOCK_BYTES = 1u << 20;

// The host file as it is read: every read passes here, in order (the scan's
// threads read under one lock), and leaves the file's first and last bytes,
// its size so far and the records asked for. Reads come in whole records up
// to the end of the file, so a record never spans two of them.
class HostReader final : public ByteSource {
public:
    HostReader(ByteSource& source, std::size_t record_length, const Options& options)
        : source_(source), record_length_(record_length), first_(options.first_record), count_(options.record_count) {}

    ReadResult read(std::span<std::uint8_t> buffer) noexcept override {
        const ReadResult r = source_.read(buffer);
        try {
            observe(buffer.first(r.count));
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
            return ReadResult{0, Result::READ_ERROR};  // ends the reading
        }
        return r;
    }

    // True when, for a file of `size` bytes, nothing more is to be learnt:
    // the first bytes, the records asked for and (when the check needs them)
    // the last bytes have been read.
    bool has_all(std::uint64_t size, std::int64_t layout_length) const noexcept {
        if (size_ >= size) return true;
        if (head.size() < std::min<std::uint64_t>(size, HEAD_BYTES)) return false;
        if (record_length_ > 0) {
            const std::uint64_t last_wanted = first_ - 1 + std::min(count_, UINT64_MAX - first_);
            if (size_ / record_length_ < std::min(last_wanted, size / record_length_)) return false;
        }
        const std::uint64_t remainder = layout_length >= 1 ? size % static_cast<std::uint64_t>(layout_length) : 0;
        return remainder == 0 || remainder > TAIL_BYTES;
    }

    std::uint64_t size() const noexcept { return size_; }

    std::vector<std::uint8_t> head, tail;
    std::vector<std::uint8_t> samples;  // the records asked for, whole
    std::uint64_t first_sample = 0;     // the number of the first of them
    bool out_of_memory = false;

private:
    void observe(std::span<const std::uint8_t> bytes) {
        const std::size_t to_head = std::min(bytes.size(), HEAD_BYTES - std::min(HEAD_BYTES, head.size()));
        head.insert(head.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(to_head));
        tail.insert(tail.end(), bytes.end() - static_cast<std::ptrdiff_t>(std::min(bytes.size(), TAIL_BYTES)),
                    bytes.end());
        if (tail.size() > TAIL_BYTES) tail.erase(tail.begin(), tail.end() - TAIL_BYTES);
        if (record_length_ > 0) {
            for (std::size_t at = 0; at + record_length_ <= bytes.size(); at += record_length_) {
                const std::uint64_t number = (size_ + at) / record_length_ + 1;
                if (number < first_ || number - first_ >= count_) continue;
                if (samples.empty()) first_sample = number;
                samples.insert(samples.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + record_length_));
            }
        }
        size_ += bytes.size();
    }

    ByteSource& source_;
    std::size_t record_length_;  // 0 when no record is to be cut
    std::uint64_t first_, count_;
    std::uint64_t size_ = 0;
};

// Reads the rest of the file, or of a file of known size only as much as the
// report needs.
Result read_rest(HostReader& reader, const platform::FileInfo& info, std::size_t record_length,
                 std::int64_t layout_length) {
    const std::size_t block_size =
        record_length > 0 ? std::max<std::size_t>(1, BLOCK_BYTES / record_length) * record_length : BLOCK_BYTES;
    std::vector<std::uint8_t> block(block_size);
    while (!(info.kind == platform::FileKind::REGULAR && reader.has_all(info.size, layout_length))) {
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
    const bool control = std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) {
        return b < 0x20 && b != '\t' && b != '\r' && b != '\n';
    });
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
    if (options.records_given && report.layout.accepted() && options.record_count > 0 && options.first_record > host.records) {
        report.notes.push_back("record " + std::to_string(options.first_record) +
                               " is past the end: " + shown_text(host.path) + " has " + records_text(host.records));
    }
    if (!report.layout.accepted() && host.size <= HEAD_BYTES && is_format(reader.head) &&
        looks_like_host_data(regular_file_head(options.format_path), report.layout)) {
        const std::string format_path = shown_text(options.format_path), host_path = shown_text(host.path);
        report.notes.push_back("FormatFile comes first: " + format_path + " looks like host data and " + host_path +
                               " like a format file; try: rekmo-inspect " + host_path + " " + format_path);
    }
}

}  // namespace

bool build_report(const Options& options, Report& report, std::string& error) {
    report.layout = inspect_layout(options.format_path);
    if (!report.layout.readable()) {
        error = report.layout.error.result == Result::FORMAT_SIZE
                    ? "the format file " + shown_text(options.format_path) + " is larger than 16 MiB: rekmo refuses it"
                    : "cannot read the format file " + shown_text(options.format_path);
        return false;
    }
    if (!options.host_path) return true;
    const std::string& path = *options.host_path;
    platform::File file;
    platform::FileInfo info;
    if (file.open_input(path) != Result::OK || file.info(info) != Result::OK ||
        info.kind == platform::FileKind::DIRECTORY) {
        error = "cannot open the host file " + shown_text(path);
        return false;
    }
    // Records can only be cut from the file when rekmo would accept the layout.
    const FormatDef& format = report.layout.format;
    const bool accepted = report.layout.accepted();
    const std::size_t record_length = accepted ? static_cast<std::size_t>(format.record_length) : 0;
    // A regular file is read against its size, and measured again at the
    // end: a file that changes while it is inspected is not reported as fine.
    const bool regular = info.kind == platform::FileKind::REGULAR;
    FileSource file_source(file);
    SizeCheckedSource checked(file_source, info.size);
    HostReader reader(regular ? static_cast<ByteSource&>(checked) : file_source, record_length, options);
    Result read;
    if (accepted && options.scan) {
        const unsigned threads =
            options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
        report.scan.emplace();
        read = scan_records(format, reader, threads, *report.scan);
    } else {
        read = read_rest(reader, info, record_length, format.record_length);
    }
    if (reader.out_of_memory || read == Result::OUT_OF_MEMORY) throw std::bad_alloc();
    platform::FileInfo after;
    const bool changed = regular && (checked.changed() || file.info(after) != Result::OK || after.size != info.size);
    // What was read before a failed read is still shown.
    const std::uint64_t size = regular ? info.size : reader.size();
    report.host = check_host(size, format.record_length, reader.head, reader.tail);
    report.host->path = path;
    add_notes(options, reader, report);
    if (accepted && !reader.samples.empty()) {
        Converter converter;
        if (converter.open(format).result != Result::OK) throw std::bad_alloc();
        sample_records(converter, reader.samples, reader.first_sample, report.records);
    }
    if (changed) {
        error = "the host file " + shown_text(path) + " changed size while it was read";
        return false;
    }
    if (read != Result::OK) {
        error = "cannot read the host file " + shown_text(path);
        return false;
    }
    return true;
}

bool has_findings(const Report& report) noexcept {
    if (!report.layout.accepted() || !report.layout.findings.empty()) return true;
    if (report.host && (report.host->remainder != 0 || !report.host->damage.empty())) return true;
    for (const RecordSample& record : report.records) {
        for (const ItemSample& item : record.items) {
            if (item.findings != 0) return true;
        }
    }
    if (report.scan) {
        for (const ItemScan& item : report.scan->items) {
            for (const std::uint64_t n : item.records) {
                if (n != 0) return true;
            }
        }
    }
    return false;
}

}  // namespace rekmo::inspect
