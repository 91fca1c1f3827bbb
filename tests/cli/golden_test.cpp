// End-to-end on every platform: conversions whose output must be the same
// bytes wherever rekmo runs. tests/data holds the Linux build's output; the
// Windows build is held to the same files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/run.hpp"

namespace rekmo {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The same numbers on every platform and standard library (splitmix64).
class Bits {
public:
    explicit Bits(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    char byte(int lo, int hi) { return static_cast<char>(lo + below(hi - lo + 1)); }

private:
    std::uint64_t state_;
};

// Item contents that take each decoder through its states, rather than
// noise alone: digits with every sign, escape sequences and shift codes
// around double-byte runs, the odd stray byte.
std::string packed(Bits& bits, std::size_t n) {
    std::string item;
    for (std::size_t i = 0; i < n; ++i) {
        const int high = bits.below(20) == 0 ? bits.below(16) : bits.below(10);
        const int low = i + 1 == n ? 0xA + bits.below(6) : (bits.below(20) == 0 ? bits.below(16) : bits.below(10));
        item += static_cast<char>(high << 4 | low);
    }
    return item;
}

std::string zoned(Bits& bits, std::size_t n) {
    std::string item;
    for (std::size_t i = 0; i < n; ++i) {
        const int zone = i + 1 == n ? 0xA + bits.below(6) : (bits.below(15) == 0 ? 3 : 0xF);
        item += bits.below(25) == 0 ? '\x40' : static_cast<char>(zone << 4 | bits.below(10));
    }
    return item;
}

std::string jis_pairs(Bits& bits, int count, int lo, int hi) {
    std::string run;
    for (int i = 0; i < count; ++i) run += {bits.byte(lo, hi), bits.byte(lo, hi)};
    return run;
}

std::string jis(Bits& bits, std::size_t n) {
    static const char* const RETURNS[] = {"\x1B(J", "\x1B(H", "\x1B(B"};
    std::string item;
    while (item.size() < n) {
        switch (bits.below(5)) {
            case 0: item += {bits.byte(0x20, 0x7E), bits.byte(0x20, 0x7E)}; break;
            case 1: item += "\x1B$B" + jis_pairs(bits, 1 + bits.below(4), 0x21, 0x7E); break;
            case 2: item += RETURNS[bits.below(3)]; break;
            case 3: item += bits.below(4) == 0 ? std::string(1, '\0') : std::string(1, bits.byte(0xA1, 0xDF)); break;
            default: item += bits.byte(0, 255); break;
        }
    }
    return item.substr(0, n);
}

std::string host_double_byte(Bits& bits, std::size_t n, const std::string& shift_in, const std::string& shift_out) {
    std::string item;
    while (item.size() < n) {
        switch (bits.below(4)) {
            case 0: item += bits.byte(0x40, 0xFF); break;
            case 1: item += shift_in + jis_pairs(bits, 1 + bits.below(5), 0xA1, 0xFE) + shift_out; break;
            case 2: item += bits.below(2) ? shift_in : shift_out; break;
            default: item += bits.below(3) == 0 ? std::string("\x40\x40") : std::string(1, bits.byte(0, 255)); break;
        }
    }
    return item.substr(0, n);
}

std::string double_byte_only(Bits& bits, std::size_t n) {
    std::string item;
    while (item.size() < n) item += bits.below(6) == 0 ? std::string("\x40\x40") : jis_pairs(bits, 1, 0xA1, 0xFE);
    return item.substr(0, n);
}

constexpr int RECORD_LENGTH = 256;

// Every item type, an item past the record's end, a negative length and an
// item left out.
const char* const EVERY_TYPE_FORMAT =
    "# every item type\r\n"
    "RECLEN=256\r\n"
    "E,1,20,E,1\r\n"
    "P,21,8,P,1\r\n"
    "Z,29,18,Z,1\r\n"
    "PLONG,47,12,P,1\r\n"
    "J,59,40,J,1\r\n"
    "K,99,40,K,1\r\n"
    "KN,139,20,KN,1\r\n"
    "F,159,40,F,1\r\n"
    "FN,199,21,FN,1\r\n"
    "SKIP,220,20,E,0\r\n"
    "NEG,220,-3,Z,1\r\n"
    "ZLONG,220,30,Z,1\r\n"
    "PAST,250,12,E,1\r\n";

std::string every_type_host(int records) {
    Bits bits(20261206);
    std::string host;
    for (int r = 0; r < records; ++r) {
        std::string record;
        if (r % 10 == 9) {
            for (int i = 0; i < RECORD_LENGTH; ++i) record += bits.byte(0, 255);  // noise
        } else {
            // One statement each: the order of the draws must not be left to
            // the compiler.
            for (int i = 0; i < 20; ++i) record += bits.byte(0, 255);
            record += packed(bits, 8);
            record += zoned(bits, 18);
            record += packed(bits, 12);
            record += jis(bits, 40);
            record += host_double_byte(bits, 40, "\x0A\x42", "\x0A\x41");
            record += double_byte_only(bits, 20);
            record += host_double_byte(bits, 40, "\x28", "\x29");
            record += double_byte_only(bits, 21);
            record += zoned(bits, 30);
            record += std::string(7, bits.byte(0xC1, 0xC9));
        }
        EXPECT_EQ(record.size(), static_cast<std::size_t>(RECORD_LENGTH));
        host += record;
    }
    return host;
}

class Golden : public ::testing::Test {
protected:
    // A folder beside the tests, named by a relative path: the operands never
    // hold a space, wherever the build is.
    void SetUp() override {
        dir_ = fs::path("golden-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return path(name);
    }
    fs::path dir_;
};

// The bundled customer master, every item type; the expected CSV was built
// from the texts the records were made of (examples/make_example.py).
TEST_F(Golden, BundledExample) {
    const fs::path source = REKMO_SOURCE_DIR;
    const std::string host = write("customers.bin", read_file(source / "examples" / "customers.bin"));
    const std::string format = write("customers.fmt", read_file(source / "examples" / "customers.fmt"));
    const auto r = test::run_rekmo({host, path("out.csv"), format});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(read_file(path("out.csv")), read_file(source / "tests" / "data" / "customers.csv"));
}

// REKMO_UPDATE_GOLDEN=1 in a Linux build rewrites the expected file after an
// intended change of output.
TEST_F(Golden, EveryItemType) {
    const fs::path expected = fs::path(REKMO_SOURCE_DIR) / "tests" / "data" / "every_type.csv";
    const auto r = test::run_rekmo({write("host.bin", every_type_host(120)), path("out.csv"),
                                    write("format.txt", EVERY_TYPE_FORMAT)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    const std::string out = read_file(path("out.csv"));
    if (const char* update = std::getenv("REKMO_UPDATE_GOLDEN"); update != nullptr && std::string(update) == "1") {
        std::ofstream(expected, std::ios::binary) << out;
        GTEST_SKIP() << "rewrote " << expected.string();
    }
    ASSERT_TRUE(fs::exists(expected));
    EXPECT_EQ(out, read_file(expected));
}

}  // namespace
}  // namespace rekmo
