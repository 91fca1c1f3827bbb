// A whole conversion in memory: format text and host bytes from one input
// (the first two bytes give the format's length). Converting all records at
// once must equal converting each record alone and joining the lines.
#include <algorithm>
#include <string>
#include <vector>

#include "app/convert.hpp"
#include "fuzz.hpp"

namespace {

using namespace rekmo;

class Source final : public ByteSource {
public:
    explicit Source(std::span<const std::uint8_t> data) : data_(data) {}
    Result read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), data_.size() - pos_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        return {n, false};
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

class Sink final : public ByteSink {
public:
    bool write(std::span<const std::uint8_t> bytes) override {
        text.insert(text.end(), bytes.begin(), bytes.end());
        return true;
    }
    std::vector<std::uint8_t> text;
};

// Keeps each input fast: long records and items say nothing more.
constexpr std::int32_t MAX_FUZZ_LENGTH = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t format_size = std::min<std::size_t>(static_cast<std::size_t>(data[0] | data[1] << 8), size - 2);
    const std::span<const std::uint8_t> format_text(data + 2, format_size);
    const std::span<const std::uint8_t> host(data + 2 + format_size, size - 2 - format_size);

    FormatDef def;
    FormatError error;
    if (parse_format(format_text, def, error) != 0 || def.record_length > MAX_FUZZ_LENGTH) return 0;
    for (const ItemDef& item : def.items)
        if (item.length > MAX_FUZZ_LENGTH) return 0;

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
