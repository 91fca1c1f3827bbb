// Converted Shift_JIS text (code page 932) shown on a UTF-8 terminal or in
// JSON: every byte either becomes the character it stands for or is spelled
// out as an escape, so that nothing is lost or sent raw to the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace rekmo {

enum class Escape {
    CONTROLS,                // a backslash in the text stays a single backslash
    CONTROLS_AND_BACKSLASH,  // it is written \\, so every escape reads back unambiguously
};

// Code page 932 bytes as UTF-8. Controls are written \n, \r, \t or \xHH;
// bytes that are no character (a lone or invalid lead byte, 80, A0, FD-FF, a
// pair with no character or in the user-defined area F0-F9) as \xHH each.
//   41 5C 0A  ->  A\\n  (CONTROLS_AND_BACKSLASH)
//   82 A0 B1  ->  あｱ
//   82 20     ->  \x82 followed by a space
std::string sjis_to_utf8(std::span<const std::uint8_t> sjis, Escape escape);

// UTF-8 text (a field under CSV=UTF8) as the display shows it: controls and
// bytes that form no character escaped as above, every character as it is.
std::string utf8_shown(std::span<const std::uint8_t> utf8, Escape escape);

// Text quoted from the command line (a path, an option) as the report and
// the messages show it, in UTF-8: on POSIX its bytes read as UTF-8, on
// Windows converted from the ANSI code page. Control characters and bytes
// that form no character are written \xHH each; a backslash stays, so that
// Windows paths read as usual.
//   1B 5B 32 4A 2E 62 69 6E  ->  \x1B[2J.bin
std::string shown_text(std::string_view text);

// Terminal columns of UTF-8 text: 2 for East Asian Wide and Fullwidth
// characters, 1 for any other character or malformed byte.
std::size_t display_width(std::string_view utf8);

}  // namespace rekmo
