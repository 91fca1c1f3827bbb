// Items of records converted as rekmo converts them, with what the decoders
// report: a few records shown, or every record counted on every core.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/convert.hpp"
#include "inspect/items.hpp"

namespace rekmo::inspect {
namespace {

constexpr std::size_t CHUNK_BYTES = 1u << 20;  // host bytes per scan chunk (at least one record)

struct FindingInfo {
    const char* name;
    const char* text;
};

// Indexed by bit number.
constexpr FindingInfo FINDINGS[FINDING_KINDS] = {
    {"comma", "a comma in the text: the line gains a column"},
    {"cr", "a CR in the text: the line is split"},
    {"lf", "an LF in the text: the line is split"},
    {"unclosed_run", "a double-byte run never shifted back: its characters are dropped"},
    {"lone_byte", "a lone byte at the end of a double-byte run or item is dropped"},
    {"zero_byte", "a zero byte ends the J text before later data"},
    {"mapping_zero", "a double-byte code maps to a 00 byte: the character (J: the rest of the text) is lost"},
    {"esc_b", "ESC ( B inside a J run does not end it: the run continues or is dropped"},
    {"unassigned", "a double-byte code outside the characters of JIS X 0208 (gaiji or damage)"},
    {"non_digit", "a digit half-byte above 9 ends the number"},
    {"unusual_sign", "a sign half-byte other than C, D or F (read as negative)"},
    {"precision", "the printed number differs from the digits (more than 17 significant digits print as zeros)"},
};

}  // namespace

const char* finding_name(int kind) noexcept { return kind >= 0 && kind < FINDING_KINDS ? FINDINGS[kind].name : ""; }
const char* finding_text(int kind) noexcept { return kind >= 0 && kind < FINDING_KINDS ? FINDINGS[kind].text : ""; }

ItemReader::ItemReader(const FormatDef& format)
    : plan_(make_plan(format)),
      text_(std::max<std::size_t>(plan_.largest_bound, 1)),
      scratch_(std::max<std::size_t>(plan_.scratch_size, 1)) {
    inspectors_.reserve(plan_.steps.size());
    for (const PlanStep& step : plan_.steps) inspectors_.push_back(item_codec(format.items[step.item].type).inspect);
}

std::span<const std::uint8_t> ItemReader::item_bytes(std::size_t step, const std::uint8_t* record) {
    const PlanStep& s = plan_.steps[step];
    if (s.in_record == s.length) return {record + s.start, s.length};
    copy_item_bytes(s, record, scratch_.data());
    return {scratch_.data(), s.length};
}

std::uint32_t ItemReader::read(std::size_t step, const std::uint8_t* record) {
    DecodeReport report;
    text_size_ = inspectors_[step](item_bytes(step, record), text_.data(), report);
    const std::uint8_t* text = text_.data();
    if (std::memchr(text, ',', text_size_) != nullptr) report.note(FINDING_COMMA);
    if (std::memchr(text, '\r', text_size_) != nullptr) report.note(FINDING_CR);
    if (std::memchr(text, '\n', text_size_) != nullptr) report.note(FINDING_LF);
    return report.found;
}

RecordSample sample_record(ItemReader& reader, std::uint64_t number, const std::uint8_t* record) {
    RecordSample sample;
    sample.number = number;
    for (std::size_t s = 0; s < reader.steps(); ++s) {
        ItemSample item;
        item.item = reader.item_number(s);
        const std::span<const std::uint8_t> bytes = reader.item_bytes(s, record);
        item.raw.assign(bytes.begin(), bytes.end());
        item.findings = reader.read(s, record);
        item.text.assign(reinterpret_cast<const char*>(reader.text().data()), reader.text().size());
        sample.items.push_back(std::move(item));
    }
    return sample;
}

namespace {

Scan empty_scan(const ItemReader& reader) {
    Scan scan;
    scan.items.resize(reader.steps());
    for (std::size_t s = 0; s < reader.steps(); ++s) scan.items[s].item = reader.item_number(s);
    return scan;
}

void count_records(ItemReader& reader, std::span<const std::uint8_t> records, std::uint64_t first_number, Scan& scan) {
    const std::size_t length = reader.record_length();
    for (std::size_t r = 0; r + length <= records.size(); r += length) {
        const std::uint64_t number = first_number + r / length;
        for (std::size_t s = 0; s < reader.steps(); ++s) {
            std::uint32_t found = reader.read(s, records.data() + r);
            while (found != 0) {
                const int kind = std::countr_zero(found);
                found &= found - 1;
                ItemScan& item = scan.items[s];
                ++item.records[static_cast<std::size_t>(kind)];
                auto& first = item.first[static_cast<std::size_t>(kind)];
                if (first.size() < FIRST_RECORDS_KEPT) first.push_back(number);
            }
        }
    }
    scan.records += records.size() / length;
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

bool scan_records(const FormatDef& format, ByteSource& source, unsigned threads, Scan& result) {
    threads = std::max(1u, threads);
    // Everything a thread needs is made here, so that running out of memory
    // is an exception in this thread, not the end of the process.
    // Each reader on its own allocation: readers side by side would share
    // cache lines that one thread writes and the next reads.
    std::vector<std::unique_ptr<ItemReader>> readers;
    for (unsigned t = 0; t < threads; ++t) readers.push_back(std::make_unique<ItemReader>(format));
    const std::size_t length = readers[0]->record_length();
    const std::size_t chunk = std::max<std::size_t>(1, CHUNK_BYTES / length) * length;
    std::vector<std::vector<std::uint8_t>> buffers(threads, std::vector<std::uint8_t>(chunk));
    std::vector<Scan> parts(threads, empty_scan(*readers[0]));

    std::mutex lock;  // guards the source and the fields below
    std::uint64_t next_record = 1;
    bool done = false;
    bool failed = false;
    auto work = [&](unsigned t) {
        std::vector<std::uint8_t>& buffer = buffers[t];
        while (true) {
            std::uint64_t first_number = 0;
            std::size_t got = 0;
            {
                const std::lock_guard<std::mutex> hold(lock);
                if (done) return;
                const ByteSource::Result r = source.read(buffer);
                failed = failed || r.error;
                done = r.error || r.count < buffer.size();
                got = r.count - r.count % length;
                first_number = next_record;
                next_record += got / length;
            }
            count_records(*readers[t], {buffer.data(), got}, first_number, parts[t]);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(work, t);
        } catch (const std::system_error&) {
            break;  // fewer threads: the same counts, later
        }
    }
    work(0);
    for (std::thread& thread : pool) thread.join();
    result = empty_scan(*readers[0]);
    for (const Scan& part : parts) merge_into(result, part);
    return !failed;
}

}  // namespace rekmo::inspect
