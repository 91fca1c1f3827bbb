// The report as aligned tables for a terminal, or as JSON for scripts. All
// Shift_JIS text (item names, converted text) is shown in UTF-8 with control
// bytes escaped.
#include <algorithm>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "driver/messages.hpp"
#include "inspect/display.hpp"
#include "inspect/inspect.hpp"
#include "rekmo/version.hpp"

namespace rekmo::inspect {
namespace {

constexpr std::size_t HEX_PER_LINE = 16;  // bytes per line of an item's hex under its row

std::string display(std::string_view sjis) {
    return sjis_to_utf8({reinterpret_cast<const std::uint8_t*>(sjis.data()), sjis.size()},
                        Escape::CONTROLS_AND_BACKSLASH);
}

// A field as the display shows it: UTF-8 under CSV=UTF8, else Shift_JIS.
std::string display_field(std::string_view text, const FormatDef& format) {
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return (csv_words(format) & CSV_UTF8) != 0 ? utf8_shown(bytes, Escape::CONTROLS_AND_BACKSLASH)
                                               : sjis_to_utf8(bytes, Escape::CONTROLS_AND_BACKSLASH);
}

}  // namespace

std::string hex_text(std::span<const std::uint8_t> bytes, const char* separator) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out += separator;
        out += DIGITS[bytes[i] >> 4];
        out += DIGITS[bytes[i] & 0x0F];
    }
    return out;
}

namespace {

const char* type_letter(ItemType type) noexcept {
    static constexpr const char* LETTERS[] = {"?", "E", "P", "Z", "J", "F", "FN", "K", "KN"};
    const auto i = static_cast<std::size_t>(type);
    return i < std::size(LETTERS) ? LETTERS[i] : "?";
}

const char* host_code_name(HostCode code) noexcept {
    switch (code) {
        case HostCode::JEF:
            return "JEF";
        case HostCode::KEIS78:
            return "KEIS78";
        case HostCode::KEIS83:
            return "KEIS83";
        case HostCode::NONE:
            break;
    }
    return "";
}

// What a HOSTCODE line changes, in words.
const char* host_code_scope(HostCode code) noexcept {
    return code == HostCode::JEF ? "F and FN through the JEF tables, E and F's single bytes through JEF's EBCDIK"
           : code == HostCode::KEIS78
               ? "K and KN through the KEIS 1978 tables, E and K's single bytes through KEIS's EBCDIK"
               : "K and KN through the KEIS 1983 tables, E and K's single bytes through KEIS's EBCDIK";
}

const char* fault_name(Result fault) noexcept {
    switch (fault) {
        case Result::ITEM_SIZE:
            return "size";
        case Result::ITEM_TYPE:
            return "type";
        case Result::ITEM_POSITION:
            return "position";
        case Result::RECORD_LENGTH:
            return "record_length";
        case Result::HOST_CODE:
            return "host_code";
        case Result::OPTION:
            return "option";
        case Result::CANNOT_OPEN:
            return "cannot_open";
        case Result::OUT_OF_MEMORY:
            return "out_of_memory";
        default:
            break;
    }
    return "";
}

// Why rekmo refuses the item, in words.
std::string fault_reason(const ItemDef& item, Result fault) {
    switch (fault) {
        case Result::ITEM_SIZE:
            if (item.length == 0) return "invalid size: length 0";
            if (item.length > MAX_RECORD_LENGTH) return "invalid size: longer than 16 MiB";
            if (item.type == ITEM_ZONED) return "invalid size: a Z item longer than 300 bytes";
            return "invalid size: a P item longer than 150 bytes";
        case Result::ITEM_TYPE:
            return "invalid type: no known type letter";
        case Result::ITEM_POSITION:
            if (item.start < 0) return "invalid position: below 1";
            return "invalid position: the item ends beyond 16 MiB";
        default:
            return fault_name(fault);
    }
}

// --- The option lines ---

constexpr const char* CSV_WORD_NAMES[] = {"QUOTE", "HEADER", "EXACT", "TRIM", "UTF8", "BOM"};

std::vector<std::string> csv_word_names(std::uint8_t words) {
    std::vector<std::string> names;
    for (std::size_t w = 0; w < std::size(CSV_WORD_NAMES); ++w) {
        if ((static_cast<unsigned>(words) >> w) & 1u) names.emplace_back(CSV_WORD_NAMES[w]);
    }
    return names;
}

const char* sign_form_name(SignForm form) noexcept {
    switch (form) {
        case SignForm::LEADING:
            return "LEADING";
        case SignForm::LEADING_SEPARATE:
            return "LEADING SEPARATE";
        case SignForm::TRAILING_SEPARATE:
            return "TRAILING SEPARATE";
        case SignForm::TRAILING:
            break;
    }
    return "TRAILING";
}

const char* option_kind_name(OptionKind kind) noexcept {
    switch (kind) {
        case OptionKind::CSV:
            return "csv";
        case OptionKind::SCALE:
            return "scale";
        case OptionKind::SIGN:
            return "sign";
        case OptionKind::DIGITS:
            return "digits";
        case OptionKind::KIND:
            return "kind";
        case OptionKind::RECFM:
            return "recfm";
        case OptionKind::GAIJI:
            return "gaiji";
    }
    return "";
}

const char* option_fault_name(OptionFault fault) noexcept {
    switch (fault) {
        case OptionFault::MALFORMED:
            return "malformed";
        case OptionFault::NO_ITEM:
            return "no_item";
        case OptionFault::SIGN_OF_PACKED:
            return "sign_of_packed";
        case OptionFault::REPEATED:
            return "repeated";
        case OptionFault::DIGITS_AND_SCALE:
            return "digits_and_scale";
        case OptionFault::BOM_WITHOUT_UTF8:
            return "bom_without_utf8";
        case OptionFault::KIND_REPEATED:
            return "kind_repeated";
        case OptionFault::KIND_PAST_RECORD:
            return "kind_past_record";
        case OptionFault::HEADER_AND_KIND:
            return "header_and_kind";
        case OptionFault::GAIJI_REPEATED:
            return "gaiji_repeated";
        case OptionFault::NONE:
            break;
    }
    return "";
}

// Why rekmo refuses the option line, in words.
std::string option_fault_reason(const OptionLine& line, OptionFault fault) {
    const std::string name = display(line.name);
    switch (fault) {
        case OptionFault::MALFORMED:
            switch (line.kind) {
                case OptionKind::CSV:
                    return "a word is empty or none of QUOTE, HEADER, EXACT, TRIM, UTF8, BOM";
                case OptionKind::SCALE:
                    return "SCALE wants a name and a whole number from -300 to 300";
                case OptionKind::SIGN:
                    return "SIGN wants a name and LEADING, LEADING SEPARATE or TRAILING SEPARATE";
                case OptionKind::DIGITS:
                    return "DIGITS wants a name alone";
                case OptionKind::KIND:
                    return "KIND wants a start, a length and a value no longer than it (X'..' of that length)";
                case OptionKind::RECFM:
                    return "RECFM wants F, FB, V or VB";
                case OptionKind::GAIJI:
                    return "GAIJI wants JEF, KEIS or EBCDIC and a path";
            }
            break;
        case OptionFault::NO_ITEM:
            return line.kind == OptionKind::SIGN ? "no Z item is named " + name : "no P or Z item is named " + name;
        case OptionFault::SIGN_OF_PACKED:
            return "a P item is named " + name + ": P keeps its sign in its last half-byte";
        case OptionFault::REPEATED:
            return "an earlier line gives " + name + " the same option";
        case OptionFault::DIGITS_AND_SCALE:
            return "DIGITS and SCALE both name " + name;
        case OptionFault::BOM_WITHOUT_UTF8:
            return "BOM marks a UTF-8 file, and no CSV line says UTF8";
        case OptionFault::KIND_REPEATED:
            return "an earlier KIND line tests the same bytes for the same value";
        case OptionFault::KIND_PAST_RECORD:
            return "the bytes it tests end past the record";
        case OptionFault::HEADER_AND_KIND:
            return "CSV=HEADER and KIND lines: one header cannot name the items of every kind";
        case OptionFault::GAIJI_REPEATED:
            return "an earlier GAIJI line names a table for the same host code";
        case OptionFault::NONE:
            break;
    }
    return {};
}

// How the options print a P or Z item ("exact", "scale 2, sign LEADING",
// "digits"); empty for the default printing.
std::string number_form_text(const ItemForm& form) {
    if (!form.exact) return {};
    std::string out;
    if (form.digits) out = "digits";
    if (form.scale != 0) out = "scale " + std::to_string(form.scale);
    if (form.sign != SignForm::TRAILING)
        out += (out.empty() ? "" : ", ") + std::string("sign ") + sign_form_name(form.sign);
    return out.empty() ? "exact" : out;
}

std::string finding_list(std::uint32_t findings, const char* separator) {
    std::string out;
    for (int k = 0; k < FINDING_KINDS; ++k) {
        if ((findings & (1u << k)) == 0) continue;
        if (!out.empty()) out += separator;
        out += finding_name(k);
    }
    return out;
}

// --- Record kinds and descriptor words ---

const char* record_format_name(RecordFormat format) noexcept {
    return format == RecordFormat::VB ? "VB" : format == RecordFormat::V ? "V" : "F";
}

// The KIND line of layout `kind`, as read; empty for the items before the
// first KIND line.
std::string kind_line(const FormatDef& format, std::size_t kind) {
    const std::vector<KindBlock> blocks = kind_blocks(format);
    return kind < blocks.size() ? display(blocks[kind].line->text) : std::string();
}

bool has_kinds(const FormatDef& format) { return !kind_blocks(format).empty(); }

// Which layout a finding is of, under KIND lines.
std::string layout_of(const FormatDef& format, std::size_t layout) {
    if (!has_kinds(format)) return {};
    const std::string line = kind_line(format, layout);
    return line.empty() ? " before the first KIND line" : " of " + line;
}

// rekmo's own message for a record it stops at, on one line.
std::string stop_message(Result result, std::uint64_t record, std::uint64_t offset) {
    const auto number = static_cast<std::int64_t>(record);
    std::string message = render_message(result == Result::RECORD_KIND
                                             ? format_message(result, {number})
                                             : format_message(result, {number, static_cast<std::int64_t>(offset)}),
                                         "UTF-8");
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
}

// What a record's layout is, in words.
std::string kind_sentence(const FormatDef& format, const RecordSample& record) {
    if (record.kind == NO_KIND) {
        return "none: no KIND line matches and no item line comes before the first; rekmo stops here: " +
               stop_message(Result::RECORD_KIND, record.number, 0);
    }
    const std::string line = kind_line(format, record.kind);
    return line.empty() ? "no KIND line matches: the items before the first KIND line" : line;
}

std::string records_count(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

std::string numbers_text(const std::vector<std::uint64_t>& numbers) {
    std::string out;
    for (const std::uint64_t r : numbers) out += (out.empty() ? "" : ", ") + std::to_string(r);
    return out;
}

std::string layout_sentence(const Layout& layout, const LayoutFinding& f) {
    const auto range = [&] { return std::to_string(f.first) + "-" + std::to_string(f.last); };
    switch (f.kind) {
        case LayoutKind::REJECTED:
            return "item " + std::to_string(f.item) +
                   " is refused: " + fault_reason(layout.format.items[f.item - 1], f.fault);
        case LayoutKind::OVERLAP:
            return "item " + std::to_string(f.item) + " overlaps item " + std::to_string(f.other) + " at bytes " +
                   range();
        case LayoutKind::GAP:
            return "bytes " + range() + " belong to no item" + layout_of(layout.format, f.layout);
        case LayoutKind::PAST_RECORD:
            return "item " + std::to_string(f.item) + " ends past the record: its bytes " + range() + " read as 00";
        case LayoutKind::ODD_LENGTH:
            return "item " + std::to_string(f.item) +
                   " is double-byte only with an odd length: its last byte is never converted";
        case LayoutKind::PAST_LARGEST:
            return "item " + std::to_string(f.item) +
                   " ends past the largest record (RECLEN less its RDW): its field " + "is empty in every record";
        case LayoutKind::OPTION_REFUSED: {
            const OptionLine& line = layout.format.options[f.option - 1];
            return "the line " + display(line.text) + " is refused: " + option_fault_reason(line, f.option_fault);
        }
    }
    return {};
}

// --- Aligned tables ---

class Table {
public:
    explicit Table(std::vector<std::string> header) : extra_(1) { rows_.push_back(std::move(header)); }
    // `extra` lines are printed under the row as they are.
    void add(std::vector<std::string> row, std::vector<std::string> extra = {}) {
        rows_.push_back(std::move(row));
        extra_.push_back(std::move(extra));
    }
    // Columns listed in `right` are aligned right (numbers).
    std::string render(const std::vector<std::size_t>& right, const std::string& indent = "  ") const {
        std::vector<std::size_t> widths;
        for (const auto& row : rows_) {
            widths.resize(std::max(widths.size(), row.size()));
            for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], display_width(row[c]));
        }
        std::string out;
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            const auto& row = rows_[r];
            std::string line = indent;
            for (std::size_t c = 0; c < row.size(); ++c) {
                const std::string pad(widths[c] - display_width(row[c]), ' ');
                const bool is_right = std::find(right.begin(), right.end(), c) != right.end();
                line += is_right ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : "");
                if (c + 1 < row.size()) line += "  ";
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out += line + "\n";
            for (const std::string& extra : extra_[r]) out += indent + extra + "\n";
        }
        return out;
    }

private:
    std::vector<std::vector<std::string>> rows_;
    std::vector<std::vector<std::string>> extra_;
};

std::string item_name(const Layout& layout, std::size_t number) {
    return display(layout.format.items[number - 1].name);
}

void text_layout(const Layout& layout, std::string& out) {
    const FormatDef& format = layout.format;
    out += "Format file: " + shown_text(layout.path) + "\n";
    if (!layout.message.empty()) out += "rekmo refuses this format: " + layout.message + "\n";
    out += "Record length: " + std::to_string(format.record_length) + " bytes (" +
           (format.record_length_given ? "RECLEN" : "the largest item end") + ")\n";
    if (const RecordFormat shape = record_format(format); shape != RecordFormat::F) {
        out += std::string("Record format: ") + record_format_name(shape) + ", each record led by its RDW" +
               (shape == RecordFormat::VB ? " in blocks led by BDWs" : "") + ", at most " +
               std::to_string(record_limit(format)) + " bytes with it (" +
               (format.record_length_given ? "RECLEN" : "without RECLEN") + ")\n";
    }
    if (format.host_code != HostCode::NONE) {
        out += std::string("Host code: ") + host_code_name(format.host_code) + " (" +
               host_code_scope(format.host_code) + ")\n";
    }
    if (!format.options.empty()) {
        // The CSV words of all CSV lines, each option line as read, and in
        // the table how each P and Z item is printed.
        const std::vector<std::string> words = csv_word_names(csv_words(format));
        out += "CSV:";
        for (const std::string& word : words) out += " " + word;
        out += words.empty() ? " as without options\nOption lines:\n" : "\nOption lines:\n";
        for (std::size_t j = 0; j < format.options.size(); ++j) {
            const bool refused = j < layout.option_faults.size() && layout.option_faults[j] != OptionFault::NONE;
            out += "  " + display(format.options[j].text) + (refused ? "  (refused)" : "") + "\n";
        }
    }
    out += "\n";
    const bool forms = std::any_of(layout.item_forms.begin(), layout.item_forms.end(),
                                   [](const ItemForm& form) { return form.exact; });
    std::vector<std::string> header = {"#", "Name", "Position", "Length", "End", "Type", "Output", "Refused"};
    if (forms) header.insert(header.end() - 1, "Number");
    Table table(std::move(header));
    for (std::size_t i = 0; i < format.items.size(); ++i) {
        const ItemDef& item = format.items[i];
        const Result fault = i < layout.item_faults.size() ? layout.item_faults[i] : Result::OK;
        std::vector<std::string> row = {std::to_string(i + 1),
                                        display(item.name),
                                        std::to_string(item.start + 1),
                                        std::to_string(item.length),
                                        std::to_string(item.start + item.length),
                                        type_letter(item.type),
                                        item.output != 0 ? "yes" : "no",
                                        fault == Result::OK ? "" : fault_name(fault)};
        if (forms) row.insert(row.end() - 1, number_form_text(layout.item_forms[i]));
        table.add(std::move(row));
    }
    out += table.render({0, 2, 3, 4});
    out += "\nLayout findings:";
    if (layout.findings.empty()) out += " none";
    out += "\n";
    for (const LayoutFinding& f : layout.findings) out += "  " + layout_sentence(layout, f) + "\n";
}

// The hint of a chain of descriptor words in a file read as F.
std::string chain_sentence(const HostCheck& host) {
    const bool blocked = host.suggested_record_format == RecordFormat::VB;
    return "the first bytes read as " + records_count(host.chain_records) + " led by RDWs" +
           (blocked ? ", in blocks led by BDWs" : "") + ": a variable-length file? try RECFM=" + (blocked ? "VB" : "V");
}

void text_host(const Report& report, std::string& out) {
    const HostCheck& host = *report.host;
    out += "\nHost file: " + shown_text(host.path) + "\n";
    if (host.variable) {
        const RecordFormat format = record_format(report.layout.format);
        out += "  " + std::to_string(host.size) + " bytes of RECFM=" + record_format_name(format) +
               (format == RecordFormat::VB ? " records: blocks led by BDWs, records led by RDWs"
                                           : " records, each led by its RDW") +
               " (counted as they are read)\n";
        for (const std::string& sign : host.damage) out += "  Sign of damage: " + sign + "\n";
        return;
    }
    const std::int32_t record_length = report.layout.format.record_length;
    if (record_length < 1) {
        out += "  " + std::to_string(host.size) + " bytes (no valid record length to count records by)\n";
        return;
    }
    out += "  " + std::to_string(host.size) + " bytes: " + std::to_string(host.records) + " records of " +
           std::to_string(record_length) + " bytes";
    if (host.remainder == 0) {
        out += ", nothing left over\n";
    } else {
        out += " and " + std::to_string(host.remainder) + " bytes more: rekmo refuses the file\n";
        out += "  Record lengths near the layout's that divide the size: ";
        if (host.suggested_lengths.empty()) out += "none";
        for (std::size_t i = 0; i < host.suggested_lengths.size(); ++i) {
            out += (i > 0 ? ", " : "") + std::to_string(host.suggested_lengths[i]);
        }
        out += "\n";
    }
    for (const std::string& sign : host.damage) out += "  Sign of damage: " + sign + "\n";
    if (host.suggested_record_format) out += "  Descriptor words: " + chain_sentence(host) + "\n";
}

void text_record(const Report& report, const RecordSample& record, std::string& out) {
    out += "\nRecord " + std::to_string(record.number) + "\n";
    const FormatDef& format = report.layout.format;
    if (record.variable) {
        out += "  RDW: " + std::to_string(record.rdw) + " bytes at byte " + std::to_string(record.offset);
        if (record.block != 0) {
            out += ", in block " + std::to_string(record.block) + " (BDW: " + std::to_string(record.bdw) +
                   " bytes at byte " + std::to_string(record.block_offset) + ")";
        }
        out += "\n";
    }
    if (has_kinds(format)) out += "  Kind: " + kind_sentence(format, record) + "\n";
    if (record.kind == NO_KIND) return;
    Table table({"#", "Name", "Type", "Text", "Findings"});
    for (const ItemSample& item : record.items) {
        const ItemDef& def = report.layout.format.items[item.item - 1];
        std::vector<std::string> bytes;
        for (std::size_t at = 0; at < item.raw.size(); at += HEX_PER_LINE) {
            const std::span<const std::uint8_t> raw(item.raw);
            bytes.push_back("    " + hex_text(raw.subspan(at, std::min(HEX_PER_LINE, raw.size() - at)), " "));
        }
        table.add({std::to_string(item.item), item_name(report.layout, item.item), type_letter(def.type),
                   "\"" + display_field(item.text, report.layout.format) + "\"", finding_list(item.findings, ", ")},
                  std::move(bytes));
    }
    out += table.render({0});
}

void text_scan(const Report& report, std::string& out) {
    const Scan& scan = *report.scan;
    const FormatDef& format = report.layout.format;
    out += "\nScan: " + std::to_string(scan.records) + " records\n";
    if (!scan.kind_records.empty()) {
        Table table({"Kind", "Records"});
        const std::size_t kinds = scan.kind_records.size() - 1;
        for (std::size_t k = 0; k < kinds; ++k) table.add({kind_line(format, k), std::to_string(scan.kind_records[k])});
        // The items before the first KIND line, when there are any.
        if (kind_blocks(format).front().first_item > 0) {
            table.add({"(the items before the first KIND line)", std::to_string(scan.kind_records[kinds])});
        }
        out += table.render({1});
    }
    if (scan.no_kind != 0) {
        out += "  no_kind: " + records_count(scan.no_kind) + " of no kind (first: " + numbers_text(scan.no_kind_first) +
               ")\n    no KIND line matches and no item line comes before the first: rekmo stops at the first: " +
               stop_message(Result::RECORD_KIND, scan.no_kind_first.front(), 0) + "\n";
    }
    bool any = scan.no_kind != 0;
    for (const ItemScan& item : scan.items) {
        for (int k = 0; k < FINDING_KINDS; ++k) {
            const std::uint64_t n = item.records[static_cast<std::size_t>(k)];
            if (n == 0) continue;
            any = true;
            std::string first;
            for (const std::uint64_t r : item.first[static_cast<std::size_t>(k)])
                first += (first.empty() ? "" : ", ") + std::to_string(r);
            out += "  item " + std::to_string(item.item) + " " + item_name(report.layout, item.item) + ": " +
                   finding_name(k) + " in " + std::to_string(n) + (n == 1 ? " record" : " records") +
                   " (first: " + first + ")\n    " + finding_text(k) + "\n";
        }
    }
    if (!any) out += "  no findings in any item\n";
}

void text_descriptors(const Report& report, std::string& out) {
    const Descriptors& met = *report.descriptors;
    const bool blocked = record_format(report.layout.format) == RecordFormat::VB;
    out += "\nDescriptor words: " + records_count(met.records) + " passed" +
           (blocked ? " in " + std::to_string(met.blocks) + (met.blocks == 1 ? " block" : " blocks") : "");
    if (met.fault) {
        out += ", then a wrong descriptor: record " + std::to_string(met.fault->record) + " at byte " +
               std::to_string(met.fault->offset) +
               "; rekmo stops there: " + stop_message(Result::RECORD_DESCRIPTOR, met.fault->record, met.fault->offset) +
               "\n";
    } else {
        out += met.end ? ", to the end of the file\n" : " (--scan walks them to the end of the file)\n";
    }
}

// --- JSON ---

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence(std::string_view s) noexcept {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) return 1;
    const std::size_t n = b0 >= 0xC2 && b0 <= 0xDF   ? 2
                          : b0 >= 0xE0 && b0 <= 0xEF ? 3
                          : b0 >= 0xF0 && b0 <= 0xF4 ? 4
                                                     : 0;
    if (n == 0 || s.size() < n) return 0;
    const auto b1 = static_cast<unsigned char>(s[1]);
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    const unsigned char low = b0 == 0xE0 ? 0xA0 : b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = b0 == 0xED ? 0x9F : b0 == 0xF4 ? 0x8F : 0xBF;
    if (b1 < low || b1 > high) return 0;
    for (std::size_t i = 2; i < n; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
    }
    return n;
}

// A JSON string; bytes that are not UTF-8 (a path can hold any bytes) are
// written as the text \xHH, like undecodable bytes elsewhere in the report.
std::string json_string(std::string_view utf8) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t n = utf8_sequence(utf8.substr(i));
        if (n == 0) {
            const auto b = static_cast<unsigned char>(utf8[i++]);
            out += "\\\\x";  // an escaped backslash, then xHH
            out += DIGITS[b >> 4];
            out += DIGITS[b & 0x0F];
            continue;
        }
        if (n > 1) {
            out.append(utf8.substr(i, n));
            i += n;
            continue;
        }
        const char c = utf8[i++];
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            out += "\\u00";
            out += DIGITS[b >> 4];
            out += DIGITS[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string json_findings(std::uint32_t findings) {
    std::string out = "[";
    for (int k = 0; k < FINDING_KINDS; ++k) {
        if ((findings & (1u << k)) == 0) continue;
        if (out.size() > 1) out += ",";
        out += json_string(finding_name(k));
    }
    return out + "]";
}

template <typename T, typename F>
std::string json_array(const std::vector<T>& values, F&& each) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i > 0 ? "," : "") + each(values[i]);
    return out + "]";
}

std::string json_layout(const Layout& layout) {
    const FormatDef& format = layout.format;
    std::string out = "{\"path\":" + json_string(layout.path);
    out += ",\"accepted\":" + std::string(layout.accepted() ? "true" : "false");
    out += ",\"message\":" + (layout.message.empty() ? std::string("null") : json_string(layout.message));
    out += ",\"record_length\":" + std::to_string(format.record_length);
    out += ",\"record_length_source\":" + json_string(format.record_length_given ? "RECLEN" : "largest_end");
    if (const RecordFormat shape = record_format(format); shape != RecordFormat::F) {
        out += ",\"record_format\":" + json_string(record_format_name(shape)) +
               ",\"largest_record\":" + std::to_string(record_limit(format));
    }
    if (format.host_code != HostCode::NONE) out += ",\"host_code\":" + json_string(host_code_name(format.host_code));
    if (!format.options.empty()) {
        out += ",\"csv\":" +
               json_array(csv_word_names(csv_words(format)), [](const std::string& w) { return json_string(w); });
        out += ",\"options\":[";
        for (std::size_t j = 0; j < format.options.size(); ++j) {
            const OptionLine& line = format.options[j];
            const OptionFault fault = j < layout.option_faults.size() ? layout.option_faults[j] : OptionFault::NONE;
            out += (j > 0 ? "," : "") + std::string("{\"line\":") + json_string(display(line.text)) +
                   ",\"kind\":" + json_string(option_kind_name(line.kind)) + ",\"refused\":" +
                   (fault == OptionFault::NONE ? std::string("null") : json_string(option_fault_name(fault))) + "}";
        }
        out += "]";
    }
    out += ",\"items\":[";
    for (std::size_t i = 0; i < format.items.size(); ++i) {
        const ItemDef& item = format.items[i];
        const Result fault = i < layout.item_faults.size() ? layout.item_faults[i] : Result::OK;
        out += (i > 0 ? "," : "") + std::string("{\"number\":") + std::to_string(i + 1) +
               ",\"name\":" + json_string(display(item.name)) + ",\"position\":" + std::to_string(item.start + 1) +
               ",\"length\":" + std::to_string(item.length) + ",\"end\":" + std::to_string(item.start + item.length) +
               ",\"type\":" + json_string(type_letter(item.type)) +
               ",\"output\":" + (item.output != 0 ? "true" : "false") +
               ",\"refused\":" + (fault == Result::OK ? std::string("null") : json_string(fault_name(fault)));
        if (i < layout.item_forms.size() && layout.item_forms[i].exact) {
            const ItemForm& form = layout.item_forms[i];
            out += ",\"number_form\":{\"scale\":" + std::to_string(form.scale) +
                   ",\"sign\":" + json_string(sign_form_name(form.sign)) +
                   ",\"digits\":" + (form.digits ? "true" : "false") + "}";
        }
        out += "}";
    }
    out += "],\"findings\":" + json_array(layout.findings, [&](const LayoutFinding& f) {
               static constexpr const char* KINDS[] = {"refused",    "overlap",        "gap",         "past_record",
                                                       "odd_length", "refused_option", "past_largest"};
               std::string o = "{\"kind\":" + json_string(KINDS[static_cast<int>(f.kind)]);
               if ((f.kind == LayoutKind::OVERLAP || f.kind == LayoutKind::GAP) && has_kinds(format)) {
                   o += ",\"layout\":" + std::to_string(f.layout == kind_blocks(format).size() ? 0 : f.layout + 1);
               }
               if (f.item != 0) o += ",\"item\":" + std::to_string(f.item);
               if (f.other != 0) o += ",\"other_item\":" + std::to_string(f.other);
               if (f.kind == LayoutKind::OPTION_REFUSED) {
                   o += ",\"option\":" + std::to_string(f.option) +
                        ",\"fault\":" + json_string(option_fault_name(f.option_fault));
               } else if (f.kind != LayoutKind::REJECTED) {
                   o += ",\"first\":" + std::to_string(f.first) + ",\"last\":" + std::to_string(f.last);
               }
               if (f.kind == LayoutKind::REJECTED) o += ",\"fault\":" + json_string(fault_name(f.fault));
               return o + ",\"text\":" + json_string(layout_sentence(layout, f)) + "}";
           });
    return out + "}";
}

std::string json_host(const HostCheck& host, const FormatDef& format) {
    // V and VB records are counted by the walk (the report's "descriptors").
    std::string out = "{\"path\":" + json_string(host.path) + ",\"size\":" + std::to_string(host.size);
    if (host.variable) {
        out += ",\"record_format\":" + json_string(record_format_name(record_format(format))) +
               ",\"records\":null,\"remainder\":null,\"divides\":null";
    } else {
        out += ",\"records\":" + std::to_string(host.records) + ",\"remainder\":" + std::to_string(host.remainder) +
               ",\"divides\":" + (host.remainder == 0 ? "true" : "false");
    }
    out += ",\"suggested_record_lengths\":" +
           json_array(host.suggested_lengths, [](std::int64_t v) { return std::to_string(v); }) +
           ",\"damage\":" + json_array(host.damage, [](const std::string& s) { return json_string(s); });
    if (host.suggested_record_format) {
        out += ",\"suggested_record_format\":" + json_string(record_format_name(*host.suggested_record_format)) +
               ",\"chain_records\":" + std::to_string(host.chain_records) +
               ",\"suggestion\":" + json_string(chain_sentence(host));
    }
    return out + "}";
}

std::string json_record(const RecordSample& record, const FormatDef& format) {
    std::string where;
    if (has_kinds(format)) {
        const std::string line = record.kind == NO_KIND ? std::string() : kind_line(format, record.kind);
        where += ",\"kind\":" + (record.kind == NO_KIND ? std::string("null")
                                 : line.empty()         ? std::string("0")
                                                        : std::to_string(record.kind + 1));
        if (!line.empty()) where += ",\"kind_line\":" + json_string(line);
    }
    if (record.variable) {
        where += ",\"offset\":" + std::to_string(record.offset) + ",\"rdw\":" + std::to_string(record.rdw);
        if (record.block != 0) {
            where += ",\"block\":" + std::to_string(record.block) +
                     ",\"block_offset\":" + std::to_string(record.block_offset) +
                     ",\"bdw\":" + std::to_string(record.bdw);
        }
    }
    return "{\"number\":" + std::to_string(record.number) + where + ",\"items\":" +
           json_array(record.items,
                      [&format](const ItemSample& item) {
                          const auto text =
                              std::span(reinterpret_cast<const std::uint8_t*>(item.text.data()), item.text.size());
                          return "{\"item\":" + std::to_string(item.item) +
                                 ",\"hex\":" + json_string(hex_text(item.raw, "")) +
                                 ",\"text\":" + json_string(display_field(item.text, format)) +
                                 ",\"text_hex\":" + json_string(hex_text(text, "")) +
                                 ",\"findings\":" + json_findings(item.findings) + "}";
                      }) +
           "}";
}

std::string json_scan(const Scan& scan, const FormatDef& format) {
    std::string kinds;
    if (!scan.kind_records.empty()) {
        const std::size_t count = scan.kind_records.size() - 1;
        kinds = ",\"kinds\":[";
        for (std::size_t k = 0; k < count; ++k) {
            kinds += (k > 0 ? "," : "") + std::string("{\"kind\":") + std::to_string(k + 1) +
                     ",\"line\":" + json_string(kind_line(format, k)) +
                     ",\"records\":" + std::to_string(scan.kind_records[k]) + "}";
        }
        if (kind_blocks(format).front().first_item > 0)
            kinds += ",{\"kind\":0,\"records\":" + std::to_string(scan.kind_records[count]) + "}";
        kinds += "],\"no_kind\":";
        kinds +=
            scan.no_kind == 0
                ? std::string("null")
                : "{\"records\":" + std::to_string(scan.no_kind) + ",\"first\":" +
                      json_array(scan.no_kind_first, [](std::uint64_t v) { return std::to_string(v); }) +
                      ",\"text\":" + json_string(stop_message(Result::RECORD_KIND, scan.no_kind_first.front(), 0)) +
                      "}";
    }
    return "{\"records\":" + std::to_string(scan.records) + kinds + ",\"items\":" +
           json_array(scan.items,
                      [](const ItemScan& item) {
                          std::string o = "{\"item\":" + std::to_string(item.item) + ",\"findings\":{";
                          bool first_kind = true;
                          for (int k = 0; k < FINDING_KINDS; ++k) {
                              const auto i = static_cast<std::size_t>(k);
                              if (item.records[i] == 0) continue;
                              o += (first_kind ? "" : ",") + json_string(finding_name(k)) +
                                   ":{\"records\":" + std::to_string(item.records[i]) + ",\"first\":" +
                                   json_array(item.first[i], [](std::uint64_t v) { return std::to_string(v); }) + "}";
                              first_kind = false;
                          }
                          return o + "}}";
                      }) +
           "}";
}

}  // namespace

std::string ReportParts::head(const Report& report) const {
    if (!json_) {
        std::string out;
        text_layout(report.layout, out);
        return out;
    }
    return "{\"tool\":\"rekmo-inspect\",\"version\":" + json_string(VERSION) +
           ",\"format\":" + json_layout(report.layout);
}

std::string ReportParts::host(const Report& report) const {
    if (json_) {
        return ",\"host\":" + (report.host ? json_host(*report.host, report.layout.format) : std::string("null")) +
               ",\"records\":[";
    }
    std::string out;
    if (report.host) text_host(report, out);
    if (report.host && !report.layout.accepted()) out += "  (records are not shown: rekmo refuses the format)\n";
    return out;
}

std::string ReportParts::record(const Report& report, const RecordSample& record) {
    std::string out;
    if (json_) {
        out = (first_record_ ? "" : ",") + json_record(record, report.layout.format);
    } else {
        text_record(report, record, out);
    }
    first_record_ = false;
    return out;
}

std::string ReportParts::tail(const Report& report) const {
    if (!json_) {
        std::string out;
        if (report.descriptors) text_descriptors(report, out);
        if (report.scan) text_scan(report, out);
        return out;
    }
    std::string out = "]";
    out += ",\"scan\":" + (report.scan ? json_scan(*report.scan, report.layout.format) : std::string("null"));
    if (report.descriptors) {
        const Descriptors& met = *report.descriptors;
        out += ",\"descriptors\":{\"records\":" + std::to_string(met.records);
        if (record_format(report.layout.format) == RecordFormat::VB) out += ",\"blocks\":" + std::to_string(met.blocks);
        out += ",\"end\":" + std::string(met.end ? "true" : "false") + ",\"fault\":";
        out += !met.fault
                   ? std::string("null")
                   : "{\"record\":" + std::to_string(met.fault->record) +
                         ",\"offset\":" + std::to_string(met.fault->offset) + ",\"text\":" +
                         json_string(stop_message(Result::RECORD_DESCRIPTOR, met.fault->record, met.fault->offset)) +
                         "}";
        out += "}";
    }
    out += ",\"findings\":" + std::string(has_findings(report) ? "true" : "false");
    if (!report.notes.empty())
        out += ",\"notes\":" + json_array(report.notes, [](const std::string& note) { return json_string(note); });
    return out + "}\n";
}

namespace {

std::string render(const Report& report, bool json) {
    ReportParts parts(json);
    std::string out = parts.head(report) + parts.host(report);
    for (const RecordSample& record : report.records) out += parts.record(report, record);
    return out + parts.tail(report);
}

}  // namespace

std::string render_text(const Report& report) { return render(report, false); }
std::string render_json(const Report& report) { return render(report, true); }

}  // namespace rekmo::inspect
