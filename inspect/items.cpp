// Items of records converted as rekmo converts them, with what the decoders
// report: a few records shown, or every record counted on every core.
#include <algorithm>
#include <bit>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>

#include "inspect/items.hpp"

namespace rekmo::inspect {
namespace {

// A sentence for each finding, by bit number.
constexpr const char* FINDING_TEXTS[] = {
    "a comma in the text: the line gains a column; CSV=QUOTE encloses the text in quotes",
    "a CR in the text: the line is split; CSV=QUOTE encloses the text in quotes",
    "an LF in the text: the line is split; CSV=QUOTE encloses the text in quotes",
    "a double-byte run never shifted back: its characters are dropped",
    "a lone byte at the end of a double-byte run or item is dropped",
    "a zero byte ends the J text before later data",
    "a double-byte code maps to a 00 byte: the character (J: the rest of the text) is lost",
    "ESC ( B inside a J run does not end it: the run continues or is dropped",
    "a double-byte code outside the characters of JIS X 0208 (gaiji or damage); with HOSTCODE, a code the host "
    "code page gives no character, written as the mark 81 AC (in UTF-8 U+3013)",
    "a digit half-byte above 9 ends the number",
    "a sign half-byte other than C, D or F (read as negative)",
    "the printed number differs from the digits (more than 17 significant digits print as zeros)",
    "a character of the hosts' single-byte code (katakana punctuation, small kana, the long-vowel mark, "
    "the pound sign, the broken bar, ` ~ { } $) is written as a space: HOSTCODE=JEF on a JEF host, HOSTCODE=KEIS83 on "
    "a KEIS host "
    "converts it",
    "JEF keeps the 1978 ordering: this code is the other kanji of a swapped pair, or another form of it; "
    "HOSTCODE=JEF converts it as the host meant",
    "in the 1978 KEIS ordering this code is the other kanji of a swapped pair, or a box-drawing or other "
    "changed character; HOSTCODE=KEIS78 converts it as the host meant",
    "a JEF extended kanji (rows 41-7F) is written as two raw bytes; HOSTCODE=JEF converts it",
    "40 40, the KEIS double-byte space, is written as 10 3D; HOSTCODE=KEIS83 (or KEIS78) writes the ideographic space",
    "a '\"' in the text: a CSV reader takes it as the start of a quoted field and may join lines; CSV=QUOTE "
    "encloses the text in quotes and doubles it",
    "no number: a digit position not 0-9, a sign half-byte 0-9 or a sign byte other than 4E and 60; the field "
    "is written empty",
    "a character of the host code page that Shift_JIS cannot hold is written as the mark 81 AC, a compatibility "
    "form or another character; CSV=UTF8 writes it as itself",
    "a code of the host's user-defined area (the site's own characters) that no gaiji table covers, written as the "
    "mark 81 AC (in UTF-8 U+3013) or as raw bytes; a GAIJI= line naming the site's table converts it",
};
static_assert(std::size(FINDING_TEXTS) == FINDING_KINDS, "a sentence for every finding");

}  // namespace

const char* finding_name(int kind) noexcept { return kind >= 0 && kind < FINDING_KINDS ? FINDING_NAMES[kind] : ""; }
const char* finding_text(int kind) noexcept { return kind >= 0 && kind < FINDING_KINDS ? FINDING_TEXTS[kind] : ""; }

void sample_record(Converter& converter, std::span<const std::uint8_t> record, std::uint64_t number, bool variable,
                   RecordSample& sample) {
    sample.number = number;
    sample.items.clear();
    sample.kind = converter.kind_of(record);
    if (sample.kind == Converter::NO_KIND) {
        sample.kind = NO_KIND;
        return;
    }
    const std::span<const Column> columns = converter.kind_columns(sample.kind);
    ItemTexts texts;
    if (converter.record_texts(record, sample.kind, texts, true) != Result::OK) throw std::bad_alloc();
    for (std::size_t c = 0; c < columns.size(); ++c) {
        // The item's bytes in the record; of an F record those past its end
        // read as 00, a V record has none there.
        const Column& column = columns[c];
        const std::size_t begin = std::min(column.start, record.size());
        const std::size_t end = begin + std::min(column.length, record.size() - begin);
        std::vector<std::uint8_t> raw(record.begin() + static_cast<std::ptrdiff_t>(begin),
                                      record.begin() + static_cast<std::ptrdiff_t>(end));
        if (!variable) raw.resize(column.length, 0x00);
        const std::span<const std::uint8_t> text = texts.text(c);
        sample.items.push_back({column.item + 1, std::move(raw), {text.begin(), text.end()}, texts.findings[c]});
    }
}

void sample_records(Converter& converter, std::span<const std::uint8_t> records, std::uint64_t first_number,
                    std::vector<RecordSample>& samples) {
    const std::size_t length = converter.record_length();
    for (std::size_t r = 0; r < records.size() / length; ++r) {
        sample_record(converter, records.subspan(r * length, length), first_number + r, false, samples.emplace_back());
    }
}

namespace {

// The first item of each layout's among a scan's items: the items before
// the first KIND line come first, then each kind's in line order.
std::size_t first_scan_item(const Converter& converter, std::size_t kind) {
    if (kind == converter.kinds()) return 0;
    std::size_t first = converter.kind_columns(converter.kinds()).size();
    for (std::size_t k = 0; k < kind; ++k) first += converter.kind_columns(k).size();
    return first;
}

void keep_first(std::vector<std::uint64_t>& first, std::uint64_t number) {
    if (first.size() < FIRST_RECORDS_KEPT) first.push_back(number);
}

}  // namespace

Scan empty_scan(const Converter& converter) {
    Scan scan;
    const std::size_t kinds = converter.kinds();
    for (const Column& column : converter.kind_columns(kinds)) scan.items.push_back({column.item + 1, {}, {}});
    for (std::size_t k = 0; k < kinds; ++k) {
        for (const Column& column : converter.kind_columns(k)) scan.items.push_back({column.item + 1, {}, {}});
    }
    if (kinds > 0) scan.kind_records.assign(kinds + 1, 0);
    return scan;
}

void count_record(Converter& converter, std::span<const std::uint8_t> record, std::uint64_t number, ItemTexts& texts,
                  Scan& scan) {
    ++scan.records;
    const std::size_t kind = converter.kind_of(record);
    if (kind == Converter::NO_KIND) {
        ++scan.no_kind;
        keep_first(scan.no_kind_first, number);
        return;
    }
    if (!scan.kind_records.empty()) ++scan.kind_records[kind];
    texts.clear();
    if (converter.record_texts(record, kind, texts, true) != Result::OK) throw std::bad_alloc();
    const std::size_t first = first_scan_item(converter, kind);
    for (std::size_t c = 0; c < texts.size(); ++c) {
        ItemScan& item = scan.items[first + c];
        for (std::uint32_t found = texts.findings[c]; found != 0; found &= found - 1) {
            const auto k = static_cast<std::size_t>(std::countr_zero(found));
            ++item.records[k];
            keep_first(item.first[k], number);
        }
    }
}

namespace {

constexpr std::size_t CHUNK_BYTES = 1u << 20;  // host bytes per scan chunk (at least one record)

// What one thread needs, made before any thread starts.
struct ScanLane {
    Converter converter;
    std::vector<std::uint8_t> buffer;
    ItemTexts texts;
    Scan part;
};

// Counts the findings of the records in lane.buffer[0, size), the first
// numbered `first_number`.
void count_records(ScanLane& lane, std::size_t size, std::uint64_t first_number) {
    const std::size_t length = lane.converter.record_length();
    for (std::size_t r = 0; r < size / length; ++r) {
        count_record(lane.converter, {lane.buffer.data() + r * length, length}, first_number + r, lane.texts,
                     lane.part);
    }
}

void merge_first(std::vector<std::uint64_t>& total, const std::vector<std::uint64_t>& part) {
    total.insert(total.end(), part.begin(), part.end());
    std::sort(total.begin(), total.end());
    if (total.size() > FIRST_RECORDS_KEPT) total.resize(FIRST_RECORDS_KEPT);
}

void merge_into(Scan& total, const Scan& part) {
    total.records += part.records;
    for (std::size_t k = 0; k < total.kind_records.size(); ++k) total.kind_records[k] += part.kind_records[k];
    total.no_kind += part.no_kind;
    merge_first(total.no_kind_first, part.no_kind_first);
    for (std::size_t s = 0; s < total.items.size(); ++s) {
        for (std::size_t k = 0; k < FINDING_KINDS; ++k) {
            total.items[s].records[k] += part.items[s].records[k];
            merge_first(total.items[s].first[k], part.items[s].first[k]);
        }
    }
}

}  // namespace

Result scan_records(const FormatDef& format, ByteSource& source, unsigned threads, Scan& result) noexcept {
    threads = std::max(1u, threads);
    std::mutex lock;  // guards the source, the fields below, and the start
    std::uint64_t next_record = 1;
    bool done = false;
    Result status = Result::OK;
    try {
        // Everything a thread needs is made here, so that running out of
        // memory is an exception in this thread, not the end of the process.
        // Each lane on its own allocation: lanes side by side would share
        // cache lines that one thread writes and the next reads.
        std::vector<std::unique_ptr<ScanLane>> lanes;
        for (unsigned t = 0; t < threads; ++t) {
            lanes.push_back(std::make_unique<ScanLane>());
            ScanLane& lane = *lanes.back();
            if (lane.converter.open(format).result != Result::OK) return Result::OUT_OF_MEMORY;
            const std::size_t length = lane.converter.record_length();
            lane.buffer.resize(std::max<std::size_t>(1, CHUNK_BYTES / length) * length);
            lane.part = empty_scan(lane.converter);
        }
        auto work = [&](ScanLane& lane) noexcept {
            try {
                while (true) {
                    std::uint64_t first_number = 0;
                    std::size_t got = 0;
                    {
                        const std::lock_guard<std::mutex> hold(lock);
                        if (done) return;
                        const ReadResult r = source.read(lane.buffer);
                        if (r.result != Result::OK) status = r.result;
                        done = r.result != Result::OK || r.count < lane.buffer.size();
                        got = r.count - r.count % lane.converter.record_length();
                        first_number = next_record;
                        next_record += got / lane.converter.record_length();
                    }
                    count_records(lane, got, first_number);
                }
            } catch (const std::bad_alloc&) {
                const std::lock_guard<std::mutex> hold(lock);
                status = Result::OUT_OF_MEMORY;
                done = true;
            }
        };
        std::vector<std::thread> pool;
        {
            // The helpers wait for the lock until all are started: when one
            // cannot be (no memory for its state), the scan stops before
            // anything is read, and every thread started is joined.
            const std::lock_guard<std::mutex> hold(lock);
            try {
                pool.reserve(threads - 1);
                for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, std::ref(*lanes[t]));
            } catch (const std::system_error&) {
                // Fewer threads: the same counts, later.
            } catch (...) {
                status = Result::OUT_OF_MEMORY;
                done = true;
            }
        }
        work(*lanes[0]);
        for (std::thread& thread : pool) thread.join();
        if (status == Result::OUT_OF_MEMORY) return status;
        result = empty_scan(lanes[0]->converter);
        for (const auto& lane : lanes) merge_into(result, lane->part);
    } catch (const std::bad_alloc&) {
        return Result::OUT_OF_MEMORY;
    }
    return status;
}

}  // namespace rekmo::inspect
