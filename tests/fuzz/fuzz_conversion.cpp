// A whole conversion in memory: format text and host bytes from one input
// (the first two bytes give the format's length). Converting all records at
// once must equal converting each record alone and joining the lines.
#include <algorithm>
#include <string>
#include <vector>

#include "app/convert.hpp"
#include "fuzz.hpp"

using namespace rekmo;
using fuzz::Sink;
using fuzz::Source;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FormatAndHost input;
    if (!fuzz::split_input(data, size, input)) return 0;
    const std::span<const std::uint8_t> host = input.host;
    FormatDef def;
    FormatError error;
    if (parse_format(input.format, def, error) != 0 || !fuzz::within_fuzz_limits(def)) return 0;

    const ItemPlan plan = make_plan(def);
    const std::size_t length = plan.record_length;
    LoopOptions options;
    options.chunk_bytes = 3 * length;  // several chunks even for short inputs
    Source source(host);
    Sink all;
    const int result = convert_records(plan, source, all, options);
    const std::size_t records = host.size() / length;
    FUZZ_CHECK(result == (host.size() % length == 0 ? RESULT_OK : RESULT_FAILURE));
    FUZZ_CHECK(all.text.size() <= records * plan.line_bound);
    FUZZ_CHECK(fuzz::has_no_zero(all.text));

    std::vector<std::uint8_t> joined;
    for (std::size_t r = 0; r < records; ++r) {
        Source one(host.subspan(r * length, length));
        Sink line;
        FUZZ_CHECK(convert_records(plan, one, line, options) == RESULT_OK);
        FUZZ_CHECK(!line.text.empty() && line.text.back() == '\n');
        joined.insert(joined.end(), line.text.begin(), line.text.end());
    }
    FUZZ_CHECK(joined == all.text);
    return 0;
}
