#include "support/iconv_util.hpp"

#include <iconv.h>

namespace rekmo::test {

std::optional<std::string> iconv_convert(const char* from, const char* to, const std::string& bytes) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(bytes.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(bytes.data());
    char* dst = out.data();
    std::size_t src_left = bytes.size(), dst_left = out.size();
    const bool ok = iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<std::size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) return std::nullopt;
    out.resize(out.size() - dst_left);
    return out;
}

}  // namespace rekmo::test
