// The record layout read from a format file: one ItemDef per item line, in
// file order, and the record length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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

// The words of CSV= lines: how the whole file is written.
enum CsvWord : std::uint8_t {
    CSV_QUOTE = 1u << 0,   // fields holding '"', ',', CR or LF enclosed in '"'; empty texts as ""
    CSV_HEADER = 1u << 1,  // a first line with the output items' names
    CSV_EXACT = 1u << 2,   // every P and Z item printed exactly from its digits
    CSV_TRIM = 1u << 3,    // trailing spaces (20, 81 40) removed from texts
    CSV_UTF8 = 1u << 4,    // WinFile in UTF-8: each text the code page 932 decoding of its Shift_JIS
    CSV_BOM = 1u << 5,     // with UTF8: the byte-order mark EF BB BF first
};

// How the Z items named in a SIGN= line keep their sign.
enum class SignForm : std::uint8_t {
    TRAILING,           // in the zone of the last byte (no SIGN line)
    LEADING,            // in the zone of the first byte
    LEADING_SEPARATE,   // a sign byte of its own first: 60 '-', 4E '+'
    TRAILING_SEPARATE,  // the same, last
};

// How the host file holds its records (RECFM=): F (or FB) records of the
// record length one after another; V records each led by a record
// descriptor word (its length with those 4 bytes, big-endian, then 00 00);
// VB the same records in blocks, each led by a block descriptor word.
enum class RecordFormat : std::uint8_t { F, V, VB };

// The largest record a V or VB file holds without RECLEN=: the 4-byte
// descriptor word included, as its length counts it.
inline constexpr std::int32_t MAX_VARIABLE_RECORD = 32760;

// A line that is none of the items but sets an option for the file (CSV=,
// RECFM=), for the P and Z items of one name (SCALE=, SIGN=, DIGITS=), or
// starts the items of one record kind (KIND=). Such a line is read so only
// where it would be refused as an item line: a format that converted before
// these lines existed keeps its meaning.
enum class OptionKind : std::uint8_t { CSV, SCALE, SIGN, DIGITS, KIND, RECFM, GAIJI };

// The host code a GAIJI= line's table is written in: which items it applies
// to (format/gaiji.hpp).
enum class GaijiCode : std::uint8_t {
    JEF,     // F and FN items: codes of two bytes
    KEIS,    // K and KN items: codes of two bytes
    EBCDIC,  // E items and the single-byte stretches of K and F: codes of one byte
};

struct GaijiTable;  // format/gaiji.hpp

// The test of a KIND= line: the record's bytes at `start` (0-based), read as
// an E item (or compared raw for X'..'), equal `value`.
struct KindTest {
    std::int64_t start = 0;
    std::int32_t length = 0;
    std::string value;  // as written, trailing spaces removed; X'..': the bytes
    bool raw = false;   // X'..'
};

struct OptionLine {
    OptionKind kind = OptionKind::CSV;
    std::string text;                    // the line as read (normalised, without leading spaces): the message shows it
    std::size_t items_before = 0;        // item lines before it: faults are told in line order
    bool well_formed = false;            // the right number of fields, each one known
    std::uint8_t words = 0;              // CSV: CsvWord bits
    std::string name;                    // SCALE, SIGN, DIGITS: the items' name, as names are kept
    std::int32_t scale = 0;              // SCALE: implied decimal places, -300 to 300
    SignForm sign = SignForm::TRAILING;  // SIGN
    KindTest kind_test;                  // KIND
    RecordFormat record_format = RecordFormat::F;  // RECFM
    GaijiCode gaiji_code = GaijiCode::JEF;         // GAIJI
    std::string path;                              // GAIJI: the table's path as written
    // GAIJI: the table as load_gaiji_tables read it (format/gaiji.hpp);
    // null until then.
    std::shared_ptr<const GaijiTable> gaiji_table;
};

// Why an option line is refused (NONE: it is not).
enum class OptionFault : std::uint8_t {
    NONE,
    MALFORMED,         // a wrong number of fields, an empty or unknown word, a scale out of range
    NO_ITEM,           // its name names no P or Z item (SIGN: no Z item)
    SIGN_OF_PACKED,    // SIGN for a name that a P item has
    REPEATED,          // a second SCALE, SIGN or DIGITS line for the name
    DIGITS_AND_SCALE,  // DIGITS and SCALE for the same name
    BOM_WITHOUT_UTF8,  // a CSV line with BOM, and no CSV line with UTF8
    KIND_REPEATED,     // KIND: an earlier line gives the same start, length and value
    KIND_PAST_RECORD,  // KIND: its bytes end past the record length (F) or the record limit (V, VB)
    HEADER_AND_KIND,   // CSV=HEADER and KIND= in one format: one header cannot name every kind
    GAIJI_REPEATED,    // GAIJI: a second table for the same host code
};

// What the option lines make of one item: only P and Z items take them.
struct ItemForm {
    bool exact = false;   // printed exactly (CSV=EXACT, or any line naming it)
    bool digits = false;  // DIGITS: a code
    std::int32_t scale = 0;
    SignForm sign = SignForm::TRAILING;
};

struct ItemDef {
    std::string name;           // field 0 as normalised; never written out
    std::int64_t start = 0;     // 0-based offset: the 1-based position minus 1
    std::int32_t length = 0;    // bytes in the record; negative lengths pass
    ItemType type = ITEM_NONE;  // from field 3
    std::int32_t output = 0;    // non-zero: the item's text goes to WinFile
};

struct FormatDef {
    std::vector<ItemDef> items;           // in the order of the item lines
    std::int32_t record_length = -1;      // after loading: RECLEN, else the largest end
    bool record_length_given = false;     // a RECLEN line with a value above 0 decided it
    HostCode host_code = HostCode::NONE;  // the last HOSTCODE line's
    // The first HOSTCODE line naming no host code page: its value, and how
    // many item lines came before it (faults are told in line order).
    bool host_code_faulty = false;
    std::string host_code_fault;
    std::size_t host_code_fault_items = 0;
    std::size_t host_code_fault_options = 0;  // option lines before it
    std::vector<OptionLine> options;          // CSV, SCALE, SIGN and DIGITS lines, in line order
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
// ITEM_POSITION, HOST_CODE, OPTION, RECORD_LENGTH or OUT_OF_MEMORY (the item
// table could not grow). Only the first fault is told, in this order: the
// first faulty item, HOSTCODE line or option line, in line order (of an item,
// its size, then its type, then its position), then the record length.
struct FormatError {
    Result result = Result::OK;
    std::int64_t item_number = 0;    // 1-based item line number, for the ITEM_ results
    std::int32_t record_length = 0;  // for RECORD_LENGTH
    std::string value = {};          // for HOST_CODE: the value the line gave; for OPTION: the line
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

// The fault of each option line, in line order: each judged against the
// items and the option lines before it that are not refused. May throw
// std::bad_alloc.
std::vector<OptionFault> option_faults(const FormatDef& def);

// The CsvWord bits of every CSV line that is not refused.
std::uint8_t csv_words(const FormatDef& def) noexcept;

// One ItemForm per item, from the lines that are not refused. May throw
// std::bad_alloc.
std::vector<ItemForm> item_forms(const FormatDef& def);

// The record format of the last RECFM line that is not refused, else F.
RecordFormat record_format(const FormatDef& def) noexcept;

// The largest record of a V or VB file: RECLEN when given, else
// MAX_VARIABLE_RECORD (descriptor word included); for F the record length.
std::int32_t record_limit(const FormatDef& def) noexcept;

// The KIND lines that are not refused, in file order; with them, each
// kind's item lines: those after its line, up to the next KIND line. Item
// lines before the first KIND line convert the records that match no kind.
struct KindBlock {
    const OptionLine* line = nullptr;
    std::size_t first_item = 0;  // index in FormatDef::items
    std::size_t end_item = 0;
};
std::vector<KindBlock> kind_blocks(const FormatDef& def);  // may throw std::bad_alloc

// A kind's code written X'hex' (X and the digits in either case), as KIND
// lines and rekmo-copybook's --kind take it: true when `value` has that
// form; then `bytes` holds its bytes, or is empty when the digits make no
// whole bytes (none, an odd count, a letter past F).
bool hex_value(std::string_view value, std::string& bytes);

}  // namespace rekmo
