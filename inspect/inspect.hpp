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

namespace rekmo::inspect {

// --- The layout ---

enum class LayoutKind {
    REJECTED,        // an item rekmo refuses (its fault says why)
    OVERLAP,         // two items share bytes
    GAP,             // record bytes no item covers
    PAST_RECORD,     // an item ends after the record (its bytes there read as 00)
    ODD_LENGTH,      // a KN or FN item of odd length: its last byte is never converted
    OPTION_REFUSED,  // an option line rekmo refuses (its OptionFault says why)
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

    // Read whole: it could be opened and read, and it ended within 16 MiB.
    bool readable() const noexcept {
        return error.result != Result::CANNOT_OPEN && error.result != Result::FORMAT_SIZE;
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
};

// Size, records, and when the size does not divide: what record lengths
// would, and what the bytes suggest. `head` is the start of the file, `tail`
// its last bytes (up to 16).
HostCheck check_host(std::uint64_t size, std::int64_t record_length, const std::vector<std::uint8_t>& head,
                     const std::vector<std::uint8_t>& tail);

// --- Items of records ---

// Converted item: the text exactly as rekmo writes it, and what was found.
struct ItemSample {
    std::size_t item = 0;           // 1-based item number
    std::vector<std::uint8_t> raw;  // the item's bytes (past the record: 00)
    std::string text;               // Shift_JIS
    std::uint32_t findings = 0;     // Finding bits
};

struct RecordSample {
    std::uint64_t number = 0;  // 1-based, as the lines of WinFile
    std::vector<ItemSample> items;
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
    std::vector<ItemScan> items;  // one per output item, in line order
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
    std::vector<std::string> notes;  // about the command line, as sentences: shown on stderr and in the JSON
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
