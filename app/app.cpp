#include "app/app.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "driver/driver.hpp"
#include "driver/messages.hpp"
#include "format/format.hpp"
#include "format/gaiji.hpp"

namespace rekmo {
namespace {

constexpr std::size_t EXPECTED_TOKENS = 4;  // program, HostFile, WinFile, FormatFile

// The file driver's result, shown as the one message of the run.
Result convert_and_report(const std::string& host_path, const std::string& win_path, const FormatDef& format,
                          const std::string& format_path) {
    const FileConversion done = convert_file(host_path, win_path, format, format_path);
    switch (done.result) {
        case Result::OK:
            break;
        case Result::CANNOT_OPEN:
            report_message(done.result, {done.path});
            break;
        case Result::SIZE_MISMATCH:
            report_message(done.result, {done.path, format.record_length});
            break;
        case Result::RECORD_KIND:
            report_message(done.result, {static_cast<std::int64_t>(done.fault.record)});
            break;
        case Result::RECORD_DESCRIPTOR:
            report_message(done.result, {static_cast<std::int64_t>(done.fault.record),
                                         static_cast<std::int64_t>(done.fault.offset)});
            break;
        default:
            report_message(done.result);
    }
    return done.result;
}

int run(std::string_view command_line) {
    const std::vector<std::string_view> tokens = split_command_line(command_line);
    if (tokens.size() != EXPECTED_TOKENS) {
        report_message(Result::USAGE);
        return exit_status(Step::COMMAND_LINE, Result::USAGE);
    }
    const std::string host_path(tokens[1]);
    const std::string win_path(tokens[2]);
    const std::string format_path(tokens[3]);

    FormatDef format;
    const FormatError loaded = load_format(format_path, format);
    if (loaded.result != Result::OK) {
        report_format_error(loaded, format_path);
        return exit_status(Step::FORMAT, loaded.result);
    }
    // The site's gaiji tables, from the format file's folder: their faults
    // end the run (status 1) before HostFile is touched.
    if (const GaijiLoad tables = load_gaiji_tables(format, format_folder(format_path)); tables.result != Result::OK) {
        report_gaiji_error(tables);
        return exit_status(Step::CONVERSION, tables.result);
    }
    return exit_status(Step::CONVERSION, convert_and_report(host_path, win_path, format, format_path));
}

}  // namespace

std::vector<std::string_view> split_command_line(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (true) {
        i = line.find_first_not_of(' ', i);
        if (i == std::string_view::npos) return tokens;
        const std::size_t end = std::min(line.find(' ', i), line.size());
        tokens.push_back(line.substr(i, end - i));
        i = end;
    }
}

int exit_status(Step step, Result result) noexcept {
    switch (result) {
        case Result::OK:
            return 0;
        case Result::WRITE_ERROR:
            return 2;
        case Result::CANNOT_OPEN:
            return step == Step::FORMAT ? -1 : 1;
        default:
            return 1;
    }
}

int app_main(std::string_view command_line) noexcept {
    try {
        return run(command_line);
    } catch (const std::bad_alloc&) {
        report_message(Result::OUT_OF_MEMORY);
        return exit_status(Step::COMMAND_LINE, Result::OUT_OF_MEMORY);
    }
}

}  // namespace rekmo
