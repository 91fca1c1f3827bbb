// The copybook reader over arbitrary bytes: a layout it gives is one the
// format reader loads back as it is (its CSV, SCALE, SIGN, DIGITS, KIND and
// RECFM lines accepted and giving each item the form meant, each kind's
// items after its KIND line), every item and code inside the record; a
// refusal says why, at a place in the text.
#include <algorithm>
#include <string_view>

#include "copybook/copybook.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    if (size < 1) return 0;
    // The first byte picks the options, the record format among them.
    copybook::Options options;
    options.form = static_cast<copybook::SourceForm>(data[0] % 3);
    options.kanji = static_cast<copybook::Kanji>(data[0] / 3 % 3);
    options.mixed = static_cast<copybook::Kanji>(data[0] / 9 % 3);
    options.plain = data[0] / 27 % 2 == 1;
    options.recfm = static_cast<copybook::RecordForm>(data[0] / 54 % 5);
    options.max_items = 10000;
    const std::span<const std::uint8_t> text{data + 1, size - 1};
    // A copybook with records K1 to K3 has them written as kinds, their code
    // in T (text, bytes, text), and K0 as the records of no kind if it has
    // one (the seed "kinds").
    const auto has = [&](std::string_view name) {
        return std::search(text.begin(), text.end(), name.begin(), name.end()) != text.end();
    };
    if (!options.plain && has("K1")) {
        options.kinds = {{"K1", "1", false}, {"K2", "\xF2", true}, {"K3", "3", false}};
        options.kind_at = "T";
        if (has("K0")) options.kind_other = "K0";
    }
    copybook::Layout layout;
    copybook::Error error;
    if (!copybook::read_copybook(text, options, layout, error)) {
        FUZZ_CHECK(error.fault != copybook::Fault::NONE && !error.message.empty());
        const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        FUZZ_CHECK(error.at.line >= 0 && error.at.line <= lines);
        return 0;
    }
    FUZZ_CHECK(layout.record_length >= 1 && layout.record_length <= MAX_RECORD_LENGTH);
    const bool variable = options.recfm == copybook::RecordForm::V || options.recfm == copybook::RecordForm::VB;
    FUZZ_CHECK(!variable || layout.record_length <= copybook::MAX_VARIABLE_DATA);
    std::size_t kinds = 0;
    for (const copybook::Line& line : layout.lines) {
        if (line.kind) {
            // Each --kind once, its code inside the record, as long as its field.
            const KindTest& test = *line.kind;
            FUZZ_CHECK(test.start >= 0 && test.start + test.length <= layout.record_length);
            FUZZ_CHECK(std::any_of(options.kinds.begin(), options.kinds.end(), [&](const copybook::KindOption& k) {
                return k.value == test.value && k.raw == test.raw;
            }));
            FUZZ_CHECK(!test.raw || test.value.size() == static_cast<std::size_t>(test.length));
            ++kinds;
        }
        if (line.item.length == 0) continue;
        FUZZ_CHECK(item_fault(line.item) == Result::OK);
        FUZZ_CHECK(line.item.start + line.item.length <= layout.record_length);
    }
    FUZZ_CHECK(kinds == options.kinds.size());
    const std::string written = copybook::format_text(layout, {"fuzz"});
    FUZZ_CHECK(copybook::reads_back(written, layout, error));
    return 0;
}
