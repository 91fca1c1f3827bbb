// Rekmo's conversion in a program of your own: host records held in memory
// converted through rekmo/rekmo.hpp, as rekmo itself converts them.
//
//   convert_in_memory FormatFile HostFile            the CSV lines, as rekmo writes WinFile
//   convert_in_memory FormatFile HostFile --items    each record's items, one per line:
//                                                    record, item name, text (Shift_JIS)
//
// Built with the project (build/<preset>/examples/convert_in_memory); link
// the rekmo_core library and its include folder to use it elsewhere.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "rekmo/rekmo.hpp"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: convert_in_memory FormatFile HostFile [--items]\n");
        return 2;
    }
    // The same reader and the same faults as rekmo.
    rekmo::FormatDef format;
    if (const rekmo::FormatError e = rekmo::load_format(argv[1], format); e.result != rekmo::Result::OK) {
        std::fprintf(stderr, "%s: refused (item %lld)\n", argv[1], static_cast<long long>(e.item_number));
        return 1;
    }
    rekmo::Converter converter;
    if (converter.open(format).result != rekmo::Result::OK) return 1;

    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<std::uint8_t> host((std::istreambuf_iterator<char>(in)), {});
    if (host.size() % converter.record_length() != 0) {
        std::fprintf(stderr, "%s: no whole number of %zu-byte records\n", argv[2], converter.record_length());
        return 1;
    }
    if (argc < 4) {
        // Under CSV=HEADER the names come first, once: convert() writes only
        // the records' lines, so that records can come in pieces.
        const auto header = converter.header();
        std::vector<std::uint8_t> lines(header.begin(), header.end());
        lines.reserve(header.size() + host.size() / converter.record_length() * converter.line_bound());
        if (converter.convert(host, lines) != rekmo::Result::OK) return 1;
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        return 0;
    }
    // Per-item texts: one record range at a time, one text per column.
    rekmo::ItemTexts texts;
    if (converter.item_texts(host, texts) != rekmo::Result::OK) return 1;
    const auto columns = converter.columns();
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const std::string& name = format.items[columns[k % columns.size()].item].name;
        const auto text = texts.text(k);
        std::printf("%zu\t%s\t%.*s\n", k / columns.size() + 1, name.c_str(), static_cast<int>(text.size()),
                    reinterpret_cast<const char*>(text.data()));
    }
    return 0;
}
