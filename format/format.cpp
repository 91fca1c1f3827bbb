// Format file reader. A format file is single-byte text (ASCII and half-width
// katakana) in which Shift_JIS pairs may stand, mostly in item names:
//
//   # customer master          comment: '#' after any leading spaces
//   RECLEN=120                 record length; the last RECLEN line wins
//   HOSTCODE=JEF               host code page (JEF, KEIS78, KEIS83); the last wins
//   CUSTNO,1,8,E,1             name,position,length,type,output
//   KANJI,14,40,KN,1
//   CSV=QUOTE,HEADER           how the file is written: QUOTE HEADER EXACT TRIM
//   SCALE=AMOUNT,2             P and Z items of that name: implied decimals,
//   SIGN=AMOUNT,LEADING        where a Z item keeps its sign,
//   DIGITS=CUSTNO              or every digit of a code
//   RECFM=VB                   record format: F (FB), V or VB
//   KIND=1,1,2                 start,length,value: the items after it convert
//                              the records whose bytes there read as the value
//   GAIJI=JEF,gaiji/jef.txt    the site's own characters for codes of JEF,
//                              KEIS or EBCDIC (format/gaiji.hpp); the path
//                              keeps its case, from the format file's folder
//
// The last seven are read so only where the line would be refused as an item
// (CSV=QUOTE has no length): SCALE=A,1,3,P,1 is still an item named SCALE=A.
// Lines are read in pieces of at most 1023 bytes, each handled as a line of
// its own. Everything is byte-wise ASCII: the C locale is never consulted.
#include "format/format.hpp"
#include "format/reader.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>

namespace rekmo {
namespace {

constexpr std::uint8_t LINE_FEED = 0x0A;
constexpr std::uint8_t CARRIAGE_RETURN = 0x0D;
constexpr std::uint8_t END_OF_FILE_MARK = 0x1A;  // text mode ends the file here
constexpr std::size_t MAX_PIECE = 1023;          // bytes per line read
constexpr std::size_t SHORT_LINE = 3;            // shorter lines are skipped
constexpr std::string_view RECLEN_KEY = "RECLEN=";
constexpr std::string_view HOST_CODE_KEY = "HOSTCODE=";
constexpr std::size_t ITEM_FIELDS = 5;   // name,start,length,type,output
constexpr std::int32_t MAX_SCALE = 300;  // implied decimal places either way: a Z item's digits at most

constexpr bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A Shift_JIS double-byte character: a lead byte 81-9F or E0-FC, then a
// trail byte 40-7E or 80-FC.
constexpr bool is_sjis_pair(std::uint8_t a, std::uint8_t b) noexcept {
    const bool lead = (a >= 0x81 && a <= 0x9F) || (a >= 0xE0 && a <= 0xFC);
    const bool trail = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
    return lead && trail;
}

// Upper-cases a-z and drops line feeds, leaving Shift_JIS pairs untouched,
// so that keywords and type letters may be written in either case while
// names keep their bytes. Returns the new length.
std::size_t normalise_line(std::span<std::uint8_t> line) noexcept {
    const std::size_t n = line.size();
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b = line[i];
        if (i + 1 < n && is_sjis_pair(b, line[i + 1])) {
            line[out++] = b;
            line[out++] = line[i + 1];
            i += 2;
            continue;
        }
        if (b != LINE_FEED) line[out++] = (b >= 'a' && b <= 'z') ? static_cast<std::uint8_t>(b - 0x20) : b;
        ++i;
    }
    return out;
}

// The line without its leading 0x20 bytes (tabs stay).
std::string_view strip_leading_spaces(std::string_view line) noexcept {
    const std::size_t first = line.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view{} : line.substr(first);
}

// Splits an item line at commas into `fields`; fields beyond fields.size()
// are ignored. A comma is never part of a Shift_JIS pair (0x2C is neither a
// lead nor a trail byte), so splitting at every comma keeps pairs whole.
void split_fields(std::string_view line, std::span<std::string_view> fields) noexcept {
    std::size_t begin = 0;
    for (std::string_view& field : fields) {
        const std::size_t comma = line.find(',', begin);
        const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
        field = line.substr(begin, end - begin);
        if (comma == std::string_view::npos) return;
        begin = comma + 1;
    }
}

// Value of a numeric field: leading white space, an optional sign, then
// decimal digits up to the first non-digit; no digits gives 0. Saturates to
// the signed 32-bit range.
std::int32_t field_value(std::string_view field) noexcept {
    constexpr std::int64_t LIMIT = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::size_t i = 0;
    while (i < field.size() && is_blank(field[i])) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    std::int64_t magnitude = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        magnitude = std::min(magnitude * 10 + (field[i] - '0'), LIMIT);
    const std::int64_t value = negative ? -magnitude : std::min(magnitude, LIMIT - 1);
    return static_cast<std::int32_t>(value);
}

// E P Z J F FN K KN by the first one or two bytes; anything else is none.
ItemType item_type_of(std::string_view field) noexcept {
    if (field.empty()) return ITEM_NONE;
    const bool n_follows = field.size() > 1 && field[1] == 'N';
    switch (field[0]) {
        case 'E':
            return ITEM_EBCDIC;
        case 'P':
            return ITEM_PACKED;
        case 'Z':
            return ITEM_ZONED;
        case 'J':
            return ITEM_JIS;
        case 'F':
            return n_follows ? ITEM_JEF_N : ITEM_JEF;
        case 'K':
            return n_follows ? ITEM_KEIS_N : ITEM_KEIS;
        default:
            return ITEM_NONE;
    }
}

// The value of a HOSTCODE line, without blanks around it.
std::string_view trim_blanks(std::string_view value) noexcept {
    while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
    return value;
}

// JEF, KEIS78 or KEIS83 (the line is upper-cased already); NONE for others.
HostCode host_code_of(std::string_view value) noexcept {
    if (value == "JEF") return HostCode::JEF;
    if (value == "KEIS78") return HostCode::KEIS78;
    if (value == "KEIS83") return HostCode::KEIS83;
    return HostCode::NONE;
}

// The keyword lines of the options, each with the kind it gives.
struct OptionKey {
    std::string_view key;
    OptionKind kind;
};
constexpr OptionKey OPTION_KEYS[] = {
    {"CSV=", OptionKind::CSV},       {"SCALE=", OptionKind::SCALE}, {"SIGN=", OptionKind::SIGN},
    {"DIGITS=", OptionKind::DIGITS}, {"KIND=", OptionKind::KIND},   {"RECFM=", OptionKind::RECFM},
    {"GAIJI=", OptionKind::GAIJI},
};

struct CsvWordName {
    std::string_view name;
    CsvWord word;
};
constexpr CsvWordName CSV_WORDS[] = {{"QUOTE", CSV_QUOTE}, {"HEADER", CSV_HEADER}, {"EXACT", CSV_EXACT},
                                     {"TRIM", CSV_TRIM},   {"UTF8", CSV_UTF8},     {"BOM", CSV_BOM}};

// The CsvWord a word names, or 0.
std::uint8_t csv_word_of(std::string_view word) noexcept {
    for (const CsvWordName& w : CSV_WORDS) {
        if (w.name == word) return w.word;
    }
    return 0;
}

// A scale: an optional sign and decimal digits, nothing else, within
// -MAX_SCALE to MAX_SCALE.
bool scale_of(std::string_view field, std::int32_t& scale) noexcept {
    bool negative = false;
    if (!field.empty() && (field[0] == '+' || field[0] == '-')) {
        negative = field[0] == '-';
        field.remove_prefix(1);
    }
    if (field.empty()) return false;
    std::int32_t magnitude = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return false;
        magnitude = std::min(magnitude * 10 + (c - '0'), MAX_SCALE + 1);
    }
    if (magnitude > MAX_SCALE) return false;
    scale = negative ? -magnitude : magnitude;
    return true;
}

// LEADING, LEADING SEPARATE or TRAILING SEPARATE, the words separated by
// any blanks.
bool sign_form_of(std::string_view field, SignForm& form) noexcept {
    std::string_view words[3];
    std::size_t count = 0;
    while (true) {
        field = trim_blanks(field);
        if (field.empty()) break;
        if (count == std::size(words)) return false;
        std::size_t end = 0;
        while (end < field.size() && !is_blank(field[end])) ++end;
        words[count++] = field.substr(0, end);
        field.remove_prefix(end);
    }
    if (count == 1 && words[0] == "LEADING") {
        form = SignForm::LEADING;
    } else if (count == 2 && words[1] == "SEPARATE" && (words[0] == "LEADING" || words[0] == "TRAILING")) {
        form = words[0] == "LEADING" ? SignForm::LEADING_SEPARATE : SignForm::TRAILING_SEPARATE;
    } else {
        return false;
    }
    return true;
}

// Reads the value of an option line (after its '=') into `option`; false
// when it is malformed.
bool read_option(std::string_view value, OptionLine& option) {
    std::string_view fields[3];
    std::size_t count = 0;
    for (std::size_t begin = 0;;) {
        const std::size_t comma = value.find(',', begin);
        const std::string_view field = trim_blanks(value.substr(begin, comma - begin));
        if (option.kind == OptionKind::CSV) {
            const std::uint8_t word = csv_word_of(field);
            if (word == 0) return false;  // an empty or unknown word
            option.words |= word;
        } else if (count == std::size(fields)) {
            return false;
        } else {
            fields[count] = field;
        }
        ++count;
        if (comma == std::string_view::npos) break;
        begin = comma + 1;
    }
    switch (option.kind) {
        case OptionKind::CSV:
            return true;
        case OptionKind::SCALE:
            option.name.assign(fields[0]);
            return count == 2 && scale_of(fields[1], option.scale);
        case OptionKind::SIGN:
            option.name.assign(fields[0]);
            return count == 2 && sign_form_of(fields[1], option.sign);
        case OptionKind::DIGITS:
            option.name.assign(fields[0]);
            return count == 1;
        case OptionKind::RECFM:
            if (count != 1) return false;
            if (fields[0] == "F" || fields[0] == "FB") {
                option.record_format = RecordFormat::F;
            } else if (fields[0] == "V" || fields[0] == "VB") {
                option.record_format = fields[0] == "V" ? RecordFormat::V : RecordFormat::VB;
            } else {
                return false;
            }
            return true;
        case OptionKind::KIND:
        case OptionKind::GAIJI:
            break;  // read_kind, read_gaiji
    }
    return false;
}

// A count of bytes: decimal digits alone, 1 to MAX_RECORD_LENGTH.
bool count_of(std::string_view field, std::int64_t& count) noexcept {
    if (field.empty() || field.size() > 9) return false;
    count = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return false;
        count = count * 10 + (c - '0');
    }
    return count >= 1 && count <= MAX_RECORD_LENGTH;
}

// Reads the value of a KIND line as written (the value keeps its case: an
// E item can hold lower-case letters under some host code pages):
// start,length,value, or X'hex' as the value for the raw bytes. False when
// malformed: not three fields, a start or length that is no count, a value
// longer than the length (X'..': of another length).
bool read_kind(std::string_view written, OptionLine& option) {
    std::string_view fields[3];
    std::size_t count = 0;
    for (std::size_t begin = 0;;) {
        const std::size_t comma = written.find(',', begin);
        if (count == std::size(fields)) return false;
        fields[count++] = trim_blanks(written.substr(begin, comma - begin));
        if (comma == std::string_view::npos) break;
        begin = comma + 1;
    }
    std::int64_t start = 0, length = 0;
    if (count != 3 || !count_of(fields[0], start) || !count_of(fields[1], length)) return false;
    if (start - 1 + length > MAX_RECORD_LENGTH) return false;
    KindTest& test = option.kind_test;
    test.start = start - 1;
    test.length = static_cast<std::int32_t>(length);
    std::string_view value = fields[2];
    if (hex_value(value, test.value)) {
        test.raw = true;
        return !test.value.empty() && test.value.size() == static_cast<std::size_t>(test.length);
    }
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    test.value.assign(value);
    return test.value.size() <= static_cast<std::size_t>(test.length);
}

// Reads the value of a GAIJI line: CODE,path, exactly two fields, blanks
// around each removed. The code is read from the normalised line (JEF, KEIS,
// EBCDIC in either case), the path from the line as written: it keeps its
// case. False when malformed.
bool read_gaiji(std::string_view line, std::string_view written, OptionLine& option) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos || line.find(',', comma + 1) != std::string_view::npos) return false;
    const std::string_view code = trim_blanks(line.substr(0, comma));
    if (code == "JEF") {
        option.gaiji_code = GaijiCode::JEF;
    } else if (code == "KEIS") {
        option.gaiji_code = GaijiCode::KEIS;
    } else if (code == "EBCDIC") {
        option.gaiji_code = GaijiCode::EBCDIC;
    } else {
        return false;
    }
    // Normalising keeps every byte's place: the comma stands at the same
    // place in the line as written.
    option.path.assign(trim_blanks(written.substr(comma + 1)));
    return !option.path.empty();
}

}  // namespace

bool hex_value(std::string_view value, std::string& bytes) {
    if (value.size() < 3 || (value[0] != 'X' && value[0] != 'x') || value[1] != '\'' || value.back() != '\'')
        return false;
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    const std::string_view hex = value.substr(2, value.size() - 3);
    bytes.clear();
    if (hex.size() % 2 != 0) return true;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) {
            bytes.clear();
            return true;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

Result item_fault(const ItemDef& item) noexcept {
    if (item.length == 0 || item.length > MAX_RECORD_LENGTH) return Result::ITEM_SIZE;
    if (item.type == ITEM_ZONED && item.length > MAX_ZONED_LENGTH) return Result::ITEM_SIZE;
    if (item.type == ITEM_PACKED && item.length > MAX_PACKED_LENGTH) return Result::ITEM_SIZE;
    if (item.type == ITEM_NONE) return Result::ITEM_TYPE;
    const std::int64_t end = item.start + std::max(item.length, std::int32_t{0});
    if (item.start < 0 || end > MAX_RECORD_LENGTH) return Result::ITEM_POSITION;
    return Result::OK;
}

// --- FormatReader ---------------------------------------------------------

namespace detail {

// Text-mode translation first: a CR is held back until the next byte shows
// whether it ends a CR LF pair (then it is dropped); 0x1A ends the file.
void FormatReader::feed(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t c : bytes) {
        if (at_eof_) return;
        if (c == END_OF_FILE_MARK) {
            if (pending_cr_) push(CARRIAGE_RETURN);
            pending_cr_ = false;
            at_eof_ = true;
            return;
        }
        if (pending_cr_) {
            pending_cr_ = false;
            if (c != LINE_FEED) push(CARRIAGE_RETURN);
        }
        if (c == CARRIAGE_RETURN) {
            pending_cr_ = true;
            continue;
        }
        push(c);
    }
}

void FormatReader::push(std::uint8_t c) {
    piece_[piece_len_++] = c;
    if (c == LINE_FEED || piece_len_ == MAX_PIECE) end_piece();
}

void FormatReader::end_piece() {
    std::span<std::uint8_t> line(piece_, piece_len_);
    piece_len_ = 0;
    if (!line.empty() && line.back() == LINE_FEED) line = line.first(line.size() - 1);
    // From here the line is zero-terminated text: a 0x00 byte ends it.
    const auto zero = std::find(line.begin(), line.end(), std::uint8_t{0});
    handle_line(line.first(static_cast<std::size_t>(zero - line.begin())));
}

void FormatReader::handle_line(std::span<std::uint8_t> raw) {
    // The line as written, for the values that keep their case (KIND=):
    // normalising keeps every byte's place, since no line feed is left in it.
    written_.assign(reinterpret_cast<const char*>(raw.data()), raw.size());
    const std::size_t n = normalise_line(raw);
    const std::string_view line = strip_leading_spaces({reinterpret_cast<const char*>(raw.data()), n});
    if (line.size() < SHORT_LINE || line[0] == '#') return;

    if (line.starts_with(RECLEN_KEY)) {
        // "RECLEN=" then a word; no word (or no digits) counts as 0.
        reclen_value_ = field_value(line.substr(RECLEN_KEY.size()));
        return;
    }
    if (line.starts_with(HOST_CODE_KEY)) {
        // Such a line was an item of length 0 before, refused: no format that
        // converted changes meaning.
        const std::string_view value = trim_blanks(line.substr(HOST_CODE_KEY.size()));
        const HostCode code = host_code_of(value);
        if (code != HostCode::NONE) {
            host_code_ = code;
        } else if (!def_.host_code_faulty) {
            def_.host_code_faulty = true;
            def_.host_code_fault.assign(value);
            def_.host_code_fault_items = def_.items.size();
            def_.host_code_fault_options = def_.options.size();
        }
        return;
    }

    std::string_view fields[ITEM_FIELDS];
    split_fields(line, fields);
    ItemDef item;
    item.name.assign(fields[0]);
    item.start = std::int64_t{field_value(fields[1])} - 1;
    item.length = field_value(fields[2]);
    item.type = item_type_of(fields[3]);
    item.output = field_value(fields[4]);
    // Only a line refused as an item can be an option line.
    const std::string_view written = std::string_view(written_).substr(n - line.size());
    if (item_fault(item) != Result::OK && option_line(line, written)) return;
    largest_end_ = std::max(largest_end_, item.start + item.length);
    def_.items.push_back(std::move(item));
}

bool FormatReader::option_line(std::string_view line, std::string_view written) {
    for (const OptionKey& key : OPTION_KEYS) {
        if (!line.starts_with(key.key)) continue;
        OptionLine option;
        option.kind = key.kind;
        option.items_before = def_.items.size();
        if (key.kind == OptionKind::KIND) {
            // Shown as written: its value is compared so.
            option.text.assign(written);
            option.well_formed = read_kind(written.substr(key.key.size()), option);
            // The bytes it tests are part of the record.
            if (option.well_formed) {
                largest_end_ = std::max(largest_end_, option.kind_test.start + option.kind_test.length);
            }
        } else if (key.kind == OptionKind::GAIJI) {
            // Shown as written: its path keeps its case.
            option.text.assign(written);
            option.well_formed = read_gaiji(line.substr(key.key.size()), written.substr(key.key.size()), option);
        } else {
            option.text.assign(line);
            option.well_formed = read_option(line.substr(key.key.size()), option);
        }
        def_.options.push_back(std::move(option));
        return true;
    }
    return false;
}

void FormatReader::finish() {
    if (pending_cr_) push(CARRIAGE_RETURN);
    pending_cr_ = false;
    if (piece_len_ > 0) end_piece();
    def_.host_code = host_code_;
    if (reclen_value_ >= 1) {
        def_.record_length = reclen_value_;
        def_.record_length_given = true;
    } else {
        // No usable RECLEN: the record ends where the furthest item ends.
        constexpr std::int64_t INT_MAX32 = std::numeric_limits<std::int32_t>::max();
        def_.record_length = static_cast<std::int32_t>(std::clamp<std::int64_t>(largest_end_, -INT_MAX32, INT_MAX32));
        def_.record_length_given = false;
    }
}

}  // namespace detail

// --- Options --------------------------------------------------------------

namespace {

// What the items of one name are, and what the option lines accepted so far
// gave it.
struct NameUse {
    bool packed = false, zoned = false;
    bool scale = false, sign = false, digits = false;
};

// The names of the P and Z items, for the option lines to be judged by.
std::unordered_map<std::string_view, NameUse> number_names(const FormatDef& def) {
    std::unordered_map<std::string_view, NameUse> names;
    for (const ItemDef& item : def.items) {
        if (item.type != ITEM_PACKED && item.type != ITEM_ZONED) continue;
        NameUse& use = names[item.name];
        (item.type == ITEM_PACKED ? use.packed : use.zoned) = true;
    }
    return names;
}

OptionFault judge(const OptionLine& option, NameUse* use) noexcept {
    if (!option.well_formed) return OptionFault::MALFORMED;
    if (option.kind == OptionKind::CSV || option.kind == OptionKind::RECFM) return OptionFault::NONE;
    if (use == nullptr) return OptionFault::NO_ITEM;
    switch (option.kind) {
        case OptionKind::SCALE:
            if (use->scale) return OptionFault::REPEATED;
            if (use->digits) return OptionFault::DIGITS_AND_SCALE;
            use->scale = true;
            break;
        case OptionKind::SIGN:
            if (use->packed) return OptionFault::SIGN_OF_PACKED;
            if (!use->zoned) return OptionFault::NO_ITEM;
            if (use->sign) return OptionFault::REPEATED;
            use->sign = true;
            break;
        case OptionKind::DIGITS:
            if (use->digits) return OptionFault::REPEATED;
            if (use->scale) return OptionFault::DIGITS_AND_SCALE;
            use->digits = true;
            break;
        case OptionKind::CSV:
        case OptionKind::KIND:
        case OptionKind::RECFM:
        case OptionKind::GAIJI:
            break;
    }
    return OptionFault::NONE;
}

}  // namespace

std::vector<OptionFault> option_faults(const FormatDef& def) {
    std::vector<OptionFault> faults;
    if (def.options.empty()) return faults;
    faults.reserve(def.options.size());
    auto names = number_names(def);
    // The bytes a kind's test may reach: the record (F), or the data of the
    // largest record (V, VB).
    const std::int64_t reach =
        record_format(def) == RecordFormat::F ? std::int64_t{def.record_length} : std::int64_t{record_limit(def)} - 4;
    std::vector<const KindTest*> kinds;
    bool header = false;
    // A byte-order mark belongs to UTF-8 alone: the words of every line count.
    const bool utf8 = (csv_words(def) & CSV_UTF8) != 0;
    bool gaiji[3] = {};  // a table for JEF, KEIS, EBCDIC so far
    for (const OptionLine& option : def.options) {
        OptionFault fault = OptionFault::NONE;
        if (option.kind == OptionKind::GAIJI) {
            bool& seen = gaiji[static_cast<int>(option.gaiji_code)];
            if (!option.well_formed) {
                fault = OptionFault::MALFORMED;
            } else if (seen) {
                fault = OptionFault::GAIJI_REPEATED;
            }
            seen = seen || option.well_formed;
        } else if (option.kind == OptionKind::KIND) {
            const KindTest& test = option.kind_test;
            const auto same = [&](const KindTest* k) {
                return k->start == test.start && k->length == test.length && k->raw == test.raw &&
                       k->value == test.value;
            };
            if (!option.well_formed) {
                fault = OptionFault::MALFORMED;
            } else if (header) {
                fault = OptionFault::HEADER_AND_KIND;
            } else if (std::any_of(kinds.begin(), kinds.end(), same)) {
                fault = OptionFault::KIND_REPEATED;
            } else if (test.start + test.length > reach) {
                fault = OptionFault::KIND_PAST_RECORD;
            } else {
                kinds.push_back(&test);
            }
        } else if (option.kind == OptionKind::CSV || option.kind == OptionKind::RECFM) {
            fault = judge(option, nullptr);
            if (fault == OptionFault::NONE && (option.words & CSV_HEADER) != 0) {
                if (!kinds.empty()) fault = OptionFault::HEADER_AND_KIND;
                header = true;
            }
            if (fault == OptionFault::NONE && (option.words & CSV_BOM) != 0 && !utf8)
                fault = OptionFault::BOM_WITHOUT_UTF8;
        } else {
            const auto found = names.find(option.name);
            fault = judge(option, found == names.end() ? nullptr : &found->second);
        }
        faults.push_back(fault);
    }
    return faults;
}

RecordFormat record_format(const FormatDef& def) noexcept {
    RecordFormat format = RecordFormat::F;
    for (const OptionLine& option : def.options) {
        if (option.kind == OptionKind::RECFM && option.well_formed) format = option.record_format;
    }
    return format;
}

std::int32_t record_limit(const FormatDef& def) noexcept {
    if (record_format(def) == RecordFormat::F) return def.record_length;
    return def.record_length_given ? def.record_length : MAX_VARIABLE_RECORD;
}

std::vector<KindBlock> kind_blocks(const FormatDef& def) {
    std::vector<KindBlock> blocks;
    for (const OptionLine& option : def.options) {
        if (option.kind != OptionKind::KIND || !option.well_formed) continue;
        if (!blocks.empty()) blocks.back().end_item = option.items_before;
        blocks.push_back({&option, option.items_before, def.items.size()});
    }
    return blocks;
}

std::uint8_t csv_words(const FormatDef& def) noexcept {
    std::uint8_t words = 0;
    for (const OptionLine& option : def.options) {
        if (option.kind == OptionKind::CSV && option.well_formed) words |= option.words;
    }
    return words;
}

std::vector<ItemForm> item_forms(const FormatDef& def) {
    std::vector<ItemForm> forms(def.items.size());
    const bool exact = (csv_words(def) & CSV_EXACT) != 0;
    std::unordered_map<std::string_view, ItemForm> named;
    const std::vector<OptionFault> faults = option_faults(def);
    for (std::size_t j = 0; j < def.options.size(); ++j) {
        const OptionLine& option = def.options[j];
        const bool named_option =
            option.kind == OptionKind::SCALE || option.kind == OptionKind::SIGN || option.kind == OptionKind::DIGITS;
        if (!named_option || faults[j] != OptionFault::NONE) continue;
        ItemForm& form = named[option.name];
        form.exact = true;
        if (option.kind == OptionKind::SCALE) form.scale = option.scale;
        if (option.kind == OptionKind::SIGN) form.sign = option.sign;
        if (option.kind == OptionKind::DIGITS) form.digits = true;
    }
    for (std::size_t i = 0; i < def.items.size(); ++i) {
        const ItemDef& item = def.items[i];
        if (item.type != ITEM_PACKED && item.type != ITEM_ZONED) continue;
        if (const auto found = named.find(item.name); found != named.end()) forms[i] = found->second;
        forms[i].exact = forms[i].exact || exact;
        if (item.type == ITEM_PACKED) forms[i].sign = SignForm::TRAILING;
    }
    return forms;
}

// --- Checks ---------------------------------------------------------------

FormatError check_format(const FormatDef& def) noexcept {
    const auto with_value = [](Result result, const std::string& value) noexcept {
        FormatError error{result, 0, 0};
        try {
            error.value = value;
        } catch (const std::bad_alloc&) {
            error.result = Result::OUT_OF_MEMORY;
        }
        return error;
    };
    std::vector<OptionFault> option_fault;
    try {
        option_fault = option_faults(def);
    } catch (const std::bad_alloc&) {
        return FormatError{Result::OUT_OF_MEMORY, 0, 0};
    }
    // The lines that are no items, in line order, up to item i: the first
    // faulty one, or none.
    std::size_t next_option = 0;
    const auto fault_before = [&](std::size_t i) noexcept -> std::optional<FormatError> {
        while (true) {
            if (def.host_code_faulty && def.host_code_fault_items <= i && def.host_code_fault_options <= next_option) {
                return with_value(Result::HOST_CODE, def.host_code_fault);
            }
            if (next_option == def.options.size() || def.options[next_option].items_before > i) return std::nullopt;
            if (option_fault[next_option] != OptionFault::NONE) {
                return with_value(Result::OPTION, def.options[next_option].text);
            }
            ++next_option;
        }
    };
    for (std::size_t i = 0; i < def.items.size(); ++i) {
        if (auto fault = fault_before(i)) return *fault;
        const Result fault = item_fault(def.items[i]);
        if (fault != Result::OK) return FormatError{fault, static_cast<std::int64_t>(i) + 1, 0};
    }
    if (auto fault = fault_before(SIZE_MAX)) return *fault;
    if (def.host_code_faulty) return with_value(Result::HOST_CODE, def.host_code_fault);
    if (def.host_code > HostCode::KEIS83) return FormatError{Result::HOST_CODE, 0, 0};
    if (def.record_length < 1 || def.record_length > MAX_RECORD_LENGTH) {
        return FormatError{Result::RECORD_LENGTH, 0, def.record_length};
    }
    return FormatError{};
}

FormatError parse_format(std::span<const std::uint8_t> text, FormatDef& def) noexcept {
    return detail::read_format(def, [&](detail::FormatReader& reader) {
        reader.feed(text);
        return Result::OK;
    });
}

}  // namespace rekmo
