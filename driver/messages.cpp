// Message templates. They are the program's own texts and are kept as the
// Shift_JIS (code page 932) bytes they are shown in; sources stay ASCII, so
// each is written in escapes with its meaning beside it. "\n" is a line break
// inside the message.
#include "driver/messages.hpp"

#include <charconv>

#include "platform/platform.hpp"

namespace rekmo {

std::string_view message_template(Result result) noexcept {
    switch (result) {
        case Result::OK:
            break;
        case Result::USAGE:
            return "Usage : Rekmo HostFile WinFile FormatFile";
        case Result::CANNOT_OPEN:
            // The input file cannot be opened. (path)
            return "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(%s)";
        case Result::SIZE_MISMATCH:
            // The record length of the input file does not match. (path length)
            return "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xCC\xDA\xBA\xB0\xC4\xDE\x92\xB7\x82\xAA\x8D\x87\x82\xA2"
                   "\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(%s %d)";
        case Result::READ_ERROR:
            // An error occurred while reading the input file.
            return "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xCC\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x92\x86\x82\xC9\xB4\xD7"
                   "\xB0\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";
        case Result::WRITE_ERROR:
            // An error occurred while writing to the output file.
            return "\x8F\x6F\x97\xCD\xCC\xA7\xB2\xD9\x82\xD6\x82\xCC\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x92\x86\x82\xC9"
                   "\xB4\xD7\xB0\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";
        case Result::ITEM_SIZE:
            // The item size of row %d is invalid.
            return "%d\x8D\x73\x82\xCC\x8D\x80\x96\xDA\xBB\xB2\xBD\xDE\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7\x81\x42";
        case Result::ITEM_TYPE:
            // The item type of row %d is invalid.
            return "%d\x8D\x73\x82\xCC\x8D\x80\x96\xDA\x8C\x5E\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7\x81\x42";
        case Result::ITEM_POSITION:
            // The item position of row %d is invalid.
            return "%d\x8D\x73\x82\xCC\x8D\x80\x96\xDA\x88\xCA\x92\x75\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7\x81\x42";
        case Result::RECORD_LENGTH:
            // The record length is invalid. (length)
            return "\xDA\xBA\xB0\xC4\xDE\x92\xB7\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7\x81\x42\n(%d)";
        case Result::HOST_CODE:
            // The host code is specified wrongly. (value)
            return "\xCE\xBD\xC4\xBA\xB0\xC4\xDE\x82\xCC\x8E\x77\x92\xE8\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7"
                   "\x81\x42\n(%s)";
        case Result::FORMAT_SIZE:
            // The format file is too large. (path)
            return "\xCC\xAB\xB0\xCF\xAF\xC4\xCC\xA7\xB2\xD9\x82\xAA\x91\xE5\x82\xAB\x82\xB7\x82\xAC\x82\xDC\x82\xB7"
                   "\x81\x42\n(%s)";
        case Result::OPTION:
            // The option is specified wrongly. (line)
            return "\xB5\xCC\xDF\xBC\xAE\xDD\x82\xCC\x8E\x77\x92\xE8\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7"
                   "\x81\x42\n(%s)";
        case Result::OUT_OF_MEMORY:
            // Memory is insufficient.
            return "\xD2\xD3\xD8\x82\xAA\x95\x73\x91\xAB\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x42";
        case Result::RECORD_KIND:
            // The record kind of record %d is invalid.
            return "%d\x8C\x8F\x96\xDA\x82\xCC\xDA\xBA\xB0\xC4\xDE\x8E\xED\x95\xCA\x82\xAA\x95\x73\x90\xB3\x82\xC5"
                   "\x82\xB7\x81\x42";
        case Result::RECORD_DESCRIPTOR:
            // The record length of record %d is invalid. (byte offset)
            return "%d\x8C\x8F\x96\xDA\x82\xCC\xDA\xBA\xB0\xC4\xDE\x92\xB7\x82\xAA\x95\x73\x90\xB3\x82\xC5"
                   "\x82\xB7\x81\x42\n(%d)";
    }
    return {};
}

std::vector<MessagePiece> format_message(Result result, std::initializer_list<MessageArg> args) {
    const std::string_view text = message_template(result);
    std::vector<MessagePiece> pieces;
    const MessageArg* next = args.begin();
    std::size_t literal_start = 0;
    auto flush_literal = [&](std::size_t end) {
        if (end > literal_start) pieces.push_back({std::string(text.substr(literal_start, end - literal_start)), true});
    };
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%' || (text[i + 1] != 's' && text[i + 1] != 'd')) continue;
        flush_literal(i);
        literal_start = i + 2;
        if (next == args.end()) continue;
        const MessageArg& arg = *next++;
        if (arg.is_number) {
            char digits[24];
            const auto res = std::to_chars(digits, digits + sizeof digits, arg.number);
            pieces.push_back({std::string(digits, res.ptr), false});
        } else {
            pieces.push_back({std::string(arg.text), false, arg.shift_jis});
        }
        ++i;
    }
    flush_literal(text.size());
    return pieces;
}

std::vector<MessagePiece> format_error_message(const FormatError& error, std::string_view format_path) {
    switch (error.result) {
        case Result::CANNOT_OPEN:
        case Result::FORMAT_SIZE:
            return format_message(error.result, {format_path});
        case Result::ITEM_SIZE:
        case Result::ITEM_TYPE:
        case Result::ITEM_POSITION:
            return format_message(error.result, {error.item_number});
        case Result::RECORD_LENGTH:
            return format_message(error.result, {error.record_length});
        case Result::HOST_CODE:
        case Result::OPTION:  // the value or line as the format file holds it
            return format_message(error.result, {MessageArg::shift_jis_text(error.value)});
        default:
            return format_message(error.result, {});
    }
}

std::vector<MessagePiece> gaiji_error_message(const GaijiLoad& load) {
    switch (load.result) {
        case Result::CANNOT_OPEN:
        case Result::FORMAT_SIZE:
            return format_message(load.result, {load.path});
        case Result::OPTION:
            return format_message(load.result, {gaiji_fault_value(load)});
        default:
            return format_message(load.result, {});
    }
}

namespace {

std::vector<platform::MessagePart> parts_of(const std::vector<MessagePiece>& pieces) {
    std::vector<platform::MessagePart> parts;
    parts.reserve(pieces.size());
    for (const MessagePiece& piece : pieces) parts.push_back({piece.bytes, piece.from_template, piece.shift_jis});
    return parts;
}

}  // namespace

std::string render_message(const std::vector<MessagePiece>& pieces, const std::string& codeset) {
    return platform::render_message(parts_of(pieces), codeset);
}

namespace {

// Shows a formatted message; without memory for it, the bare template.
template <class Format>
void show(Result result, Format format) noexcept {
    try {
        platform::show_message(parts_of(format()));
    } catch (const std::bad_alloc&) {
        const platform::MessagePart part{message_template(result), true};
        platform::show_message({&part, 1});
    }
}

}  // namespace

void report_message(Result result, std::initializer_list<MessageArg> args) noexcept {
    show(result, [&] { return format_message(result, args); });
}

void report_format_error(const FormatError& error, std::string_view format_path) noexcept {
    show(error.result, [&] { return format_error_message(error, format_path); });
}

void report_gaiji_error(const GaijiLoad& load) noexcept {
    show(load.result, [&] { return gaiji_error_message(load); });
}

}  // namespace rekmo
