// The format reader over arbitrary bytes: a format it accepts is one the
// converter can run.
#include "format/format.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    FormatDef def;
    FormatError error;
    const int result = parse_format({data, size}, def, error);
    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK((result == 0) == (error.fault == FormatFault::NONE));
    FUZZ_CHECK(error.fault != FormatFault::CANNOT_OPEN);
    if (result == 0) {
        FUZZ_CHECK(def.record_length >= 1 && def.record_length <= MAX_RECORD_LENGTH);
        for (const ItemDef& item : def.items) FUZZ_CHECK(item_fault(item) == FormatFault::NONE);
    } else if (error.fault != FormatFault::RECORD_LENGTH && error.fault != FormatFault::OUT_OF_MEMORY) {
        FUZZ_CHECK(error.item_number >= 1 && static_cast<std::size_t>(error.item_number) <= def.items.size());
        FUZZ_CHECK(item_fault(def.items[static_cast<std::size_t>(error.item_number - 1)]) == error.fault);
    }
    // Reading is the same whatever the split of the bytes.
    FormatDef split;
    FormatReader reader(split);
    reader.feed({data, size / 2});
    reader.feed({data + size / 2, size - size / 2});
    reader.finish();
    FUZZ_CHECK(split.items.size() == def.items.size() && split.record_length == def.record_length);
    return 0;
}
