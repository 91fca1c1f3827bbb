// Rekmo's conversion as a library: the format reader, the decoders and the
// record loops of the rekmo command, for a program that holds host records
// in memory or reads them from a source of its own. The lines are the bytes
// rekmo writes to WinFile; nothing here opens a file, shows a message,
// throws, or keeps state outside the objects it gives.
//
//   FormatDef format;
//   if (load_format("customers.fmt", format).result != Result::OK) ...  // rekmo's faults
//   Converter converter;
//   if (converter.open(format).result != Result::OK) ...
//   std::vector<std::uint8_t> lines;
//   converter.convert(records, lines);  // one Shift_JIS CSV line per whole record
//
// Limits, as the format check enforces them (a format beyond them is refused
// by load_format, parse_format and Converter::open alike): records of 1 to
// 16 MiB (MAX_RECORD_LENGTH), items inside the first 16 MiB, P items of at
// most 150 bytes and Z items of at most 300 (MAX_PACKED_LENGTH,
// MAX_ZONED_LENGTH), so that every number has a finite value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "codec/report.hpp"  // Finding: what item_texts() reports
#include "common/result.hpp"
#include "format/format.hpp"  // FormatDef, load_format, parse_format, check_format

namespace rekmo {

// Where host records come from, for Converter::run.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills the buffer unless the end of the input or an error comes first:
    // a count short of the buffer with OK means the input has ended.
    virtual ReadResult read(std::span<std::uint8_t> buffer) noexcept = 0;
};

// Where lines go, for Converter::run.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // OK when every byte was taken, else WRITE_ERROR (the bytes taken stay).
    virtual Result write(std::span<const std::uint8_t> bytes) noexcept = 0;
    // Completes the output (a file is closed): OK, or WRITE_ERROR, since data
    // can still be lost there.
    virtual Result finish() noexcept { return Result::OK; }
};

// Where a run stopped on RECORD_KIND or RECORD_DESCRIPTOR.
struct RecordFault {
    std::uint64_t record = 0;  // 1-based number of the record at fault
    std::uint64_t offset = 0;  // RECORD_DESCRIPTOR: the byte of the file where the faulty descriptor or record starts
};

struct ConvertOptions {
    // Threads run() converts on: 1 is the calling thread alone. More convert
    // chunks of records at once when their buffers fit in `memory`; the
    // lines, and what is left after an early end, are the same bytes.
    unsigned threads = 1;
    std::size_t chunk_bytes = 256u << 10;  // host bytes per chunk, rounded down to whole records (at least one)
    std::size_t memory = 48u << 20;        // bytes all chunks of several threads may take at once
};

// One output item: an item of the format with a non-zero length and a
// non-zero output flag. Its text is one column of every line.
struct Column {
    std::size_t item = 0;    // its index in FormatDef::items
    std::size_t start = 0;   // offset in the record
    std::size_t length = 0;  // bytes decoded (0 for a negative length); those past the record read as 00
    std::size_t bound = 0;   // worst-case bytes of its text
};

// The texts of the columns of some records: record by record, and in each
// record column by column, as item_texts() appends them.
struct ItemTexts {
    std::vector<std::uint8_t> bytes;      // every text, one after another (Shift_JIS, no 00 byte)
    std::vector<std::size_t> ends;        // where each text ends in `bytes`
    std::vector<std::uint32_t> findings;  // each text's Finding bits (when asked for)

    std::size_t size() const noexcept { return ends.size(); }
    std::span<const std::uint8_t> text(std::size_t i) const noexcept {
        const std::size_t begin = i == 0 ? 0 : ends[i - 1];
        return {bytes.data() + begin, ends[i] - begin};
    }
    void clear() noexcept {
        bytes.clear();
        ends.clear();
        findings.clear();
    }
};

// A format compiled for conversion. One converter serves one thread at a time
// (run() starts its own threads); make one per thread for more.
class Converter {
public:
    Converter() noexcept;
    ~Converter();
    Converter(Converter&&) noexcept;
    Converter& operator=(Converter&&) noexcept;

    // Compiles `format` after checking it as load_format does (the format
    // may go away afterwards): OK, the format's first fault, or OUT_OF_MEMORY.
    // After a failure the converter converts nothing.
    FormatError open(const FormatDef& format, const ConvertOptions& options = {}) noexcept;

    // The bounds of the open format. Under KIND lines, columns() are those
    // of the records of no kind (the item lines before the first KIND line),
    // and item_texts() and item_bytes() read every record by them.
    std::size_t record_length() const noexcept;
    std::span<const Column> columns() const noexcept;
    std::size_t line_bound() const noexcept;  // worst-case bytes of one line, commas and line end included

    // What run() writes before the first record's line: under CSV=UTF8,BOM
    // the byte-order mark EF BB BF, and under CSV=HEADER a line of the
    // output items' names joined by ',' (each quoted as a text under
    // CSV=QUOTE, in UTF-8 under CSV=UTF8), then 0A. Empty without them.
    // convert() never writes it: a caller that converts in pieces writes it
    // once.
    std::span<const std::uint8_t> header() const noexcept;

    // Appends one line per whole record of `records` (a partial record at the
    // end is not read) to `lines`: the column texts joined by ',', then 0A,
    // each text as the format's options write it, by the layout of the
    // record's kind under KIND lines. OK, OUT_OF_MEMORY, or RECORD_KIND: a
    // record matches no kind and no item line comes before the first KIND
    // line (the lines before it are appended; record_fault() says which).
    // Under RECFM=V or VB `records` is the file's bytes, descriptors and
    // all: RECORD_DESCRIPTOR when they are wrong, or when the bytes end
    // inside a record (the lines before it are appended).
    Result convert(std::span<const std::uint8_t> records, std::vector<std::uint8_t>& lines) noexcept;

    // Appends the column texts of every whole record of `records` to
    // `texts`; with `findings`, also each text's Finding bits: what its
    // decoder dropped or found unusual, and a comma, CR, LF or '"' in it
    // when it is written unquoted (the line would gain a column or be split).
    // The texts are the lines' own bytes (under CSV=QUOTE, quoted).
    // OK or OUT_OF_MEMORY.
    Result item_texts(std::span<const std::uint8_t> records, ItemTexts& texts, bool findings = false) noexcept;

    // The bytes column `column` (below columns().size()) decodes in `record`
    // (record_length() bytes), those past the record's end as 00. Valid until
    // the next call.
    std::span<const std::uint8_t> item_bytes(std::size_t column, std::span<const std::uint8_t> record) noexcept;

    // Writes the text of column `column` (below columns().size()) in `record`
    // (record_length() bytes) at `out`, which has room for the column's
    // `bound` bytes, and returns its length: the bytes item_texts() appends
    // for it, written where the caller keeps them (no copy in between).
    std::size_t column_text(std::size_t column, std::span<const std::uint8_t> record, std::uint8_t* out) noexcept;

    // Allocates what run() needs (run() does it itself otherwise), so that a
    // lack of memory shows before, say, an output file is created. OK or
    // OUT_OF_MEMORY.
    Result prepare_run() noexcept;

    // Writes header() to `sink`, reads `source` to its end in chunks of whole
    // records and writes their lines in record order, then finishes the
    // sink. Returns OK,
    // READ_ERROR (a read failed, or the input ended inside a record: the
    // lines of every whole record before it are written, none after),
    // WRITE_ERROR (the first failed write stops everything and the sink is
    // not finished: it holds exactly what it took; or finishing it failed)
    // or OUT_OF_MEMORY (a thread could not be started: nothing was read),
    // RECORD_KIND (as READ_ERROR, at a record of no kind: record_fault()
    // says which), or RECORD_DESCRIPTOR (as READ_ERROR, at a wrong
    // descriptor of a V or VB file or a record the input ends in:
    // record_fault() says which, and where).
    Result run(ByteSource& source, ByteSink& sink) noexcept;

    // Where the last run() or convert() stopped on RECORD_KIND or
    // RECORD_DESCRIPTOR; zeros otherwise.
    RecordFault record_fault() const noexcept;

    // One record at a time, by the layout of its kind, for a program that
    // shows records. A layout is numbered as kind_blocks() lists the KIND
    // lines; kinds() (0 without KIND lines) is the layout of the item lines
    // before the first KIND line, which converts every record without KIND
    // lines and the records of no kind with them.
    static constexpr std::size_t NO_KIND = SIZE_MAX;
    std::size_t kinds() const noexcept;
    // The layout that converts `record` (F: record_length() bytes; V, VB: its
    // bytes after the RDW): the first KIND line whose test holds, else
    // kinds(), or NO_KIND when no item line comes before the first KIND line
    // (rekmo stops at such a record with RECORD_KIND).
    std::size_t kind_of(std::span<const std::uint8_t> record) noexcept;
    // The columns of layout `kind` (at most kinds()): columns() for kinds().
    std::span<const Column> kind_columns(std::size_t kind) const noexcept;
    // Appends the texts of the columns of layout `kind` in `record` to
    // `texts` (with their Finding bits when asked), the bytes its line holds:
    // an F record is record_length() bytes (a shorter one gives no texts);
    // under RECFM=V or VB a column that reaches past the record's end is
    // empty. OK or OUT_OF_MEMORY.
    Result record_texts(std::span<const std::uint8_t> record, std::size_t kind, ItemTexts& texts,
                        bool findings = false) noexcept;

    struct State;  // defined inside the core

private:
    std::unique_ptr<State> state_;
};

// Numbers without their texts, for a program that stores them rather than
// writes them (the Python package's Int64 columns). A P item of 1 to 8
// bytes or a Z item of 1 to 15 with its sign in the last byte, without
// SCALE or DIGITS, always prints an integer of at most 15 digits:
// short_number_item() says whether an item is one (and lies inside a record
// of `record_length` bytes), and short_number() gives the integer its text
// in `record` reads as, its `number` whether the exact forms (CSV=EXACT)
// print it (false: their text is empty, no number).
bool short_number_item(const ItemDef& item, const ItemForm& form, std::size_t record_length) noexcept;
std::int64_t short_number(const ItemDef& item, std::span<const std::uint8_t> record, bool& number) noexcept;
// A column of them: the item in every whole record of `records` (records of
// `record_length` bytes), values[r] of record r, and where `not_numbers` is
// given, not_numbers[r] when the exact forms print no number.
void short_numbers(const ItemDef& item, std::span<const std::uint8_t> records, std::size_t record_length,
                   std::int64_t* values, bool* not_numbers) noexcept;

// One record of a V or VB file, where the converter's walk over the
// descriptor words finds it.
struct VariableRecord {
    std::span<const std::uint8_t> data;  // its bytes after the RDW (the RDW's length is 4 more)
    std::uint64_t number = 0;            // from 1, as the lines of WinFile
    std::uint64_t offset = 0;            // the byte of the file where its RDW starts
    std::uint64_t block = 0;             // VB: its block's number, from 1; 0 under V
    std::uint64_t block_offset = 0;      // VB: the byte of the file where the block's BDW starts
    std::uint64_t block_length = 0;      // VB: the BDW's length, its 4 bytes included
};

// The walk over a V or VB file's descriptor words that the converter makes:
// the same records, and the same faults at the same places. The file is
// given in pieces: each call looks at bytes[pos, size) and moves `pos` past
// what it passed, so the caller may drop the bytes before `pos` and append
// the next ones.
class RecordWalk {
public:
    enum class Step : std::uint8_t {
        RECORD,  // `record` is the next record (its data lie in `bytes`)
        MORE,    // the bytes end before the next record does: give more from `pos`
        END,     // the file (`end`: no bytes follow) ends after a whole record and block
        FAULT,   // a wrong descriptor, or the file ends inside a record or a block:
                 // `fault` as Converter::record_fault() says it; the walk stays there
    };
    // `limit`: the largest RDW length (record_limit()).
    RecordWalk(RecordFormat format, std::size_t limit) noexcept;
    Step next(std::span<const std::uint8_t> bytes, std::size_t& pos, bool end, VariableRecord& record,
              RecordFault& fault) noexcept;
    std::uint64_t records() const noexcept { return records_; }  // records passed
    std::uint64_t blocks() const noexcept { return blocks_; }    // VB: blocks begun

private:
    bool blocked_;
    std::size_t limit_;
    std::uint64_t offset_ = 0, records_ = 0, blocks_ = 0;
    std::uint64_t block_left_ = 0, block_start_ = 0, block_length_ = 0;
};

}  // namespace rekmo
