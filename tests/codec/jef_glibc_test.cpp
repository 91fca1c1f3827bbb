// JEF text against glibc: random JIS X 0208 text encoded and decoded by
// glibc's iconv (Linux builds).
#include "codec/jef.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/decoded.hpp"
#include "support/jis_text.hpp"

namespace rekmo {
namespace {

std::string decode(bool mixed, const std::string& item) {
    return test::decoded(item, jef_bound(item.size()),
                         [&](auto in, std::uint8_t* out) { return decode_jef_field(mixed, in, out); });
}

// Random JIS X 0208 text encoded by glibc (ideographic spaces also as 40 40),
// decoded here, compared with glibc's Shift_JIS.
TEST(Jef, RoundTripsThroughGlibc) {
    std::mt19937 rng(6);
    auto with_jef_spaces = [&](std::string euc) {
        for (std::size_t i = 0; i + 1 < euc.size(); i += 2)
            if (euc.compare(i, 2, "\xA1\xA1") == 0 && rng() % 2) euc.replace(i, 2, "\x40\x40");
        return euc;
    };
    for (int trial = 0; trial < 300; ++trial) {
        test::JisText a = test::random_jis_text(rng, 1 + rng() % 80);
        a.euc += "\xA1\xA1";
        a.sjis += "\x81\x40";
        EXPECT_EQ(decode(false, with_jef_spaces(a.euc)), a.sjis);

        const test::HostText x = test::random_host_text(rng, rng() % 10), y = test::random_host_text(rng, rng() % 10);
        const test::JisText b = test::random_jis_text(rng, 1 + rng() % 20);
        EXPECT_EQ(decode(true, x.host + "\x28" + with_jef_spaces(a.euc) + "\x29" + y.host + "\x28" + b.euc + "\x29"),
                  x.text + a.sjis + y.text + b.sjis);
    }
}

}  // namespace
}  // namespace rekmo
