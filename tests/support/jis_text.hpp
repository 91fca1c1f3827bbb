// Random JIS X 0208 text with its encodings, all from glibc's iconv, for
// round trips through the double-byte decoders.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace rekmo::test {

struct JisText {
    std::string euc;   // EUC-JP: row and cell | 0x80, which is KEIS and JEF double-byte text
    std::string sjis;  // the same characters in Shift_JIS
};

// Every character of JIS X 0208 that glibc's EUC-JP knows, as UTF-8.
const std::vector<std::string>& jis_characters();

// `count` random characters of JIS X 0208.
JisText random_jis_text(std::mt19937& rng, std::size_t count);

// Host single-byte text for upper-case letters, digits and spaces, and the
// same text as it reads converted.
struct HostText {
    std::string host;
    std::string text;
};
HostText random_host_text(std::mt19937& rng, std::size_t count);

}  // namespace rekmo::test
