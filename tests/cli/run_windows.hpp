// Windows end-to-end helpers: a program started with a command line of the
// test's own making, exactly as the system will hand it over.
#pragma once

#include <string>

#include "cli/run.hpp"

namespace rekmo::test {

// The test build of rekmo (messages on standard error), beside the tests.
std::string test_program();

// Starts `application` with exactly `command_line`, standard input and
// output on NUL, and collects standard error and the whole exit code.
ProcessResult run_command_line(const std::string& application, const std::string& command_line);

}  // namespace rekmo::test
