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
};
static_assert(std::size(FINDING_TEXTS) == FINDING_KINDS, "a sentence for every finding");

}  // namespace

const char* finding_name(int kind) noexcept { return kind >= 0 && kind < FINDING_KINDS ? FINDING_NAMES[kind] : ""; }
const char* finding_text(int kind) noexcept { return kind >= 0 && kind < FINDING_KINDS ? FINDING_TEXTS[kind] : ""; }

void sample_records(Converter& converter, std::span<const std::uint8_t> records, std::uint64_t first_number,
                    std::vector<RecordSample>& samples) {
    const std::size_t length = converter.record_length();
    const std::span<const Column> columns = converter.columns();
    ItemTexts texts;
    if (converter.item_texts(records, texts, true) != Result::OK) throw std::bad_alloc();
    for (std::size_t r = 0; r < records.size() / length; ++r) {
        RecordSample sample;
        sample.number = first_number + r;
        const std::span<const std::uint8_t> record = records.subspan(r * length, length);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::size_t k = r * columns.size() + c;
            const std::span<const std::uint8_t> raw = converter.item_bytes(c, record);
            const std::span<const std::uint8_t> text = texts.text(k);
            sample.items.push_back(
                {columns[c].item + 1, {raw.begin(), raw.end()}, {text.begin(), text.end()}, texts.findings[k]});
        }
        samples.push_back(std::move(sample));
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

Scan empty_scan(const Converter& converter) {
    Scan scan;
    for (const Column& column : converter.columns()) scan.items.push_back({column.item + 1, {}, {}});
    return scan;
}

// Counts the findings of the records in lane.buffer[0, size), the first
// numbered `first_number`.
void count_records(ScanLane& lane, std::size_t size, std::uint64_t first_number) {
    lane.texts.clear();
    if (lane.converter.item_texts({lane.buffer.data(), size}, lane.texts, true) != Result::OK) throw std::bad_alloc();
    const std::size_t columns = lane.part.items.size();
    for (std::size_t k = 0; k < lane.texts.size(); ++k) {
        ItemScan& item = lane.part.items[k % columns];
        const std::uint64_t number = first_number + k / columns;
        for (std::uint32_t found = lane.texts.findings[k]; found != 0; found &= found - 1) {
            const auto kind = static_cast<std::size_t>(std::countr_zero(found));
            ++item.records[kind];
            if (item.first[kind].size() < FIRST_RECORDS_KEPT) item.first[kind].push_back(number);
        }
    }
    lane.part.records += size / lane.converter.record_length();
}

void merge_into(Scan& total, const Scan& part) {
    total.records += part.records;
    for (std::size_t s = 0; s < total.items.size(); ++s) {
        for (std::size_t k = 0; k < FINDING_KINDS; ++k) {
            total.items[s].records[k] += part.items[s].records[k];
            auto& first = total.items[s].first[k];
            first.insert(first.end(), part.items[s].first[k].begin(), part.items[s].first[k].end());
            std::sort(first.begin(), first.end());
            if (first.size() > FIRST_RECORDS_KEPT) first.resize(FIRST_RECORDS_KEPT);
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
