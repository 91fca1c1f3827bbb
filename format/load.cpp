// Reading the format file from disk. The bytes go through the same reader as
// any in-memory text; only opening and reading the file live here.
#include <cstdio>
#include <memory>
#include <new>

#include "format/format.hpp"

namespace rekmo {

int load_format(const std::string& path, FormatDef& def, FormatError& error) noexcept {
    error = FormatError{};
    // Binary mode: the reader does the text-mode translation itself, the same
    // on every platform.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        error.fault = FormatFault::CANNOT_OPEN;
        return -1;
    }
    try {
        FormatReader reader(def);
        std::uint8_t block[64 * 1024];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, file.get())) > 0)
            reader.feed(std::span<const std::uint8_t>(block, n));
        // A read that fails (a directory, a device error) is not an empty
        // format: the file counts as one that cannot be opened.
        if (std::ferror(file.get())) {
            error.fault = FormatFault::CANNOT_OPEN;
            return -1;
        }
        reader.finish();
    } catch (const std::bad_alloc&) {
        error.fault = FormatFault::OUT_OF_MEMORY;
        return 1;
    }
    error = check_format(def);
    return error.fault == FormatFault::NONE ? 0 : 1;
}

}  // namespace rekmo
