// rekmo-inspect on any format and host bytes (the same input form as the
// conversion target). Its first refused item is the one rekmo reports (unless
// a faulty HOSTCODE line stands before it); the texts it shows of F, V and VB
// records, each by its kind's layout, joined, are rekmo's lines, up to the
// record of no kind or the wrong descriptor where rekmo stops; the scan
// counts exactly the findings the records show; the JSON report is UTF-8
// with no raw control.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "driver/messages.hpp"
#include "fuzz.hpp"
#include "inspect/inspect.hpp"
#include "inspect/items.hpp"

using namespace rekmo;

namespace {

constexpr std::size_t MAX_RECORDS = 64;

bool is_item_fault(Result fault) {
    return fault == Result::ITEM_SIZE || fault == Result::ITEM_TYPE || fault == Result::ITEM_POSITION;
}

// Well-formed UTF-8 (the decoder's view of it is enough here: lead and
// continuation bytes in order) without bytes below 0x20.
bool clean_utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 && b != '\n') return false;
        const std::size_t n = b < 0x80                 ? 1
                              : b >= 0xC2 && b <= 0xDF ? 2
                              : b >= 0xE0 && b <= 0xEF ? 3
                              : b >= 0xF0 && b <= 0xF4 ? 4
                                                       : 0;
        if (n == 0 || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FormatAndHost input;
    if (!fuzz::split_input(data, size, input)) return 0;
    inspect::Report report;
    inspect::Layout& layout = report.layout;
    layout.path = "f.fmt";
    layout.error = parse_format(input.format, layout.format);
    if (!fuzz::within_fuzz_limits(layout.format)) return 0;
    fuzz::attach_gaiji_tables(layout.format);
    if (!layout.accepted()) layout.message = render_message(format_error_message(layout.error, layout.path), "UTF-8");
    for (const ItemDef& item : layout.format.items) layout.item_faults.push_back(item_fault(item));
    layout.findings = inspect::layout_findings(layout.format);

    // rekmo stops at the first faulty item; the list starts with it.
    std::size_t first_refused = 0;
    for (const inspect::LayoutFinding& f : layout.findings) {
        if (f.kind == inspect::LayoutKind::REJECTED && (first_refused == 0 || f.item < first_refused))
            first_refused = f.item;
    }
    if (is_item_fault(layout.error.result)) {
        FUZZ_CHECK(first_refused == static_cast<std::size_t>(layout.error.item_number));
    } else if (layout.error.result == Result::HOST_CODE) {
        // A faulty HOSTCODE line stands before every refused item.
        FUZZ_CHECK(first_refused == 0 || first_refused > layout.format.host_code_fault_items);
    } else if (layout.error.result == Result::OPTION) {
        // So does the first refused option line.
        const std::vector<OptionFault> faults = option_faults(layout.format);
        const auto first =
            std::find_if(faults.begin(), faults.end(), [](OptionFault f) { return f != OptionFault::NONE; });
        FUZZ_CHECK(first != faults.end());
        const OptionLine& line = layout.format.options[static_cast<std::size_t>(first - faults.begin())];
        FUZZ_CHECK(first_refused == 0 || first_refused > line.items_before);
    } else {
        FUZZ_CHECK(first_refused == 0);
    }

    const std::vector<std::uint8_t> head(input.host.begin(), input.host.end());
    report.host = inspect::check_host(input.host.size(), layout.format, head, {});
    // A chain of descriptor words is judged on any bytes without reading past them.
    for (const RecordFormat shape : {RecordFormat::V, RecordFormat::VB}) {
        const std::uint64_t chain = inspect::descriptor_chain(input.host, input.host.size(), shape);
        FUZZ_CHECK(chain == 0 || chain >= 2);
    }
    if (layout.accepted()) {
        const bool variable = record_format(layout.format) != RecordFormat::F;
        const auto length = static_cast<std::size_t>(layout.format.record_length);
        const std::span<const std::uint8_t> host =
            variable ? input.host : input.host.first(std::min(input.host.size(), MAX_RECORDS * length));
        Converter converter;
        FUZZ_CHECK(converter.open(layout.format).result == Result::OK);
        // The records as inspect shows them: cut by the record length, or
        // found by the converter's walk over the descriptors.
        std::optional<RecordFault> walk_fault;
        if (variable) {
            RecordWalk walk(record_format(layout.format), static_cast<std::size_t>(record_limit(layout.format)));
            std::size_t pos = 0;
            VariableRecord record;
            RecordFault fault;
            RecordWalk::Step step;
            while ((step = walk.next(host, pos, true, record, fault)) == RecordWalk::Step::RECORD) {
                FUZZ_CHECK(record.data.data() >= host.data() &&
                           record.data.data() + record.data.size() <= host.data() + host.size());
                FUZZ_CHECK(record.offset + 4 + record.data.size() <= host.size());
                inspect::sample_record(converter, record.data, record.number, true, report.records.emplace_back());
            }
            if (step == RecordWalk::Step::FAULT) walk_fault = fault;
        } else {
            inspect::sample_records(converter, host, 1, report.records);
        }
        // The shown texts, joined as rekmo joins them, are rekmo's lines up
        // to the first record of no kind, where rekmo stops as inspect says.
        std::vector<std::uint8_t> lines;
        std::uint64_t no_kind = 0, first_no_kind = 0;
        for (const inspect::RecordSample& record : report.records) {
            if (record.kind == inspect::NO_KIND) {
                if (no_kind++ == 0) first_no_kind = record.number;
                continue;
            }
            if (no_kind > 0) continue;
            for (std::size_t i = 0; i < record.items.size(); ++i) {
                if (i > 0) lines.push_back(',');
                lines.insert(lines.end(), record.items[i].text.begin(), record.items[i].text.end());
            }
            lines.push_back('\n');
        }
        std::vector<std::uint8_t> rekmo_lines;
        const Result converted = converter.convert(host, rekmo_lines);
        if (no_kind > 0) {
            FUZZ_CHECK(converted == Result::RECORD_KIND);
            FUZZ_CHECK(converter.record_fault().record == first_no_kind);
        } else if (walk_fault) {
            FUZZ_CHECK(converted == Result::RECORD_DESCRIPTOR);
            FUZZ_CHECK(converter.record_fault().record == walk_fault->record);
            FUZZ_CHECK(converter.record_fault().offset == walk_fault->offset);
        } else {
            FUZZ_CHECK(converted == Result::OK);
        }
        FUZZ_CHECK(rekmo_lines == lines);
        // The scan counts what the records show, on any number of threads.
        if (variable) {
            report.scan = inspect::empty_scan(converter);
            ItemTexts texts;
            RecordWalk walk(record_format(layout.format), static_cast<std::size_t>(record_limit(layout.format)));
            std::size_t pos = 0;
            VariableRecord record;
            RecordFault fault;
            while (walk.next(host, pos, true, record, fault) == RecordWalk::Step::RECORD)
                inspect::count_record(converter, record.data, record.number, texts, *report.scan);
        } else {
            fuzz::Source scan_source(host);
            report.scan.emplace();
            FUZZ_CHECK(inspect::scan_records(layout.format, scan_source, 2, *report.scan) == Result::OK);
        }
        FUZZ_CHECK(report.scan->records == report.records.size());
        FUZZ_CHECK(report.scan->no_kind == no_kind);
        for (const inspect::ItemScan& item : report.scan->items) {
            for (int k = 0; k < FINDING_KINDS; ++k) {
                std::vector<std::uint64_t> with;
                for (const inspect::RecordSample& record : report.records) {
                    for (const inspect::ItemSample& shown : record.items) {
                        if (shown.item == item.item && ((shown.findings >> k) & 1u)) with.push_back(record.number);
                    }
                }
                const auto kind = static_cast<std::size_t>(k);
                FUZZ_CHECK(item.records[kind] == with.size());
                with.resize(std::min(with.size(), inspect::FIRST_RECORDS_KEPT));
                FUZZ_CHECK(item.first[kind] == with);
            }
        }
    }
    (void)inspect::render_text(report);
    FUZZ_CHECK(clean_utf8(inspect::render_json(report)));
    return 0;
}
