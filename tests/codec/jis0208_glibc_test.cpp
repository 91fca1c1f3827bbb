// The JIS X 0208 to Shift_JIS arithmetic against glibc on every character
// (Linux builds).
#include "codec/jis0208.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/iconv_util.hpp"

namespace rekmo {
namespace {

std::string sjis_of(std::uint8_t j1, std::uint8_t j2) {
    std::uint8_t out[3] = {0xEE, 0xEE, 0xEE};
    jis_to_sjis(j1, j2, out);
    EXPECT_EQ(out[2], 0);
    return std::string(reinterpret_cast<const char*>(out));  // up to the first zero byte
}

// Every JIS X 0208 character glibc's EUC-JP knows (EUC-JP is JIS with both
// bytes | 0x80), converted by glibc to SHIFT_JIS, against the arithmetic.
TEST(Jis0208, MatchesGlibcOnEveryCharacter) {
    int characters = 0;
    for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
            const std::string euc = {static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)};
            const std::optional<std::string> theirs = test::iconv_convert("EUC-JP", "SHIFT_JIS", euc);
            // The bitmap of assigned cells agrees with glibc on every cell.
            ASSERT_EQ(jis0208_assigned(static_cast<std::uint8_t>(j1), static_cast<std::uint8_t>(j2)), theirs.has_value())
                << std::hex << j1 << " " << j2;
            if (!theirs) continue;  // unassigned
            ++characters;
            ASSERT_EQ(sjis_of(static_cast<std::uint8_t>(j1), static_cast<std::uint8_t>(j2)), *theirs)
                << std::hex << j1 << " " << j2;
        }
    }
    EXPECT_EQ(characters, 6879);  // all of JIS X 0208
}

}  // namespace
}  // namespace rekmo
