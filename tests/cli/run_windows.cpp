#include "cli/run_windows.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>

namespace rekmo::test {

std::string test_program() {
    char self[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, n);
    return path.substr(0, path.find_last_of("\\/") + 1) + "rekmo_stderr.exe";
}

ProcessResult run_command_line(const std::string& application, const std::string& command_line) {
    ProcessResult result;
    result.status = INT_MIN;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
        return result;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    const HANDLE null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = null;
    startup.hStdError = write_end;
    PROCESS_INFORMATION process{};
    std::string line = command_line;  // CreateProcessA may write into it
    const BOOL started = CreateProcessA(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    const DWORD start_error = GetLastError();
    CloseHandle(write_end);
    CloseHandle(null);
    if (!started) {
        CloseHandle(read_end);
        ADD_FAILURE() << "cannot start " << application << ": " << start_error;
        return result;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) result.errors.append(buffer, got);
    CloseHandle(read_end);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

ProcessResult run_rekmo(const std::vector<std::string>& operands) {
    std::string line = "rekmo_stderr.exe";
    for (const std::string& operand : operands) line += " " + operand;
    return run_command_line(test_program(), line);
}

}  // namespace rekmo::test
