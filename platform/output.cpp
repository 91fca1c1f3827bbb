// Writing a file whole, on both systems: the same steps over each system's
// own calls.
#include <string>

#include "platform/platform.hpp"

namespace rekmo::platform {

Result write_whole_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    OutputTarget target;
    if (resolve_output(path, target) != Result::OK) return Result::WRITE_ERROR;
    if (target.exists && target.kind == FileKind::DIRECTORY) return Result::WRITE_ERROR;
    File file;
    if (target.exists && target.kind == FileKind::OTHER) {
        // A device or a FIFO: nothing could take its place, and a file put
        // there would hide it (as root, -o /dev/null would replace the
        // system's null device).
        if (file.open_output(target.path) != Result::OK) return Result::WRITE_ERROR;
        const Result written = file.write(bytes);
        const Result closed = file.close();
        return written == Result::OK ? closed : written;
    }
    std::string temporary;
    for (int n = 0; n < 100 && !file.is_open(); ++n) {
        temporary = target.path + "." + std::to_string(n) + ".tmp";
        file.create_new(temporary, target.exists);
    }
    if (!file.is_open()) return Result::CANNOT_OPEN;
    bool written =
        (!target.exists || file.take_permissions_of(target.path) == Result::OK) && file.write(bytes) == Result::OK;
    written = file.close() == Result::OK && written;
    if (written && replace_file(temporary, target.path) == Result::OK) return Result::OK;
    remove_file(temporary);
    return Result::WRITE_ERROR;
}

}  // namespace rekmo::platform
