// Runs a program as a child process and collects what it reports.
#pragma once

#include <string>
#include <vector>

namespace rekmo::test {

struct ProcessResult {
    int status = -1;     // exit status (0-255 on POSIX); -1 if it did not exit normally
    std::string errors;  // everything written to standard error
};

// Runs argv[0] with the arguments and exactly the environment given (POSIX).
ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env);

// Runs the built rekmo with these operands, as the platform hands them over:
// POSIX in the C locale; Windows as the command line "rekmo_stderr.exe" and
// the operands joined by spaces, the test build that writes its message
// bytes to standard error. The status is the exit code (Windows: all of it,
// so -1 stays -1).
ProcessResult run_rekmo(const std::vector<std::string>& operands);

}  // namespace rekmo::test
