// A whole conversion in memory: format text and host bytes from one input
// (the first two bytes give the format's length). The record loop, the
// in-memory conversion and each record converted alone, lines joined, must
// all give the same bytes (the loop's after the header of CSV=HEADER), and so
// do the line kernels of every level.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz.hpp"
#include "record/plan.hpp"

using namespace rekmo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FormatAndHost input;
    if (!fuzz::split_input(data, size, input)) return 0;
    const std::span<const std::uint8_t> host = input.host;
    FormatDef def;
    if (parse_format(input.format, def).result != Result::OK || !fuzz::within_fuzz_limits(def)) return 0;
    fuzz::attach_gaiji_tables(def);
    if (!kind_blocks(def).empty() || record_format(def) != RecordFormat::F) return 0;  // fuzz_shapes'

    Converter converter;
    const std::size_t length = static_cast<std::size_t>(def.record_length);
    FUZZ_CHECK(converter.open(def, {1, 3 * length}).result == Result::OK);  // several chunks even for short inputs
    fuzz::Source source(host);
    fuzz::Sink all;
    const Result result = converter.run(source, all);
    const std::size_t records = host.size() / length;
    const std::span<const std::uint8_t> header = converter.header();
    FUZZ_CHECK(result == (host.size() % length == 0 ? Result::OK : Result::READ_ERROR));
    FUZZ_CHECK(all.text.size() <= header.size() + records * converter.line_bound());
    FUZZ_CHECK(all.text.find('\0') == std::string::npos);

    // The run's header once, then the lines convert() gives.
    std::vector<std::uint8_t> in_memory, joined;
    FUZZ_CHECK(converter.convert(host, in_memory) == Result::OK);
    FUZZ_CHECK(std::string(header.begin(), header.end()) + std::string(in_memory.begin(), in_memory.end()) == all.text);
    for (std::size_t r = 0; r < records; ++r) {
        const std::size_t before = joined.size();
        FUZZ_CHECK(converter.convert(host.subspan(r * length, length), joined) == Result::OK);
        FUZZ_CHECK(joined.size() > before && joined.back() == '\n');
    }
    FUZZ_CHECK(joined == in_memory);

    const ItemPlan plan = make_plan(def);
    fuzz::for_each_vector_level([&](const VectorKernels& kernels) {
        RecordConverter level(plan, kernels);
        OutputBuffer out(records * plan.line_bound + LINE_SLACK + 1);
        FUZZ_CHECK(level.convert(host, out, nullptr) == Result::OK);
        FUZZ_CHECK(std::equal(out.bytes().begin(), out.bytes().end(), in_memory.begin(), in_memory.end()));
    });
    return 0;
}
