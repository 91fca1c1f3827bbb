// The messages Rekmo shows, one per failure Result: their templates, the
// substitution of their arguments, and showing them through the platform's
// display. rekmo shows them; rekmo-inspect gives the same texts in its
// reports.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "format/format.hpp"
#include "format/gaiji.hpp"

namespace rekmo {

// The template as stored: Shift_JIS (code page 932) bytes with %s and %d;
// empty for OK. The arguments: CANNOT_OPEN and FORMAT_SIZE a path;
// SIZE_MISMATCH a path and the record length; ITEM_SIZE, ITEM_TYPE and
// ITEM_POSITION the item number; RECORD_LENGTH the record length; HOST_CODE
// the value; OPTION the line; RECORD_KIND the record number;
// RECORD_DESCRIPTOR the record number and the byte offset; the others none.
std::string_view message_template(Result result) noexcept;

// An argument for a %s (bytes quoted from input: a path as the system gives
// it, or with `shift_jis` a value read from a format file) or a %d (a
// number). Shown, its control bytes and bytes that are no text are escaped.
struct MessageArg {
    MessageArg(std::string_view bytes) : text(bytes) {}
    MessageArg(const std::string& bytes) : text(bytes) {}
    MessageArg(const char* bytes) : text(bytes) {}
    MessageArg(std::int64_t value) : number(value), is_number(true) {}
    MessageArg(int value) : number(value), is_number(true) {}
    static MessageArg shift_jis_text(std::string_view bytes) {
        MessageArg arg(bytes);
        arg.shift_jis = true;
        return arg;
    }
    std::string_view text;
    std::int64_t number = 0;
    bool is_number = false;
    bool shift_jis = false;
};

struct MessagePiece {
    std::string bytes;
    bool from_template = true;
    bool shift_jis = false;  // an argument in Shift_JIS
};

// The template with each %s and %d replaced by the next argument, as pieces
// that tell template text from inserted arguments. A directive without an
// argument is dropped. May throw std::bad_alloc.
std::vector<MessagePiece> format_message(Result result, std::initializer_list<MessageArg> args);

// The message of a format that failed to load from `format_path`.
std::vector<MessagePiece> format_error_message(const FormatError& error, std::string_view format_path);

// The message of a gaiji table that failed to load: the cannot-open or
// too-large message naming it, or the option message with its name and the
// faulty line's number.
std::vector<MessagePiece> gaiji_error_message(const GaijiLoad& load);

// The message as the display for `codeset` ("UTF-8", ...) would show it.
std::string render_message(const std::vector<MessagePiece>& pieces, const std::string& codeset);

// Formats a message and shows it; returns when it has been shown. Without
// memory to format it, the bare template is shown.
void report_message(Result result, std::initializer_list<MessageArg> args = {}) noexcept;
void report_format_error(const FormatError& error, std::string_view format_path) noexcept;
void report_gaiji_error(const GaijiLoad& load) noexcept;

}  // namespace rekmo
