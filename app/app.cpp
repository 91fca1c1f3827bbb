#include "app/app.hpp"

#include <algorithm>
#include <new>

#include "app/convert.hpp"
#include "app/messages.hpp"
#include "format/format.hpp"

namespace rekmo {
namespace {

constexpr std::size_t EXPECTED_TOKENS = 4;  // program, HostFile, WinFile, FormatFile

int run(std::string_view command_line) {
    const std::vector<std::string_view> tokens = split_command_line(command_line);
    if (tokens.size() != EXPECTED_TOKENS) {
        report_message(Message::USAGE);
        return RESULT_FAILURE;
    }
    const std::string host_path(tokens[1]);
    const std::string win_path(tokens[2]);
    const std::string format_path(tokens[3]);

    FormatDef format;
    FormatError error;
    const int loaded = load_format(format_path, format, error);
    if (loaded != 0) {
        show_message_pieces(format_error_message(error, format_path));
        return loaded;
    }
    return convert_file(host_path, win_path, format, format_path);
}

}  // namespace

std::vector<MessagePiece> format_error_message(const FormatError& error, const std::string& format_path) {
    switch (error.fault) {
        case FormatFault::NONE:
            break;
        case FormatFault::CANNOT_OPEN:
            return format_message(Message::CANNOT_OPEN, {format_path});
        case FormatFault::ITEM_SIZE:
            return format_message(Message::ITEM_SIZE, {error.item_number});
        case FormatFault::ITEM_TYPE:
            return format_message(Message::ITEM_TYPE, {error.item_number});
        case FormatFault::ITEM_POSITION:
            return format_message(Message::ITEM_POSITION, {error.item_number});
        case FormatFault::RECORD_LENGTH:
            return format_message(Message::RECORD_LENGTH_INVALID, {error.record_length});
        case FormatFault::OUT_OF_MEMORY:
            return format_message(Message::OUT_OF_MEMORY, {});
    }
    return {};
}

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

int app_main(std::string_view command_line) noexcept {
    try {
        return run(command_line);
    } catch (const std::bad_alloc&) {
        report_message(Message::OUT_OF_MEMORY);
        return RESULT_FAILURE;
    }
}

}  // namespace rekmo
