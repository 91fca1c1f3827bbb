// The entry routine: one run of the converter.
#pragma once

#include <string_view>
#include <vector>

#include "common/result.hpp"

namespace rekmo {

// Splits a command line at space bytes: runs of spaces separate tokens,
// leading and trailing spaces give none; tabs and quotes are ordinary bytes.
std::vector<std::string_view> split_command_line(std::string_view line);

// Which step of the run a result comes from.
enum class Step { COMMAND_LINE, FORMAT, CONVERSION };

// The exit status for a result: 0 converted, 2 a write to WinFile failed, -1
// FormatFile cannot be opened (seen as 255 where only 8 bits are kept), 1 any
// other failure.
int exit_status(Step step, Result result) noexcept;

// Runs the converter on the whole command line (program name first, then
// HostFile, WinFile and FormatFile). Shows at most one message and returns
// the exit status.
int app_main(std::string_view command_line) noexcept;

}  // namespace rekmo
