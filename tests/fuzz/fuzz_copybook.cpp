// The copybook reader over arbitrary bytes: a layout it gives is one the
// format reader loads back as it is (its CSV, SCALE, SIGN and DIGITS lines
// accepted and giving each item the form meant), every item inside the
// record; a refusal says why, at a place in the text.
#include <algorithm>

#include "copybook/copybook.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    if (size < 1) return 0;
    // The first byte picks the options.
    copybook::Options options;
    options.form = static_cast<copybook::SourceForm>(data[0] % 3);
    options.kanji = static_cast<copybook::Kanji>(data[0] / 3 % 3);
    options.mixed = static_cast<copybook::Kanji>(data[0] / 9 % 3);
    options.plain = data[0] / 27 % 2 == 1;
    options.max_items = 10000;
    const std::span<const std::uint8_t> text{data + 1, size - 1};
    copybook::Layout layout;
    copybook::Error error;
    if (!copybook::read_copybook(text, options, layout, error)) {
        FUZZ_CHECK(error.fault != copybook::Fault::NONE && !error.message.empty());
        const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        FUZZ_CHECK(error.at.line >= 0 && error.at.line <= lines);
        return 0;
    }
    FUZZ_CHECK(layout.record_length >= 1 && layout.record_length <= MAX_RECORD_LENGTH);
    for (const copybook::Line& line : layout.lines) {
        if (line.item.length == 0) continue;
        FUZZ_CHECK(item_fault(line.item) == Result::OK);
        FUZZ_CHECK(line.item.start + line.item.length <= layout.record_length);
    }
    const std::string written = copybook::format_text(layout, {"fuzz"});
    FUZZ_CHECK(copybook::reads_back(written, layout, error));
    return 0;
}
