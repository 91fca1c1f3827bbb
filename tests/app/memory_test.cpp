// Running out of memory, on demand: this test executable replaces the global
// allocation functions so that large requests fail while a test asks. Its
// messages go to the recording display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "app/app.hpp"
#include "support/recorded_display.hpp"

namespace {
std::size_t fail_from_size = static_cast<std::size_t>(-1);  // requests this large fail
}

void* operator new(std::size_t size) {
    if (size >= fail_from_size) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace rekmo {
namespace {

// "ﾒﾓﾘが不足しています。" as stored (code page 932).
const std::vector<std::string> OUT_OF_MEMORY = {
    "\xD2\xD3\xD8\x82\xAA\x95\x73\x91\xAB\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x42"};

class OutOfMemory : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("rekmo-memory-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        std::ofstream(path("host.bin"), std::ios::binary) << std::string(10, '\xC1');
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }

    // Runs the converter with requests of `limit` bytes or more failing;
    // returns the status and what it showed.
    std::pair<int, std::vector<std::string>> run_failing_from(std::size_t limit, const std::string& format) {
        std::ofstream(path("format.txt"), std::ios::binary) << format;
        const std::string line = "rekmo " + path("host.bin") + " " + path("out.csv") + " " + path("format.txt");
        test::take_shown_messages();
        fail_from_size = limit;
        const int status = app_main(line);
        fail_from_size = static_cast<std::size_t>(-1);
        return {status, test::take_shown_messages()};
    }
    std::filesystem::path dir_;
};

TEST_F(OutOfMemory, WhileTheItemTableGrows) {
    std::string format = "RECLEN=10\n";
    for (int i = 0; i < 20000; ++i) format += "A,1,1,E,1\n";
    const auto [status, shown] = run_failing_from(256 * 1024, format);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(shown, OUT_OF_MEMORY);
    EXPECT_FALSE(std::filesystem::exists(path("out.csv")));
}

TEST_F(OutOfMemory, BeforeWinFileIsCreated) {
    const auto [status, shown] = run_failing_from(256 * 1024, "RECLEN=10\nA,1,10,E,1\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(shown, OUT_OF_MEMORY);
    EXPECT_FALSE(std::filesystem::exists(path("out.csv")));  // nothing truncated or created
}

TEST_F(OutOfMemory, EnoughMemoryConverts) {
    const auto [status, shown] = run_failing_from(static_cast<std::size_t>(-1), "RECLEN=10\nA,1,10,E,1\n");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(shown.empty());
    std::ifstream in(path("out.csv"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "AAAAAAAAAA\n");
}

}  // namespace
}  // namespace rekmo
