// The file driver: HostFile converted into WinFile through the platform's
// files, as the rekmo command does it. It shows no message: it says what
// failed and which file, and the caller tells the user (the command shows
// rekmo's message, the Python module raises).
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "common/result.hpp"
#include "format/format.hpp"
#include "platform/platform.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo {

// An open file as a source of host records. `stop`, when given, ends the
// input between two blocks once another thread sets it: the records read
// before it are still converted and written.
class FileSource final : public ByteSource {
public:
    explicit FileSource(platform::File& file, const std::atomic<bool>* stop = nullptr) noexcept
        : file_(file), stop_(stop) {}
    ReadResult read(std::span<std::uint8_t> buffer) noexcept override {
        if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) return {};
        return file_.read(buffer);
    }

private:
    platform::File& file_;
    const std::atomic<bool>* stop_;
};

// A source read against the size it had when it was measured. A file that
// another program cuts or extends meanwhile (a transfer overwriting it) gives
// fewer or more bytes than the size said: a read error, never a conversion
// that looks complete. Bytes past the measured size are not passed on.
class SizeCheckedSource final : public ByteSource {
public:
    SizeCheckedSource(ByteSource& source, std::uint64_t size) noexcept : source_(source), left_(size) {}
    ReadResult read(std::span<std::uint8_t> buffer) noexcept override;
    // True once the source ended before the size or went on past it.
    bool changed() const noexcept { return changed_; }

private:
    ByteSource& source_;
    std::uint64_t left_;
    bool changed_ = false;
};

struct FileConversion {
    Result result = Result::OK;
    std::string path;        // CANNOT_OPEN and SIZE_MISMATCH: the file concerned
    RecordFault fault = {};  // RECORD_KIND and RECORD_DESCRIPTOR: where the run stopped
};

// Converts HostFile into WinFile with a checked format. FormatFile's path is
// given so that WinFile may never name it (empty when the format came from
// memory). `threads` 0 is the command's own choice: one thread below 4 MiB,
// else one per core. The result is OK, CANNOT_OPEN (HostFile missing,
// unreadable or a directory; WinFile cannot be created or names an input),
// SIZE_MISMATCH, READ_ERROR (also a regular file whose size changed while it
// was read), RECORD_KIND (a record of no kind), RECORD_DESCRIPTOR (a V or VB
// file's descriptors), WRITE_ERROR (WinFile keeps what was written) or
// OUT_OF_MEMORY (before WinFile is created).
//
// `stop`, when given, is read before each block of HostFile (another thread
// sets it to interrupt the run): once it is true nothing more is read, the
// lines of the records read so far are written and WinFile is closed. The
// input then ends before its measured size, so the result is READ_ERROR;
// only the caller knows the run was cut short on purpose.
FileConversion convert_file(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                            const std::string& format_path, unsigned threads = 0,
                            const std::atomic<bool>* stop = nullptr) noexcept;

}  // namespace rekmo
