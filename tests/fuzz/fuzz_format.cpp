// The format reader over arbitrary bytes: a format it accepts is one the
// converter can run.
#include <string>
#include <vector>

#include "format/format.hpp"
#include "format/reader.hpp"
#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rekmo;
    FormatDef def;
    const FormatError error = parse_format({data, size}, def);
    FUZZ_CHECK(error.result != Result::CANNOT_OPEN);
    if (error.result == Result::OK) {
        FUZZ_CHECK(def.record_length >= 1 && def.record_length <= MAX_RECORD_LENGTH);
        for (const ItemDef& item : def.items) FUZZ_CHECK(item_fault(item) == Result::OK);
        for (const OptionFault fault : option_faults(def)) FUZZ_CHECK(fault == OptionFault::NONE);
        // An option line is one that would be refused as an item.
        for (const OptionLine& option : def.options) {
            FormatDef alone;
            const std::string line = option.text.substr(0, option.text.find('\0')) + "\n";
            (void)parse_format({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()}, alone);
            FUZZ_CHECK(alone.items.empty() && alone.options.size() == 1);
        }
    } else if (error.result == Result::HOST_CODE) {
        FUZZ_CHECK(def.host_code_faulty && error.value == def.host_code_fault);
        for (std::size_t i = 0; i < def.host_code_fault_items; ++i) FUZZ_CHECK(item_fault(def.items[i]) == Result::OK);
    } else if (error.result == Result::OPTION) {
        // The first refused option line, with every item before it accepted.
        const std::vector<OptionFault> faults = option_faults(def);
        std::size_t j = 0;
        while (j < faults.size() && faults[j] == OptionFault::NONE) ++j;
        FUZZ_CHECK(j < faults.size() && error.value == def.options[j].text);
        for (std::size_t i = 0; i < def.options[j].items_before; ++i)
            FUZZ_CHECK(item_fault(def.items[i]) == Result::OK);
    } else if (error.result != Result::RECORD_LENGTH && error.result != Result::OUT_OF_MEMORY) {
        FUZZ_CHECK(error.item_number >= 1 && static_cast<std::size_t>(error.item_number) <= def.items.size());
        FUZZ_CHECK(item_fault(def.items[static_cast<std::size_t>(error.item_number - 1)]) == error.result);
        // A faulty HOSTCODE line, if any, comes after the faulty item.
        FUZZ_CHECK(!def.host_code_faulty || def.host_code_fault_items >= static_cast<std::size_t>(error.item_number));
    }
    // Reading is the same whatever the split of the bytes.
    FormatDef split;
    detail::FormatReader reader(split);
    reader.feed({data, size / 2});
    reader.feed({data + size / 2, size - size / 2});
    reader.finish();
    FUZZ_CHECK(split.items.size() == def.items.size() && split.record_length == def.record_length);
    FUZZ_CHECK(split.host_code == def.host_code && split.host_code_faulty == def.host_code_faulty);
    FUZZ_CHECK(split.options.size() == def.options.size());
    return 0;
}
