// Record kinds and variable-length records over arbitrary bytes: format text
// and host bytes from one input (as fuzz_conversion). The loop on one thread
// and on three with chunks of a few records, and the conversion in memory,
// give the same lines, the same result and the same record at fault. Under
// RECFM=V and VB, the descriptor walk cut at every byte, its second part
// starting with the bytes the first left, passes the same records and stops
// at the same fault as the walk over the whole.
#include <string>
#include <vector>

#include "fuzz.hpp"
#include "record/variable.hpp"

using namespace rekmo;

namespace {

struct Walk {
    std::uint64_t records = 0;
    bool faulty = false;
    RecordFault fault;
};

Walk walk_in_two(const DescriptorState& start, std::span<const std::uint8_t> host, std::size_t at) {
    DescriptorState state = start;
    const DescriptorCut first = cut_records(state, host.first(at), false, SIZE_MAX);
    Walk walk{first.records, first.faulty, first.fault};
    if (first.faulty) return walk;
    const DescriptorCut rest = cut_records(state, host.subspan(first.bytes), true, SIZE_MAX);
    return {walk.records + rest.records, rest.faulty, rest.fault};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FormatAndHost input;
    if (!fuzz::split_input(data, size, input)) return 0;
    const std::span<const std::uint8_t> host = input.host;
    FormatDef def;
    if (parse_format(input.format, def).result != Result::OK || !fuzz::within_fuzz_limits(def)) return 0;
    fuzz::attach_gaiji_tables(def);
    const RecordFormat shape = record_format(def);
    if (kind_blocks(def).empty() && shape == RecordFormat::F) return 0;  // fuzz_conversion's

    const auto length = static_cast<std::size_t>(def.record_length);
    Result results[2];
    std::string texts[2];
    RecordFault faults[2];
    const ConvertOptions options[2] = {{1, 256u << 10}, {3, 2 * length}};
    for (int i = 0; i < 2; ++i) {
        Converter converter;
        FUZZ_CHECK(converter.open(def, options[i]).result == Result::OK);
        fuzz::Source source(host);
        fuzz::Sink sink;
        results[i] = converter.run(source, sink);
        texts[i] = sink.text;
        faults[i] = converter.record_fault();
    }
    FUZZ_CHECK(results[0] == results[1] && texts[0] == texts[1]);
    FUZZ_CHECK(faults[0].record == faults[1].record && faults[0].offset == faults[1].offset);
    FUZZ_CHECK(texts[0].find('\0') == std::string::npos);

    Converter converter;
    FUZZ_CHECK(converter.open(def).result == Result::OK);
    std::vector<std::uint8_t> lines;
    const Result in_memory = converter.convert(host, lines);
    FUZZ_CHECK(std::string(lines.begin(), lines.end()) == texts[0]);
    if (shape == RecordFormat::F) {
        // A partial record at the end is a read error for the loop alone.
        FUZZ_CHECK(in_memory == results[0] || (in_memory == Result::OK && results[0] == Result::READ_ERROR));
        return 0;
    }
    FUZZ_CHECK(in_memory == results[0] && converter.record_fault().record == faults[0].record);

    DescriptorState start;
    start.blocked = shape == RecordFormat::VB;
    start.limit = static_cast<std::size_t>(record_limit(def));
    const Walk whole = walk_in_two(start, host, host.size());
    FUZZ_CHECK(whole.faulty == (results[0] == Result::RECORD_DESCRIPTOR) || results[0] == Result::RECORD_KIND);
    for (std::size_t at = 0; at < host.size(); ++at) {
        const Walk split = walk_in_two(start, host, at);
        FUZZ_CHECK(split.records == whole.records && split.faulty == whole.faulty);
        FUZZ_CHECK(split.fault.record == whole.fault.record && split.fault.offset == whole.fault.offset);
    }
    return 0;
}
