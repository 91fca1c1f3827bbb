// The entry routine: one run of the converter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/messages.hpp"
#include "format/format.hpp"

namespace rekmo {

// The message rekmo shows for a format that fails to load (none for NONE).
std::vector<MessagePiece> format_error_message(const FormatError& error, const std::string& format_path);

// Splits a command line at space bytes: runs of spaces separate tokens,
// leading and trailing spaces give none; tabs and quotes are ordinary bytes.
std::vector<std::string_view> split_command_line(std::string_view line);

// Runs the converter on the whole command line (program name first, then
// HostFile, WinFile and FormatFile). Shows at most one message and returns
// the exit status: 0 success, 1 failure, 2 write failure, -1 FormatFile
// cannot be opened.
int app_main(std::string_view command_line) noexcept;

}  // namespace rekmo
