// Reading the format file from disk. The bytes go through the same reader and
// checks as any in-memory text; only opening and reading the file live here.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "format/format.hpp"
#include "format/reader.hpp"

namespace rekmo {

FormatError load_format(const std::string& path, FormatDef& def) noexcept {
    // Binary mode: the reader does the text-mode translation itself, the same
    // on every platform.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        def = FormatDef{};
        return FormatError{Result::CANNOT_OPEN, 0, 0};
    }
    return detail::read_format(def, [&](detail::FormatReader& reader) {
        std::uint8_t block[64 * 1024];
        // One byte past the bound tells a file of exactly the bound from one
        // that goes on (/dev/zero would go on for ever).
        std::uint64_t left = MAX_FORMAT_FILE_SIZE + 1;
        std::size_t n;
        while (left > 0 && !reader.ended() &&
               (n = std::fread(block, 1, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, left)),
                               file.get())) > 0) {
            reader.feed({block, n});
            left -= n;
        }
        // A read that fails (a directory, a device error) is not an empty
        // format: the file counts as one that cannot be opened.
        if (std::ferror(file.get())) return Result::CANNOT_OPEN;
        return left == 0 && !reader.ended() ? Result::FORMAT_SIZE : Result::OK;
    });
}

}  // namespace rekmo
