// The gaiji table reader over arbitrary bytes (the first byte picks JEF,
// KEIS or EBCDIC, the rest is the table): a table it reads has codes in range,
// each once, in order; and a record of every code it gives converts to the
// entries' characters, in UTF-8 as given and in Shift_JIS as the pairing and
// code page 932 say, on the default decoders and under a HOSTCODE page.
#include <memory>
#include <string>

#include "codec/cp932.hpp"
#include "format/gaiji.hpp"
#include "fuzz.hpp"

namespace {

using namespace rekmo;

std::string sjis_text(const GaijiEntry& entry) {
    std::uint16_t code = 0;
    if (entry.text.size() == 1) {
        code = cp932_eudc(entry.text[0]);
        if (code == 0) code = cp932_code(entry.text[0]);
    }
    if (code == 0) return "\x81\xAC";
    return code > 0xFF ? std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}
                       : std::string(1, static_cast<char>(code));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto code = static_cast<GaijiCode>(data[0] % 3);
    auto table = std::make_shared<GaijiTable>();
    const std::span<const std::uint8_t> text(data + 1, size - 1);
    const std::size_t fault = parse_gaiji_table(text, code, *table);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), std::uint8_t{'\n'})) + 1;
    FUZZ_CHECK(fault <= lines);
    if (fault != 0 || table->entries.empty()) return 0;
    const bool single = code == GaijiCode::EBCDIC;
    for (std::size_t i = 0; i < table->entries.size(); ++i) {
        const GaijiEntry& entry = table->entries[i];
        FUZZ_CHECK(i == 0 || table->entries[i - 1].code < entry.code);
        const unsigned lead = entry.code >> 8, trail = entry.code & 0xFF;
        FUZZ_CHECK(single ? lead == 0 && trail >= 0x40 && trail <= 0xFE
                          : lead >= 0x40 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE);
        FUZZ_CHECK(!entry.text.empty());
        FUZZ_CHECK(gaiji_utf8(entry.text).size() <= (single ? MAX_GAIJI_UTF8_SINGLE : MAX_GAIJI_UTF8_PAIR));
    }
    // One record: every code, as an E or FN/KN item each.
    const std::size_t width = single ? 1 : 2;
    const char* type = single ? "E" : code == GaijiCode::JEF ? "FN" : "KN";
    const char* name = single ? "EBCDIC" : code == GaijiCode::JEF ? "JEF" : "KEIS";
    const char* host = single ? "JEF" : code == GaijiCode::JEF ? "JEF" : "KEIS83";
    std::vector<std::uint8_t> record;
    std::string items;
    for (std::size_t i = 0; i < table->entries.size(); ++i) {
        const GaijiEntry& entry = table->entries[i];
        if (!single) record.push_back(static_cast<std::uint8_t>(entry.code >> 8));
        record.push_back(static_cast<std::uint8_t>(entry.code));
        items += "I," + std::to_string(i * width + 1) + "," + std::to_string(width) + "," + type + ",1\n";
    }
    for (const bool hosted : {false, true}) {
        for (const bool utf8 : {false, true}) {
            const std::string format = std::string(hosted ? "HOSTCODE=" + std::string(host) + "\n" : "") +
                                       (utf8 ? "CSV=UTF8\n" : "") + "GAIJI=" + name + ",t\n" + items;
            FormatDef def;
            FUZZ_CHECK(
                parse_format({reinterpret_cast<const std::uint8_t*>(format.data()), format.size()}, def).result ==
                Result::OK);
            for (OptionLine& option : def.options) {
                if (option.kind == OptionKind::GAIJI) option.gaiji_table = table;
            }
            Converter converter;
            FUZZ_CHECK(converter.open(def).result == Result::OK);
            std::vector<std::uint8_t> lines_out;
            FUZZ_CHECK(converter.convert(record, lines_out) == Result::OK);
            std::string want;
            for (const GaijiEntry& entry : table->entries)
                want += (utf8 ? gaiji_utf8(entry.text) : sjis_text(entry)) + ",";
            want.back() = '\n';
            FUZZ_CHECK(std::string(lines_out.begin(), lines_out.end()) == want);
        }
    }
    return 0;
}
