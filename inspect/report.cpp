// One inspection: the layout, then, with a host file, its size, some records
// and optionally every record.
#include <algorithm>
#include <cstdint>
#include <thread>

#include "inspect/inspect.hpp"
#include "inspect/items.hpp"
#include "platform/platform.hpp"

namespace rekmo::inspect {
namespace {

constexpr std::size_t HEAD_BYTES = 64u << 10;
constexpr std::size_t TAIL_BYTES = 16;
constexpr std::size_t SKIP_BYTES = 1u << 20;

bool open_host(const std::string& path, platform::File& file, platform::FileInfo& info, std::string& error) {
    if (!file.open_input(path) || !file.info(info) || info.kind == platform::FileKind::DIRECTORY) {
        error = "cannot open the host file " + path;
        return false;
    }
    return true;
}

// The first HEAD_BYTES and the last TAIL_BYTES of the file, in one pass that
// stops early when the file is long.
bool read_ends(platform::File& file, std::uint64_t size, std::vector<std::uint8_t>& head,
               std::vector<std::uint8_t>& tail) {
    head.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, HEAD_BYTES)));
    platform::File::ReadResult r = file.read(head);
    if (r.error) return false;
    head.resize(r.count);
    if (size <= HEAD_BYTES) {
        tail.assign(head.end() - static_cast<std::ptrdiff_t>(std::min(head.size(), TAIL_BYTES)), head.end());
        return true;
    }
    // Skip to the last bytes: the file is read, not sought, so pipes work too.
    std::vector<std::uint8_t> skip(SKIP_BYTES);
    std::uint64_t left = size - HEAD_BYTES;
    while (left > TAIL_BYTES) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left - TAIL_BYTES, skip.size()));
        r = file.read({skip.data(), n});
        if (r.error || r.count < n) return !r.error;
        left -= n;
    }
    tail.resize(static_cast<std::size_t>(left));
    r = file.read(tail);
    tail.resize(r.count);
    return !r.error;
}

// Records FIRST to FIRST + COUNT - 1 (as far as the file has whole records).
bool read_samples(const Options& options, const FormatDef& format, platform::File& file,
                  std::vector<RecordSample>& samples) {
    ItemReader reader(format);
    const std::size_t length = reader.record_length();
    // The records before FIRST are read in large blocks and passed over.
    std::vector<std::uint8_t> skip(std::max<std::size_t>(1, SKIP_BYTES / length) * length);
    std::uint64_t number = 1;
    while (options.first_record - number >= skip.size() / length) {
        const platform::File::ReadResult r = file.read(skip);
        if (r.error) return false;
        if (r.count < skip.size()) return true;  // the file ends before FIRST
        number += skip.size() / length;
    }
    std::vector<std::uint8_t> record(length);
    const std::uint64_t last = options.first_record + std::min(options.record_count, UINT64_MAX - options.first_record);
    for (; number < last; ++number) {
        const platform::File::ReadResult r = file.read(record);
        if (r.error) return false;
        if (r.count < length) break;
        if (number >= options.first_record) samples.push_back(sample_record(reader, number, record.data()));
    }
    return true;
}

}  // namespace

bool build_report(const Options& options, Report& report, std::string& error) {
    report.layout = inspect_layout(options.format_path);
    if (report.layout.loaded == -1) {
        error = "cannot read the format file " + options.format_path;
        return false;
    }
    if (!options.host_path) return true;
    const std::string& path = *options.host_path;
    platform::File file;
    platform::FileInfo info;
    if (!open_host(path, file, info, error)) return false;
    std::vector<std::uint8_t> head, tail;
    if (!read_ends(file, info.size, head, tail)) {
        error = "cannot read the host file " + path;
        return false;
    }
    file.close();
    const FormatDef& format = report.layout.format;
    report.host = check_host(info.size, format.record_length, head, tail);
    report.host->path = path;
    // Records can only be cut from the file when rekmo would accept the layout.
    if (report.layout.loaded != 0) return true;
    if (!open_host(path, file, info, error)) return false;
    if (!read_samples(options, format, file, report.records)) {
        error = "cannot read the host file " + path;
        return false;
    }
    file.close();
    if (!options.scan) return true;
    if (!open_host(path, file, info, error)) return false;
    FileSource source(file);
    const unsigned threads = options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    report.scan.emplace();
    if (!scan_records(format, source, threads, *report.scan)) {
        error = "cannot read the host file " + path;
        return false;
    }
    return true;
}

bool has_findings(const Report& report) noexcept {
    if (report.layout.loaded != 0 || !report.layout.findings.empty()) return true;
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
