// The record layout read from a format file: one ItemDef per item line, in
// file order, and the record length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "common/result.hpp"

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

// The host code page a HOSTCODE= line names: which tables replace the fixed
// arithmetic and single-byte table (see codec/host_code.hpp). NONE converts
// as the format file's items always have.
enum class HostCode : std::uint8_t {
    NONE,    // no HOSTCODE line
    JEF,     // F, FN, E and the single-byte stretches of F through the JEF tables
    KEIS78,  // K, KN (1978 ordering), E and the single-byte stretches of K through the KEIS tables
    KEIS83,  // the same in the 1983 ordering
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
    HostCode host_code = HostCode::NONE;  // the last HOSTCODE line's
    // The first HOSTCODE line naming no host code page: its value, and how
    // many item lines came before it (faults are told in line order).
    bool host_code_faulty = false;
    std::string host_code_fault;
    std::size_t host_code_fault_items = 0;
};

// Limits beyond which a format is refused: records longer than 16 MiB are
// not host data, and a number of more digits than a Z item of 300 bytes (or
// a P item of 150) holds could leave the range of a double.
inline constexpr std::int32_t MAX_RECORD_LENGTH = 16 * 1024 * 1024;
inline constexpr std::int32_t MAX_ZONED_LENGTH = 300;
inline constexpr std::int32_t MAX_PACKED_LENGTH = 150;

// A format file is small: reading stops after this many bytes (a byte bound,
// since a device that gives only zero bytes or line feeds gives no items).
inline constexpr std::uint64_t MAX_FORMAT_FILE_SIZE = 16 * 1024 * 1024;

// The outcome of reading or checking a format: OK, CANNOT_OPEN (the file
// cannot be opened or read, also a directory), FORMAT_SIZE (the file goes on
// past MAX_FORMAT_FILE_SIZE bytes before any 0x1A), ITEM_SIZE, ITEM_TYPE,
// ITEM_POSITION, HOST_CODE, RECORD_LENGTH or OUT_OF_MEMORY (the item table
// could not grow). Only the first fault is told, in this order: the first
// faulty item or HOSTCODE line, in line order (of an item, its size, then its
// type, then its position), then the record length.
struct FormatError {
    Result result = Result::OK;
    std::int64_t item_number = 0;    // 1-based item line number, for the ITEM_ results
    std::int32_t record_length = 0;  // for RECORD_LENGTH
    std::string value = {};          // for HOST_CODE: the value the line gave
};

// Reads and checks format-file bytes held in memory. `def` is replaced by
// what was read; after a fault it keeps the items read. Never throws.
FormatError parse_format(std::span<const std::uint8_t> text, FormatDef& def) noexcept;

// The same for the format file at `path`, read in binary: CR LF and LF end
// lines alike, and 0x1A ends the file, on every platform (nothing after it is
// read). A file that goes on past MAX_FORMAT_FILE_SIZE bytes is FORMAT_SIZE.
FormatError load_format(const std::string& path, FormatDef& def) noexcept;

// Checks a format built any other way, as reading checks it.
FormatError check_format(const FormatDef& def) noexcept;

// The first fault of one item (ITEM_SIZE, ITEM_TYPE or ITEM_POSITION), or OK.
Result item_fault(const ItemDef& item) noexcept;

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
