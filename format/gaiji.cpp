// Gaiji table files: the pure reader of their bytes, and the loading of the
// tables a format names.
#include "format/gaiji.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace rekmo {
namespace {

constexpr bool is_space(char c) noexcept { return c == ' ' || c == '\t'; }

int hex_digit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A run of hex digits as a number; -1 when any byte is no digit.
long hex_number(std::string_view digits) noexcept {
    long value = 0;
    for (const char c : digits) {
        const int d = hex_digit(c);
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

// A character a text may hold: no control character (C0, DEL, C1), no
// surrogate, nothing past U+10FFFF.
constexpr bool usable_code_point(long cp) noexcept {
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    return cp <= 0x10FFFF;
}

std::size_t utf8_length(char32_t cp) noexcept { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// A code byte of a table: 40-FE, as the host's double-byte codes and
// single-byte graphic characters lie.
constexpr bool code_byte(long b) noexcept { return b >= 0x40 && b <= 0xFE; }

// Reads one line (comment and ends removed) into `entry`: false when malformed
// or out of range.
bool read_line(std::string_view line, GaijiCode code, GaijiEntry& entry) {
    std::size_t i = 0;
    const auto word = [&] {
        while (i < line.size() && is_space(line[i])) ++i;
        const std::size_t begin = i;
        while (i < line.size() && !is_space(line[i])) ++i;
        return line.substr(begin, i - begin);
    };
    const std::string_view hex = word();
    const std::size_t digits = code == GaijiCode::EBCDIC ? 2 : 4;
    const long value = hex.size() == digits ? hex_number(hex) : -1;
    if (value < 0) return false;
    if (digits == 4 ? !(code_byte(value >> 8) && code_byte(value & 0xFF)) : !code_byte(value)) return false;
    entry.code = static_cast<std::uint16_t>(value);
    entry.text.clear();
    std::size_t utf8 = 0;
    for (std::string_view cp = word(); !cp.empty(); cp = word()) {
        // U+ then four to six hex digits.
        if (cp.size() < 6 || cp.size() > 8 || (cp[0] != 'U' && cp[0] != 'u') || cp[1] != '+') return false;
        const long point = hex_number(cp.substr(2));
        if (!usable_code_point(point)) return false;
        entry.text.push_back(static_cast<char32_t>(point));
        utf8 += utf8_length(static_cast<char32_t>(point));
    }
    const std::size_t most = code == GaijiCode::EBCDIC ? MAX_GAIJI_UTF8_SINGLE : MAX_GAIJI_UTF8_PAIR;
    return !entry.text.empty() && utf8 <= most;
}

}  // namespace

std::size_t parse_gaiji_table(std::span<const std::uint8_t> bytes, GaijiCode code, GaijiTable& table) {
    table.code = code;
    table.entries.clear();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t number = 0;
    std::vector<bool> seen(0x10000);
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        std::string_view line = text.substr(begin, end - begin);
        begin = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = line.substr(0, line.find('#'));
        if (std::all_of(line.begin(), line.end(), is_space)) continue;
        GaijiEntry entry;
        if (!read_line(line, code, entry)) return number;
        // A code an earlier line gave is a fault of this line.
        if (seen[entry.code]) return number;
        seen[entry.code] = true;
        table.entries.push_back(std::move(entry));
    }
    std::sort(table.entries.begin(), table.entries.end(),
              [](const GaijiEntry& a, const GaijiEntry& b) { return a.code < b.code; });
    return 0;
}

std::string gaiji_utf8(std::u32string_view text) {
    std::string out;
    for (const char32_t cp : text) {
        const std::size_t n = utf8_length(cp);
        if (n == 1) {
            out += static_cast<char>(cp);
            continue;
        }
        static constexpr unsigned char LEAD[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(LEAD[n] | (cp >> (6 * (n - 1))));
        for (std::size_t k = n - 1; k-- > 0;) out += static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F));
    }
    return out;
}

std::string_view format_folder(std::string_view format_path) noexcept {
#ifdef _WIN32
    const std::size_t slash = format_path.find_last_of("/\\");
#else
    const std::size_t slash = format_path.rfind('/');
#endif
    return slash == std::string_view::npos ? std::string_view{} : format_path.substr(0, slash + 1);
}

std::string gaiji_path(std::string_view folder, std::string_view path) {
#ifdef _WIN32
    const bool absolute =
        (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() >= 2 && path[1] == ':');
#else
    const bool absolute = !path.empty() && path[0] == '/';
#endif
    return absolute ? std::string(path) : std::string(folder) + std::string(path);
}

GaijiLoad load_gaiji_tables(FormatDef& def, std::string_view folder) noexcept {
    GaijiLoad load;
    try {
        for (OptionLine& option : def.options) {
            if (option.kind != OptionKind::GAIJI || !option.well_formed) continue;
            load.path = gaiji_path(folder, option.path);
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(load.path.c_str(), "rb"), &std::fclose);
            if (!file) {
                load.result = Result::CANNOT_OPEN;
                return load;
            }
            // One byte past the bound tells a file of exactly the bound from
            // one that goes on.
            std::vector<std::uint8_t> bytes(MAX_GAIJI_FILE_SIZE + 1);
            const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), file.get());
            if (std::ferror(file.get())) {
                load.result = Result::CANNOT_OPEN;  // a directory, a device error
                return load;
            }
            if (n > MAX_GAIJI_FILE_SIZE) {
                load.result = Result::FORMAT_SIZE;
                return load;
            }
            auto table = std::make_shared<GaijiTable>();
            load.line = parse_gaiji_table({bytes.data(), n}, option.gaiji_code, *table);
            if (load.line != 0) {
                load.result = Result::OPTION;
                return load;
            }
            option.gaiji_table = std::move(table);
        }
    } catch (const std::bad_alloc&) {
        load.result = Result::OUT_OF_MEMORY;
        return load;
    }
    load.path.clear();
    return load;
}

std::string gaiji_fault_value(const GaijiLoad& load) { return load.path + " " + std::to_string(load.line); }

}  // namespace rekmo
