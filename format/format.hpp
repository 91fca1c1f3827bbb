// The record layout read from a format file: one ItemDef per item line, in
// file order, and the record length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rekmo {

// How an item's bytes are decoded; the value is the type code of the format.
enum ItemType : std::int32_t {
    ITEM_NONE = 0,    // unknown type letter: rejected when the format is checked
    ITEM_EBCDIC = 1,  // E: host single-byte text
    ITEM_PACKED = 2,  // P: packed decimal
    ITEM_ZONED = 3,   // Z: zoned decimal
    ITEM_JIS = 4,     // J: 7-bit JIS with escape sequences
    ITEM_JEF = 5,     // F: JEF mixed with single-byte text
    ITEM_JEF_N = 6,   // FN: JEF double-byte only
    ITEM_KEIS = 7,    // K: KEIS mixed with single-byte text
    ITEM_KEIS_N = 8,  // KN: KEIS double-byte only
};

struct ItemDef {
    std::string name;           // field 0 as normalised; never written out
    std::int64_t start = 0;     // 0-based offset: the 1-based position minus 1
    std::int32_t length = 0;    // bytes in the record; negative lengths pass
    ItemType type = ITEM_NONE;  // from field 3
    std::int32_t output = 0;    // non-zero: the item's text goes to WinFile
};

struct FormatDef {
    std::vector<ItemDef> items;        // in the order of the item lines
    std::int32_t record_length = -1;   // after loading: RECLEN, else the largest end
    bool record_length_given = false;  // a RECLEN line with a value above 0 decided it
};

// Limits beyond which a format is refused: numbers longer than these could
// leave the range of a double, records longer than 16 MiB are not host data.
inline constexpr std::int32_t MAX_RECORD_LENGTH = 16 * 1024 * 1024;
inline constexpr std::int32_t MAX_ZONED_LENGTH = 300;
inline constexpr std::int32_t MAX_PACKED_LENGTH = 150;

// What is wrong with a format file, in the order the checks are made.
enum class FormatFault {
    NONE,           // loaded and valid
    CANNOT_OPEN,    // the file cannot be opened or read (also: a directory)
    ITEM_SIZE,      // length 0, above 16 MiB, a Z item above 300 or a P item above 150 bytes
    ITEM_TYPE,      // the type field names no known type
    ITEM_POSITION,  // position below 1, or the item ends beyond 16 MiB
    RECORD_LENGTH,  // final record length below 1 or above 16 MiB
    OUT_OF_MEMORY,  // the item table could not grow
};

struct FormatError {
    FormatFault fault = FormatFault::NONE;
    std::int64_t item_number = 0;    // 1-based item line number for the ITEM_ faults
    std::int32_t record_length = 0;  // for RECORD_LENGTH
};

// --- Line reader steps (pure; exposed for tests and tools) ---

// True when (a, b) is a Shift_JIS double-byte character: a in 81-9F or E0-FC,
// b in 40-7E or 80-FC.
constexpr bool is_sjis_pair(std::uint8_t a, std::uint8_t b) noexcept {
    const bool lead = (a >= 0x81 && a <= 0x9F) || (a >= 0xE0 && a <= 0xFC);
    const bool trail = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
    return lead && trail;
}

// Upper-cases a-z and drops line feeds, leaving Shift_JIS pairs untouched.
// Returns the new length; the line shrinks or stays.
std::size_t normalise_line(std::span<std::uint8_t> line) noexcept;

// The line without its leading 0x20 bytes (tabs stay).
std::string_view strip_leading_spaces(std::string_view line) noexcept;

// Splits an item line at commas into `fields`; returns how many fields the
// line has (fields beyond fields.size() are counted but not stored).
std::size_t split_fields(std::string_view line, std::span<std::string_view> fields) noexcept;

// Value of a numeric field: leading white space, an optional sign, then
// decimal digits up to the first non-digit; no digits gives 0. Saturates to
// the signed 32-bit range.
std::int32_t field_value(std::string_view field) noexcept;

// Item type from the (normalised) type field: E P Z J F FN K KN by its first
// one or two bytes; anything else is ITEM_NONE.
ItemType item_type_of(std::string_view field) noexcept;

// First fault of one item, or NONE: size, then type, then position.
FormatFault item_fault(const ItemDef& item) noexcept;

// --- Whole format ---

// Reads format-file bytes as the file reader does (text mode: CR LF ends a
// line like LF, 0x1A ends the file; lines over 1023 bytes arrive as pieces).
// Feed any split of the bytes, then finish().
class FormatReader {
public:
    explicit FormatReader(FormatDef& def) : def_(def) {}
    void feed(std::span<const std::uint8_t> bytes);  // may throw std::bad_alloc
    void finish();                                   // applies the record-length fallback

private:
    void push(std::uint8_t c);
    void end_piece();
    void handle_line(std::span<std::uint8_t> line);

    FormatDef& def_;
    std::int64_t largest_end_ = -1;
    std::int32_t reclen_value_ = -1;
    bool pending_cr_ = false;
    bool at_eof_ = false;  // a 0x1A byte was seen
    std::size_t piece_len_ = 0;
    std::uint8_t piece_[1024] = {};
};

// Validates a read format: the first faulty item, then the record length.
FormatError check_format(const FormatDef& def) noexcept;

// Reads and checks format-file bytes held in memory.
// Returns 0 (valid) or 1 (fault in `error`); never throws.
int parse_format(std::span<const std::uint8_t> text, FormatDef& def, FormatError& error) noexcept;

// Reads and checks the format file at `path`. Returns 0 (valid), 1 (a fault,
// described in `error`) or -1 (the file cannot be opened or read). The caller
// reports the fault; the items read so far stay in `def`. Never throws.
int load_format(const std::string& path, FormatDef& def, FormatError& error) noexcept;

}  // namespace rekmo
