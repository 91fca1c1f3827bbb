// The messages Rekmo shows, their templates and their substitution.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace rekmo {

enum class Message {
    USAGE,                   // the command line does not name three files
    CANNOT_OPEN,             // a file cannot be opened (%s: its path)
    RECORD_LENGTH_MISMATCH,  // HostFile's size is no multiple of the record length (%s %d)
    READ_ERROR,              // reading HostFile failed, or it ended inside a record
    WRITE_ERROR,             // writing, flushing or closing WinFile failed
    ITEM_SIZE,               // item %d: invalid size
    ITEM_TYPE,               // item %d: invalid type
    ITEM_POSITION,           // item %d: invalid position
    RECORD_LENGTH_INVALID,   // the record length %d is out of range
    OUT_OF_MEMORY,           // memory ran out
};

// The template as stored: Shift_JIS (code page 932) bytes with %s and %d.
std::string_view message_template(Message id) noexcept;

// An argument for a %s (bytes, inserted as they are) or a %d (a number).
struct MessageArg {
    MessageArg(std::string_view bytes) : text(bytes) {}
    MessageArg(const std::string& bytes) : text(bytes) {}
    MessageArg(const char* bytes) : text(bytes) {}
    MessageArg(std::int64_t value) : number(value), is_number(true) {}
    MessageArg(int value) : number(value), is_number(true) {}
    std::string_view text;
    std::int64_t number = 0;
    bool is_number = false;
};

struct MessagePiece {
    std::string bytes;
    bool from_template = true;
};

// The template with each %s and %d replaced by the next argument, as pieces
// that tell template text from inserted arguments. A directive without an
// argument is dropped.
std::vector<MessagePiece> format_message(Message id, std::initializer_list<MessageArg> args);

// All pieces joined: the message's bytes.
std::string message_bytes(const std::vector<MessagePiece>& pieces);

// Shows a formatted message; returns when it has been shown. May throw
// std::bad_alloc.
void show_message_pieces(const std::vector<MessagePiece>& pieces);

// The message as the display for `codeset` ("UTF-8", ...) would show it.
std::string render_message_pieces(const std::vector<MessagePiece>& pieces, const std::string& codeset);

// Formats the message and shows it; returns when it has been shown.
void report_message(Message id, std::initializer_list<MessageArg> args = {}) noexcept;

}  // namespace rekmo
