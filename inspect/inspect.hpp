// rekmo-inspect: a layout seen against real data. Everything here reads; the
// conversion itself is rekmo's, through the same format reader, plan and
// decoders.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/report.hpp"
#include "format/format.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo::inspect {

// --- The layout ---

enum class LayoutKind {
    REJECTED,        // an item rekmo refuses (its fault says why)
    OVERLAP,         // two items share bytes
    GAP,             // record bytes no item covers
    PAST_RECORD,     // an item ends after the record (its bytes there read as 00)
    ODD_LENGTH,      // a KN or FN item of odd length: its last byte is never converted
    OPTION_REFUSED,  // an option line rekmo refuses (its OptionFault says why)
    PAST_LARGEST,    // V, VB: an item ends past the largest record (its field is always empty)
};

struct LayoutFinding {
    LayoutKind kind = LayoutKind::GAP;
    std::size_t item = 0;    // 1-based item number (REJECTED, OVERLAP, PAST_RECORD, ODD_LENGTH)
    std::size_t other = 0;   // OVERLAP: the earlier item it overlaps
    std::int64_t first = 0;  // 1-based byte positions concerned (OVERLAP, GAP, PAST_RECORD)
    std::int64_t last = 0;
    Result fault = Result::OK;  // REJECTED: ITEM_SIZE, ITEM_TYPE or ITEM_POSITION
    std::size_t option = 0;     // OPTION_REFUSED: 1-based number among the option lines
    OptionFault option_fault = OptionFault::NONE;
    // OVERLAP, GAP: the layout, as RecordSample::kind numbers them
    // (kind_blocks().size() for the items before the first KIND line).
    std::size_t layout = 0;
};

struct Layout {
    std::string path;
    FormatDef format;
    FormatError error;                       // what load_format said: OK, or the fault rekmo reports first
    std::string message;                     // rekmo's message for it, in UTF-8; empty when accepted
    std::vector<Result> item_faults;         // one per item: its first fault, or OK
    std::vector<OptionFault> option_faults;  // one per option line
    std::vector<ItemForm> item_forms;        // one per item: how the options print it
    std::vector<LayoutFinding> findings;
    // The format was accepted, and then a table of its GAIJI lines could not
    // be read or was refused: `error` and `message` are the table's.
    bool table_fault = false;

    // Read whole: it could be opened and read, and it ended within 16 MiB.
    bool readable() const noexcept {
        return table_fault || (error.result != Result::CANNOT_OPEN && error.result != Result::FORMAT_SIZE);
    }
    bool accepted() const noexcept { return error.result == Result::OK; }
};

// Reads the format as rekmo does and lists what is wrong or unusual in it.
Layout inspect_layout(const std::string& path);

// The findings of a read format (pure; exposed for tests).
std::vector<LayoutFinding> layout_findings(const FormatDef& format);

// --- The host file ---

struct HostCheck {
    std::string path;
    std::uint64_t size = 0;
    std::uint64_t records = 0;                    // whole records
    std::uint64_t remainder = 0;                  // bytes after them
    std::vector<std::int64_t> suggested_lengths;  // record lengths that divide the size, nearest first
    std::vector<std::string> damage;              // signs of a file damaged in transfer, as sentences
    // Read as F, the first bytes form a chain of record (and block)
    // descriptor words: the RECFM line that would read them, V or VB.
    std::optional<RecordFormat> suggested_record_format;
    std::uint64_t chain_records = 0;  // the records of that chain
    bool variable = false;            // the layout reads V or VB records: `records` and `remainder` do not apply
};

// Size, records, and when the size does not divide: what record lengths
// would, and what the bytes suggest. `head` is the start of the file, `tail`
// its last bytes (up to 16).
HostCheck check_host(std::uint64_t size, std::int64_t record_length, const std::vector<std::uint8_t>& head,
                     const std::vector<std::uint8_t>& tail);

// The same for a host file under the format's RECFM: of V and VB records
// only the signs in the first bytes; of F records, also whether they form
// a chain of descriptor words (when no RECFM line says F).
HostCheck check_host(std::uint64_t size, const FormatDef& format, const std::vector<std::uint8_t>& head,
                     const std::vector<std::uint8_t>& tail);

// Whether `head`, the first bytes of a file of `size` bytes, read as a
// chain of RDWs (V) or of blocks of them (VB): each length from 5 to the
// largest V record, bytes 3-4 00 00, every block filled exactly, landing on
// the next descriptor, and at least MIN_CHAIN records of them (2 when they
// end the file exactly). The number of records, or 0.
inline constexpr std::uint64_t MIN_CHAIN = 3;
std::uint64_t descriptor_chain(std::span<const std::uint8_t> head, std::uint64_t size, RecordFormat format) noexcept;

// --- Items of records ---

// Converted item: the text exactly as rekmo writes it, and what was found.
struct ItemSample {
    std::size_t item = 0;           // 1-based item number
    std::vector<std::uint8_t> raw;  // the item's bytes (past the record: 00)
    std::string text;               // Shift_JIS
    std::uint32_t findings = 0;     // Finding bits
};

// Under KIND lines a record's layout: the index of its KIND line among
// kind_blocks(), kind_blocks().size() for the item lines before the first,
// or NO_KIND (rekmo stops at it).
inline constexpr std::size_t NO_KIND = SIZE_MAX;

struct RecordSample {
    std::uint64_t number = 0;  // 1-based, as the lines of WinFile
    std::size_t kind = 0;
    std::vector<ItemSample> items;
    // V and VB: where the record lies, as the descriptor words say.
    bool variable = false;
    std::uint64_t offset = 0;  // of its RDW in the file
    std::uint32_t rdw = 0;     // the RDW's length
    std::uint64_t block = 0;   // VB: from 1
    std::uint64_t block_offset = 0;
    std::uint64_t bdw = 0;  // VB: the BDW's length
};

// Per output item of a scan: records with each finding, and the first few.
inline constexpr std::size_t FIRST_RECORDS_KEPT = 5;
struct ItemScan {
    std::size_t item = 0;
    std::array<std::uint64_t, FINDING_KINDS> records{};
    std::array<std::vector<std::uint64_t>, FINDING_KINDS> first;  // ascending, at most FIRST_RECORDS_KEPT
};

struct Scan {
    std::uint64_t records = 0;
    std::vector<ItemScan> items;  // one per output item of every layout, in line order
    // Under KIND lines: the records of each layout (as RecordSample::kind
    // numbers them), and those of no kind, with the first few.
    std::vector<std::uint64_t> kind_records;
    std::uint64_t no_kind = 0;
    std::vector<std::uint64_t> no_kind_first;  // ascending, at most FIRST_RECORDS_KEPT
};

// What the walk over a V or VB file's descriptor words met: rekmo walks
// the same way and stops at the same fault.
struct Descriptors {
    std::uint64_t records = 0;  // whole records passed
    std::uint64_t blocks = 0;   // VB: blocks begun
    bool end = false;           // the walk reached the end of the file (or a fault)
    std::optional<RecordFault> fault;
};

// Bytes as upper-case hex pairs joined by `separator`.
std::string hex_text(std::span<const std::uint8_t> bytes, const char* separator);

// The short name of a finding ("comma", "unclosed_run", ...) and a sentence.
const char* finding_name(int kind) noexcept;
const char* finding_text(int kind) noexcept;

// --- The whole run ---

struct Options {
    std::string format_path;
    std::optional<std::string> host_path;
    bool json = false;
    std::uint64_t first_record = 1;
    std::uint64_t record_count = 5;
    bool records_given = false;  // --records was given (a range past the end is then noted)
    bool scan = false;
    unsigned threads = 0;  // 0: every core
    bool strict = false;
};

struct Report {
    Layout layout;
    std::optional<HostCheck> host;
    std::vector<RecordSample> records;  // records kept in memory (write_report writes them and keeps none)
    bool record_findings = false;       // a record written by write_report had findings
    std::optional<Scan> scan;
    std::optional<Descriptors> descriptors;  // V, VB: what the walk met
    std::vector<std::string> notes;          // about the command line, as sentences: shown on stderr and in the JSON
};

// Where write_report puts the report, piece by piece: false when the write
// failed, which ends the run.
class ReportOutput {
public:
    virtual ~ReportOutput() = default;
    virtual bool write(std::string_view text) = 0;
};

// Everything asked for, written to `out` (as JSON or as tables) as it
// becomes known: the layout, the host file's section once its size and
// first bytes are known, each record as it is read, the scan and the notes
// at the end. Records are not kept, so memory does not grow with how many
// are shown; only a FIFO or a device, whose size is known at its end, has
// the records asked for kept as host bytes until then. `report` is left with
// everything but the records. Returns OK; CANNOT_OPEN when the format file
// cannot be read (nothing is written; `error` says so); READ_ERROR when the
// host file cannot be opened or read (`error` says which; what was read is
// shown); WRITE_ERROR at the first failed write (nothing more is read or
// written). May throw std::bad_alloc.
Result write_report(const Options& options, bool json, ReportOutput& out, Report& report, std::string& error);

// True when the report has anything to warn about (for --strict).
bool has_findings(const Report& report) noexcept;

// The report in parts, in the order they are written: the head (the
// layout), the host file's section, each record, the tail (the scan and
// what follows it). Joined, they are render_text or render_json.
class ReportParts {
public:
    explicit ReportParts(bool json) : json_(json) {}
    std::string head(const Report& report) const;
    std::string host(const Report& report) const;
    std::string record(const Report& report, const RecordSample& record);
    std::string tail(const Report& report) const;

private:
    bool json_;
    bool first_record_ = true;
};

std::string render_text(const Report& report);
std::string render_json(const Report& report);

// The command line: exit status 0, 1 or 2.
int inspect_main(int argc, char** argv);

}  // namespace rekmo::inspect
