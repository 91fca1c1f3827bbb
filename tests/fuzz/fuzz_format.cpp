// The format reader over arbitrary bytes: a format it accepts is one the
// converter can run.
#include "format/format.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    FormatDef def;
    const FormatError error = parse_format({data, size}, def);
    FUZZ_CHECK(error.result != Result::CANNOT_OPEN);
    if (error.result == Result::OK) {
        FUZZ_CHECK(def.record_length >= 1 && def.record_length <= MAX_RECORD_LENGTH);
        for (const ItemDef& item : def.items) FUZZ_CHECK(item_fault(item) == Result::OK);
    } else if (error.result != Result::RECORD_LENGTH && error.result != Result::OUT_OF_MEMORY) {
        FUZZ_CHECK(error.item_number >= 1 && static_cast<std::size_t>(error.item_number) <= def.items.size());
        FUZZ_CHECK(item_fault(def.items[static_cast<std::size_t>(error.item_number - 1)]) == error.result);
    }
    // Reading is the same whatever the split of the bytes.
    FormatDef split;
    detail::FormatReader reader(split);
    reader.feed({data, size / 2});
    reader.feed({data + size / 2, size - size / 2});
    reader.finish();
    FUZZ_CHECK(split.items.size() == def.items.size() && split.record_length == def.record_length);
    return 0;
}
