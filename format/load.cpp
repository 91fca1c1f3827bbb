// Reading the format file from disk. The bytes go through the same reader and
// checks as any in-memory text; only opening and reading the file live here.
#include <cstdio>
#include <memory>

#include "format/format.hpp"

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
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, file.get())) > 0) reader.feed({block, n});
        // A read that fails (a directory, a device error) is not an empty
        // format: the file counts as one that cannot be opened.
        return std::ferror(file.get()) ? Result::CANNOT_OPEN : Result::OK;
    });
}

}  // namespace rekmo
