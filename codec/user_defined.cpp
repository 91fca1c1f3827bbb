// The user-defined areas of the hosts' double-byte codes as code sets, for
// the pages' reports (codec/host_code.hpp).
#include "codec/host_code.hpp"

namespace rekmo {
namespace {

struct CodeSet {
    std::uint64_t words[1024];
};

template <bool (*AREA)(std::uint8_t, std::uint8_t)>
constexpr CodeSet area_set() {
    CodeSet set{};
    for (unsigned code = 0; code < 0x10000; ++code) {
        if (AREA(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code))) {
            set.words[code / 64] |= std::uint64_t{1} << (code % 64);
        }
    }
    return set;
}

constexpr CodeSet JEF_AREA = area_set<jef_user_defined>();
constexpr CodeSet KEIS_AREA = area_set<keis_user_defined>();

}  // namespace

const std::uint64_t (&JEF_USER_DEFINED)[1024] = JEF_AREA.words;
const std::uint64_t (&KEIS_USER_DEFINED)[1024] = KEIS_AREA.words;

}  // namespace rekmo
