// Inside the format reader: the byte-level reader that both the file and
// the in-memory forms feed. Not part of the public API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "format/format.hpp"

namespace rekmo {

namespace detail {

// Reads format-file bytes as the file reader does (text mode: CR LF ends a
// line like LF, 0x1A ends the file; lines over 1023 bytes arrive as pieces
// of their own). Feed any split of the bytes, then finish().
class FormatReader {
public:
    explicit FormatReader(FormatDef& def) : def_(def) {}
    void feed(std::span<const std::uint8_t> bytes);  // may throw std::bad_alloc
    void finish();                                   // applies the record-length fallback
    bool ended() const noexcept { return at_eof_; }  // a 0x1A byte ended the text

private:
    void push(std::uint8_t c);
    void end_piece();
    void handle_line(std::span<std::uint8_t> line);

    FormatDef& def_;
    std::int64_t largest_end_ = -1;
    bool option_line(std::string_view line, std::string_view written);
    std::string written_;  // the line being handled, before normalising

    std::int32_t reclen_value_ = -1;
    HostCode host_code_ = HostCode::NONE;
    bool pending_cr_ = false;
    bool at_eof_ = false;  // a 0x1A byte was seen
    std::size_t piece_len_ = 0;
    std::uint8_t piece_[1024] = {};
};

// The one path from bytes to a checked format, for memory and files alike:
// `feed(reader)` hands the reader every byte, in any pieces, and returns OK,
// or CANNOT_OPEN when the bytes could not all be read.
template <class Feed>
FormatError read_format(FormatDef& def, Feed&& feed) noexcept {
    def = FormatDef{};
    try {
        FormatReader reader(def);
        if (const Result fed = feed(reader); fed != Result::OK) return FormatError{fed, 0, 0};
        reader.finish();
    } catch (const std::bad_alloc&) {
        return FormatError{Result::OUT_OF_MEMORY, 0, 0};
    }
    return check_format(def);
}

}  // namespace detail
}  // namespace rekmo
