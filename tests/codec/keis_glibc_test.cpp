// KEIS text against glibc: random JIS X 0208 text encoded and decoded by
// glibc's iconv (Linux builds).
#include "codec/keis.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/decoded.hpp"
#include "support/jis_text.hpp"

namespace rekmo {
namespace {

std::string decode(bool mixed, const std::string& item) {
    return test::decoded(item, keis_bound(item.size()),
                         [&](auto in, std::uint8_t* out) { return decode_keis_field(mixed, in, out); });
}

const std::string SI = "\x0A\x42";  // into double-byte
const std::string SO = "\x0A\x41";  // back to single-byte

// Random JIS X 0208 text encoded by glibc, decoded here, compared with glibc's
// Shift_JIS; in K items between host single-byte stretches.
TEST(Keis, RoundTripsThroughGlibc) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 300; ++trial) {
        const test::JisText a = test::random_jis_text(rng, 1 + rng() % 80);
        EXPECT_EQ(decode(false, a.euc), a.sjis);

        const test::HostText x = test::random_host_text(rng, rng() % 10), y = test::random_host_text(rng, rng() % 10);
        const test::JisText b = test::random_jis_text(rng, 1 + rng() % 20);
        EXPECT_EQ(decode(true, x.host + SI + a.euc + SO + y.host + SI + b.euc + SO), x.text + a.sjis + y.text + b.sjis);
    }
}

}  // namespace
}  // namespace rekmo
