// The file driver: HostFile converted into WinFile through the platform's
// files, as the rekmo command does it. It shows no message: it says what
// failed and which file, and the caller tells the user (the command shows
// rekmo's message, the Python module raises).
#pragma once

#include <atomic>
#include <string>

#include "format/format.hpp"
#include "rekmo/result.hpp"

namespace rekmo {

struct FileConversion {
    Result result = Result::OK;
    std::string path;  // CANNOT_OPEN and SIZE_MISMATCH: the file concerned
};

// Converts HostFile into WinFile with a checked format. FormatFile's path is
// given so that WinFile may never name it (empty when the format came from
// memory). `threads` 0 is the command's own choice: one thread below 4 MiB,
// else one per core. The result is OK, CANNOT_OPEN (HostFile missing,
// unreadable or a directory; WinFile cannot be created or names an input),
// SIZE_MISMATCH, READ_ERROR, WRITE_ERROR (WinFile keeps what was written) or
// OUT_OF_MEMORY (before WinFile is created).
//
// `stop`, when given, is read before each block of HostFile (another thread
// sets it to interrupt the run): once it is true nothing more is read, the
// lines of the records read so far are written and WinFile is closed, as at
// the end of a shorter input. Only the caller knows the run was cut short.
FileConversion convert_file(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                            const std::string& format_path, unsigned threads = 0,
                            const std::atomic<bool>* stop = nullptr) noexcept;

}  // namespace rekmo
