// The layout as format-file text, and the check that the format reader reads
// back exactly that layout.
#include <string_view>

#include "copybook/copybook.hpp"

namespace rekmo::copybook {
namespace {

constexpr std::size_t MAX_COMMENT = 400;  // well inside the reader's 1023-byte lines

// A comment stays one line: control bytes become '?', and a long one is cut.
void append_comment(std::string& out, std::string_view text) {
    out += "# ";
    for (const char c : text.substr(0, MAX_COMMENT)) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    out += '\n';
}

const char* type_letters(ItemType type) {
    switch (type) {
        case ITEM_EBCDIC:
            return "E";
        case ITEM_PACKED:
            return "P";
        case ITEM_ZONED:
            return "Z";
        case ITEM_JIS:
            return "J";
        case ITEM_JEF:
            return "F";
        case ITEM_JEF_N:
            return "FN";
        case ITEM_KEIS:
            return "K";
        case ITEM_KEIS_N:
            return "KN";
        case ITEM_NONE:
            break;
    }
    return "?";
}

}  // namespace

std::string format_text(const Layout& layout, const std::vector<std::string>& header) {
    std::string out;
    for (const std::string& line : header) append_comment(out, line);
    out += "RECLEN=" + std::to_string(layout.record_length) + "\n";
    for (const Line& line : layout.lines) {
        append_comment(out, line.comment);
        if (line.item.length == 0) continue;
        const ItemDef& item = line.item;
        out += item.name + "," + std::to_string(item.start + 1) + "," + std::to_string(item.length) + "," +
               type_letters(item.type) + "," + std::to_string(item.output) + "\n";
    }
    return out;
}

bool reads_back(std::string_view text, const Layout& layout, Error& error) {
    FormatDef def;
    const FormatError loaded = parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, def);
    std::size_t n = 0;
    bool same = loaded.result == Result::OK && def.record_length == layout.record_length;
    for (const Line& line : layout.lines) {
        if (line.item.length == 0) continue;
        const ItemDef& want = line.item;
        same = same && n < def.items.size() && def.items[n].name == want.name && def.items[n].start == want.start &&
               def.items[n].length == want.length && def.items[n].type == want.type &&
               def.items[n].output == want.output;
        ++n;
    }
    if (same && n == def.items.size()) return true;
    error = Error{Fault::COPYBOOK, Location{},
                  "the format file written does not read back as the layout (format reader result " +
                      std::to_string(static_cast<int>(loaded.result)) + ", item " + std::to_string(loaded.item_number) +
                      "); nothing was written"};
    return false;
}

}  // namespace rekmo::copybook
