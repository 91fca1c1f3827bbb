// A COBOL copybook read as a record layout, and that layout written as a
// format file. Bytes in, a layout or one located error out: no files, no
// messages on screen. Names keep their bytes (Shift_JIS included); ASCII
// letters are upper-cased outside double-byte characters, as the format
// reader does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/format.hpp"

namespace rekmo::copybook {

// Fixed form: sequence area 1-6, indicator 7, code 8-72. Free form: code in
// any column. DETECT looks at the text.
enum class SourceForm { DETECT, FIXED, FREE };

// The host's double-byte code, for items of that kind.
enum class Kanji { NONE, KEIS, JEF };

// The RECFM line written (--recfm): none, or how the host file holds its
// records. V and VB records may end in an OCCURS DEPENDING ON table.
enum class RecordForm { NONE, F, FB, V, VB };

// One --kind option: the 01 record whose layout converts the records that
// hold `value` in the --kind-at field.
struct KindOption {
    std::string record;  // as names are kept
    std::string value;   // Shift_JIS text, or the bytes of X'..'
    bool raw = false;    // X'..': compared as bytes
};

struct Options {
    SourceForm form = SourceForm::DETECT;
    Kanji kanji = Kanji::NONE;                            // PIC N and G, NATIONAL, DISPLAY-1: KN or FN
    Kanji mixed = Kanji::NONE;                            // PIC X and A: K or F instead of E
    std::vector<std::string> redefines;                   // redefining entries written in place of the first
    std::vector<std::pair<std::string, ItemType>> types;  // an entry's items get this type
    std::vector<std::string> omit;                        // an entry's items get output 0
    std::vector<std::string> digits;                      // an entry's P and Z items are codes: DIGITS=
    std::uint8_t csv_words = 0;                           // CsvWord bits to write besides EXACT
    RecordForm recfm = RecordForm::NONE;
    // Several 01 records as record kinds: one KIND= block per option, the
    // code read from the field `kind_at`; `kind_other` the record whose
    // items convert the records of no kind (empty: none).
    std::vector<KindOption> kinds;
    std::string kind_at;
    std::string kind_other;
    // The format as it was written before the option lines: no CSV, SCALE,
    // SIGN or DIGITS lines, a sign byte out of place as an E item of its
    // own, edited pictures refused.
    bool plain = false;
    std::size_t max_items = 1'000'000;  // more items are refused
};

struct Location {
    std::int64_t line = 0;    // 1-based
    std::int64_t column = 0;  // 1-based, in bytes
};

// Why a copybook is refused: COPYBOOK (status 1 for the tool) when the text is
// no layout rekmo can read, OPTION (status 2) when an option does not fit it.
enum class Fault { NONE, COPYBOOK, OPTION };

struct Error {
    Fault fault = Fault::NONE;
    Location at;  // line 0: no place in the copybook
    std::string message;
};

struct Warning {
    Location at;
    std::string message;
};

// One line of the written format: an item with a comment above it, or a
// comment alone (item.length 0), or with `kind` a KIND= line that starts the
// items of one record kind. `form` is what the option lines make of the
// item, as the format reader will give it back: the SCALE, SIGN and DIGITS
// lines of a name are written after its first item.
struct Line {
    std::string comment;
    ItemDef item;
    ItemForm form = {};
    std::optional<KindTest> kind = {};
};

struct Layout {
    std::vector<Line> lines;
    std::int32_t record_length = 0;        // of the longest record's data (V: without its RDW)
    RecordForm recfm = RecordForm::NONE;   // the RECFM line's
    std::uint8_t csv_words = 0;            // the CSV line's words (CsvWord bits); 0: no such line
    std::string record;                    // the record written (its name and level); with kinds, empty
    std::string kinds;                     // with kinds: where the code is, as the header says it
    SourceForm form = SourceForm::DETECT;  // as read: FIXED or FREE
    std::vector<Warning> warnings;
};

// Reads the copybook. On failure `error` says where and why, once.
bool read_copybook(std::span<const std::uint8_t> text, const Options& options, Layout& layout, Error& error);

// The format file text: `header` lines as comments, RECFM, RECLEN (with a
// V record's RDW), the CSV line, then each line, the option lines of a name
// after its first item.
std::string format_text(const Layout& layout, const std::vector<std::string>& header);

// Loads `text` back with the format reader: true when rekmo accepts it and
// reads exactly the layout's items, their forms, the CSV words, the record
// format and length, and its KIND lines before the items they should.
bool reads_back(std::string_view text, const Layout& layout, Error& error);

// The value of a KIND line: the text, or X'..' with the bytes in hex.
std::string kind_value(std::string_view value, bool raw);

// Two items printed alike: the same options give them the same text.
bool same_form(const ItemForm& a, const ItemForm& b);

// Upper-cases ASCII letters outside Shift_JIS double-byte characters.
std::string upper_name(std::string_view bytes);

// A byte that an E item's text can hold and a KIND line can carry: one the
// host single-byte table gives, other than the comma that splits the line.
bool kind_text_byte(std::uint8_t byte);

// The largest data of a V record: the limit without RECLEN, less its RDW.
inline constexpr std::int32_t MAX_VARIABLE_DATA = MAX_VARIABLE_RECORD - 4;

}  // namespace rekmo::copybook
