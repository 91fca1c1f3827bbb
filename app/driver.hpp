// The file driver: HostFile converted into WinFile.
#pragma once

#include <string>

#include "format/format.hpp"
#include "rekmo/result.hpp"

namespace rekmo {

// Converts HostFile into WinFile with a loaded format. FormatFile's path is
// given so that WinFile may never name it. Shows the message of a failure
// and returns its result: OK, CANNOT_OPEN, SIZE_MISMATCH, READ_ERROR,
// WRITE_ERROR or OUT_OF_MEMORY.
Result convert_file(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                    const std::string& format_path) noexcept;

}  // namespace rekmo
