// The file driver: HostFile measured and checked, the converter prepared,
// WinFile created, and the records converted from one to the other by the
// conversion core through the platform's files.
#include "driver/driver.hpp"

#include <algorithm>
#include <thread>

#include "platform/platform.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo {
namespace {

// Below this a regular file is converted on one thread: starting threads
// would cost more than they save.
constexpr std::uint64_t PARALLEL_FROM_SIZE = 4u << 20;

class FileSink final : public ByteSink {
public:
    explicit FileSink(platform::File& file) : file_(file) {}
    Result write(std::span<const std::uint8_t> bytes) noexcept override { return file_.write(bytes); }
    Result finish() noexcept override { return file_.close(); }

private:
    platform::File& file_;
};

// WinFile must not overwrite an input: same file, whatever the path (links
// included).
bool names_an_input(const std::string& win_path, const platform::FileIdentity& host,
                    const std::string& format_path) noexcept {
    platform::FileIdentity win;
    if (platform::path_identity(win_path, win) != Result::OK) return false;
    platform::FileIdentity format;
    return win == host || (platform::path_identity(format_path, format) == Result::OK && win == format);
}

FileConversion convert(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                       const std::string& format_path, unsigned threads, const std::atomic<bool>* stop) {
    platform::File host;
    platform::FileInfo info;
    if (host.open_input(host_path) != Result::OK || host.info(info) != Result::OK ||
        info.kind == platform::FileKind::DIRECTORY) {
        return {Result::CANNOT_OPEN, host_path};
    }
    // Only a regular file of F records has a size to check; a FIFO or a
    // device is read as a stream, and a trailing partial record is a read
    // error. V and VB records are checked by their descriptors.
    const auto record_length = static_cast<std::uint64_t>(format.record_length);
    if (info.kind == platform::FileKind::REGULAR && record_format(format) == RecordFormat::F &&
        info.size % record_length != 0) {
        return {Result::SIZE_MISMATCH, host_path};
    }
    if (names_an_input(win_path, info.identity, format_path)) return {Result::CANNOT_OPEN, win_path};
    ConvertOptions options;
    const bool small = info.kind == platform::FileKind::REGULAR && info.size < PARALLEL_FROM_SIZE;
    options.threads = threads != 0 ? threads : small ? 1 : std::max(1u, std::thread::hardware_concurrency());
    Converter converter;
    // The format was checked when it was loaded: only memory can run out.
    // It does so here, before WinFile is created or truncated.
    if (const FormatError opened = converter.open(format, options); opened.result != Result::OK) {
        return {opened.result, {}};
    }
    if (const Result prepared = converter.prepare_run(); prepared != Result::OK) return {prepared, {}};

    platform::File win;
    if (win.create_output(win_path) != Result::OK) return {Result::CANNOT_OPEN, win_path};
    FileSource file_source(host, stop);
    SizeCheckedSource checked(file_source, info.size);
    ByteSource& source = info.kind == platform::FileKind::REGULAR ? static_cast<ByteSource&>(checked) : file_source;
    FileSink sink(win);
    const Result result = converter.run(source, sink);
    return {result, {}, converter.record_fault()};
}

}  // namespace

ReadResult SizeCheckedSource::read(std::span<std::uint8_t> buffer) noexcept {
    ReadResult got = source_.read(buffer);
    if (got.count > left_) {
        got.count = static_cast<std::size_t>(left_);  // it grew: what was measured, and no more
        changed_ = true;
    } else if (got.result == Result::OK && got.count < buffer.size() && got.count < left_) {
        changed_ = true;  // it ended before its size
    }
    left_ -= got.count;
    if (changed_) got.result = Result::READ_ERROR;
    return got;
}

FileConversion convert_file(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                            const std::string& format_path, unsigned threads, const std::atomic<bool>* stop) noexcept {
    try {
        return convert(host_path, win_path, format, format_path, threads, stop);
    } catch (const std::bad_alloc&) {  // a path copied into the result
        return {Result::OUT_OF_MEMORY, {}};
    }
}

}  // namespace rekmo
