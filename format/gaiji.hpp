// Gaiji tables: the characters a site gave the codes of its host's
// user-defined areas, which no public code table can know. A format names a
// table with a GAIJI= line; the table is a text file of one line per code:
//
//   # our gaiji (JEF)
//   8041  U+E000            the code in hex, blanks, the character
//   8042  U+9AD9            any character: this one is in no code page 932
//   8043  U+304B U+309A     several code points: a sequence
//
// A code is four hex digits for JEF and KEIS (each byte 40-FE) and two for
// EBCDIC (40-FE); `#` starts a comment; blank lines are skipped; CR LF and LF
// end lines alike. A table file holds at most 1 MiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "format/format.hpp"

namespace rekmo {

inline constexpr std::size_t MAX_GAIJI_FILE_SIZE = std::size_t{1} << 20;

// The longest text of one code in UTF-8: eight bytes for a code of two bytes
// (a kanji and a variation selector), four for a code of one (any one
// character), so that a field's text stays within four bytes per host byte.
inline constexpr std::size_t MAX_GAIJI_UTF8_PAIR = 8;
inline constexpr std::size_t MAX_GAIJI_UTF8_SINGLE = 4;

struct GaijiEntry {
    std::uint16_t code = 0;  // (lead << 8 | trail), or the byte
    std::u32string text;     // one code point, or a sequence
};

struct GaijiTable {
    GaijiCode code = GaijiCode::JEF;
    std::vector<GaijiEntry> entries;  // in code order
};

// Reads a table file's bytes as a table of `code`. Returns 0 when every line
// is good, else the 1-based number of the first line that is malformed,
// gives a code out of range or a code an earlier line gave. May throw
// std::bad_alloc.
std::size_t parse_gaiji_table(std::span<const std::uint8_t> bytes, GaijiCode code, GaijiTable& table);

// The UTF-8 of a text of code points (each one that parse_gaiji_table takes).
std::string gaiji_utf8(std::u32string_view text);

// What reading the tables of a format's GAIJI lines gave: OK, CANNOT_OPEN
// (`path` cannot be opened or read), FORMAT_SIZE (it goes on past
// MAX_GAIJI_FILE_SIZE), OPTION (line `line` of `path` is faulty) or
// OUT_OF_MEMORY.
struct GaijiLoad {
    Result result = Result::OK;
    std::string path;  // the table concerned, as it was opened
    std::size_t line = 0;
};

// Where a GAIJI line's table is: `path` as written when it is absolute, else
// in `folder` (the format file's folder, with its separator, or empty).
std::string gaiji_path(std::string_view folder, std::string_view path);

// The folder of a format file's path, with its separator: "" for a bare name.
std::string_view format_folder(std::string_view format_path) noexcept;

// Reads the table of every GAIJI line of a checked format into the line
// (OptionLine::gaiji_table), relative paths from `folder`. Stops at the
// first fault. Never throws.
GaijiLoad load_gaiji_tables(FormatDef& def, std::string_view folder) noexcept;

// The message value of an OPTION fault of a table: its path and line number.
std::string gaiji_fault_value(const GaijiLoad& load);

}  // namespace rekmo
