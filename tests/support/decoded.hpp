// A decoder run over a byte string, for table-driven codec tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace rekmo::test {

// The text `decode(item bytes, out)` writes into a buffer of `bound` bytes.
template <typename Decode>
std::string decoded(const std::string& item, std::size_t bound, Decode decode) {
    std::string out(bound, '\0');
    out.resize(decode(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(item.data()), item.size()),
                      reinterpret_cast<std::uint8_t*>(out.data())));
    return out;
}

}  // namespace rekmo::test
