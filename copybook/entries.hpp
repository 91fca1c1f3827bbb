// The data description entries of a copybook, as written: one per level
// number, before they are put into a tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "copybook/source.hpp"

namespace rekmo::copybook::detail {

enum class Usage { NONE, DISPLAY, PACKED, BINARY, COMP1, COMP2, POINTER, NATIONAL, DISPLAY1 };
// EDITED: a numeric or alphanumeric edited picture (Z,ZZ9.99, +9(8), 99/99/99):
// printed text on the host, read as such.
enum class Category { NONE, ALPHANUMERIC, NUMERIC, DOUBLE_BYTE, EDITED };
enum class SignPlace { NONE, LEADING, TRAILING };

struct Picture {
    std::string text;  // as written
    Category category = Category::NONE;
    std::int64_t chars = 0;   // X, A, N or G characters; EDITED: the printed length
    std::int64_t digits = 0;  // 9s
    bool sign = false;        // S was written
    bool comma = false;       // EDITED: a ',' the text can hold
    std::int64_t scale = 0;   // digits after the implied point; negative: zeros the P's stand for
    bool scaled = false;      // V or P was written
};

struct Entry {
    int level = 0;
    std::string name;  // upper-cased; FILLER when none was written
    Location at;       // of the level number
    Usage usage = Usage::NONE;
    std::string usage_text;
    bool has_picture = false;
    Picture picture;
    Location picture_at;
    SignPlace sign = SignPlace::NONE;
    bool sign_separate = false;
    std::int64_t occurs = 0;  // 0: no OCCURS; with DEPENDING ON, the most
    std::int64_t least = -1;  // OCCURS least TO most DEPENDING ON; -1: no TO
    bool depending = false;   // OCCURS ... DEPENDING ON `depending_on`
    std::string depending_on;
    Location depending_at;  // of the word DEPENDING
    std::string redefines;
    Location redefines_at;
    bool sync = false;
    std::vector<std::size_t> kids;  // subordinate entries, by index
    std::int64_t size = 0;          // bytes of one occurrence (capped)
};

// Reads the entries of the code text in order. `exact` (the format written
// with its SCALE and SIGN lines, not --plain): edited pictures are read, and
// P after V and digits, whose scale is unclear, is refused; otherwise edited
// pictures are refused and the rest is read as it always was. `variable`
// (V or VB records): OCCURS DEPENDING ON is read, not refused.
bool parse_entries(const Source& source, bool exact, bool variable, std::vector<Entry>& entries, Error& error);

// Reads a PICTURE character-string; `at` is where it stands.
bool parse_picture(const std::string& text, Location at, bool exact, Picture& picture, Error& error);

// Sizes are capped here: anything longer is refused as too long anyway.
inline constexpr std::int64_t SIZE_CAP = std::int64_t{MAX_RECORD_LENGTH} + 1;

}  // namespace rekmo::copybook::detail
