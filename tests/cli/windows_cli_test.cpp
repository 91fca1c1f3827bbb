// End-to-end on Windows: the program run with command lines as Windows hands
// them over, checked by its WinFile bytes, its whole exit code and the
// message bytes (code page 932) it writes to standard error in this build.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cli/run_windows.hpp"
#include "rekmo/version.hpp"

namespace rekmo {
namespace {

namespace fs = std::filesystem;

// The messages as stored (code page 932).
std::string cannot_open(const std::string& path) {
    return "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(" + path + ")";
}
std::string mismatch(const std::string& path, long length) {
    return "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xCC\xDA\xBA\xB0\xC4\xDE\x92\xB7\x82\xAA\x8D\x87\x82\xA2\x82\xDC\x82"
           "\xB9\x82\xF1\x81\x42\n(" +
           path + " " + std::to_string(length) + ")";
}
const std::string USAGE = "Usage : Rekmo HostFile WinFile FormatFile";

// Japanese names: "ソ表" (both with 5C as the second byte) and "出力".
const std::string SO_HYO = "\x83\x5C\x95\x5C";
const std::wstring SO_HYO_WIDE = L"\u30BD\u8868";
const std::string SHUTSURYOKU = "\x8F\x6F\x97\xCD";
const std::wstring SHUTSURYOKU_WIDE = L"\u51FA\u529B";

class Windows : public ::testing::Test {
protected:
    // A folder beside the tests, named by a relative path: the operands hold
    // no space wherever the build is.
    void SetUp() override {
        dir_ = "e2e-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(fs::path(dir_)); }

    std::string path(const std::string& name) const { return dir_ + "\\" + name; }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(fs::path(dir_) / name, std::ios::binary) << bytes;
        return path(name);
    }
    std::optional<std::string> read(const std::string& name) const { return read_path(fs::path(dir_) / name); }
    static std::optional<std::string> read_path(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static test::ProcessResult rekmo(const std::vector<std::string>& operands) { return test::run_rekmo(operands); }

    std::string dir_;
};

// The command line is split at spaces only: quotes are ordinary bytes.
TEST_F(Windows, QuotedPathsWithSpacesGiveTheUsageMessage) {
    const std::string host = write("host.bin", "\xC1\xC2");
    const std::string format = write("format.txt", "A,1,2,E,1\n");
    const std::string out = path("out.csv");
    fs::create_directories(fs::path(dir_) / "my dir");
    const std::string spaced_program = path("my dir\\rekmo.exe");
    fs::copy_file(test::test_program(), spaced_program);
    write("my host.bin", "\xC1\xC2");
    struct Case {
        std::string application, line;
        int status;
        std::string message;
    };
    const std::string program = test::test_program();
    const Case cases[] = {
        {program, "rekmo_stderr.exe \"" + path("my host.bin") + "\" " + out + " " + format, 1, USAGE},
        {program, "rekmo_stderr.exe \"\" " + host + " " + out + " " + format, 1, USAGE},  // "" is a token
        {program, "rekmo_stderr.exe " + host + "\t" + out + " " + format, 1, USAGE},      // a tab does not split
        {program, "rekmo_stderr.exe " + host + " " + out, 1, USAGE},
        {spaced_program, "\"" + spaced_program + "\" " + host + " " + out + " " + format, 1, USAGE},
        {program, "\"rekmo_stderr.exe\"   " + host + "  " + out + " " + format + "  ", 0, ""},
    };
    for (const Case& c : cases) {
        const auto r = test::run_command_line(c.application, c.line);
        EXPECT_EQ(r.status, c.status) << c.line;
        EXPECT_EQ(r.errors, c.message) << c.line;
        EXPECT_EQ(read("out.csv"), c.status == 0 ? std::optional<std::string>("AB\n") : std::nullopt) << c.line;
    }
}

// Paths are ANSI code page bytes: on a Japanese system, Shift_JIS names open
// and show as they are.
TEST_F(Windows, JapaneseFileNamesOpen) {
    ASSERT_EQ(GetACP(), 932u) << "the tests need code page 932 (under Wine: LANG=ja_JP.UTF-8)";
    const fs::path wide_dir = fs::path(dir_);
    std::ofstream(wide_dir / (SO_HYO_WIDE + L".bin"), std::ios::binary) << "\xC1\xC2\xC3";
    std::ofstream(wide_dir / (SO_HYO_WIDE + L".txt"), std::ios::binary) << "A,1,3,E,1\n";
    const std::string host = path(SO_HYO + ".bin");
    const std::string format = path(SO_HYO + ".txt");
    auto r = rekmo({host, path(SHUTSURYOKU + ".csv"), format});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(read_path(wide_dir / (SHUTSURYOKU_WIDE + L".csv")), "ABC\n");

    const std::string missing = path(SHUTSURYOKU + ".bin");
    r = rekmo({missing, path("out.csv"), format});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, cannot_open(missing));
}

// Sizes are 64-bit: a host file over 4 GiB whose size is a multiple of the
// record length only when all of it is counted converts; one that is a
// multiple only of its low 32 bits does not.
TEST_F(Windows, HostFilesOverFourGigabytes) {
    auto sparse = [&](const std::string& name, LONGLONG size) {
        const std::string file = path(name);
        const HANDLE handle =
            CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        DWORD unused = 0;
        DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = size;
        EXPECT_TRUE(SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle));
        CloseHandle(handle);
        return file;
    };
    constexpr LONGLONG FOUR_GIB = LONGLONG{1} << 32;
    constexpr long RECORD = 3 << 20;  // 4 GiB is 1 MiB more than a multiple of it
    const std::string whole = sparse("whole.bin", FOUR_GIB + (2 << 20));
    auto r = rekmo({whole, path("out.csv"), write("f1.txt", "RECLEN=" + std::to_string(RECORD) + "\nA,1,1,E,1\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(read("out.csv"), [] {
        std::string lines;
        for (int i = 0; i < (FOUR_GIB + (2 << 20)) / RECORD; ++i) lines += " \n";  // 0x00 reads as a space
        return lines;
    }());
    fs::remove(fs::path(dir_) / "whole.bin");

    const std::string odd = sparse("odd.bin", FOUR_GIB + 3);
    r = rekmo({odd, path("out2.csv"), write("f2.txt", "RECLEN=3\nA,1,3,E,1\n")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, mismatch(odd, 3));
    EXPECT_FALSE(read("out2.csv"));
}

TEST_F(Windows, FailuresGiveTheirMessagesAndStatuses) {
    const std::string host = write("host.bin", std::string(160, '\xC1'));
    const std::string format = write("format.txt", "RECLEN=80\nA,1,2,E,1\n");
    const std::string out = path("out.csv");
    fs::create_directories(fs::path(dir_) / "adir");
    // Longer than the system takes: not refused as a token, but opening fails.
    const std::string long_path = path(std::string(300, 'd') + "\\" + std::string(300, 'e') + "\\x.bin");
    struct Case {
        std::vector<std::string> operands;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{path("missing.bin"), out, format}, 1, cannot_open(path("missing.bin"))},
        {{path("adir"), out, format}, 1, cannot_open(path("adir"))},
        {{long_path, out, format}, 1, cannot_open(long_path)},
        {{host, path("nodir\\out.csv"), format}, 1, cannot_open(path("nodir\\out.csv"))},
        {{host, path("adir"), format}, 1, cannot_open(path("adir"))},
        {{host, long_path, format}, 1, cannot_open(long_path)},
        {{host, out, path("missing.txt")}, -1, cannot_open(path("missing.txt"))},
        {{host, out, path("adir")}, -1, cannot_open(path("adir"))},
        {{host, out, long_path}, -1, cannot_open(long_path)},
        {{write("odd.bin", std::string(161, 'x')), out, format}, 1, mismatch(path("odd.bin"), 80)},
    };
    for (const Case& c : cases) {
        const auto r = rekmo(c.operands);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_EQ(r.errors, c.message);
        EXPECT_FALSE(read("out.csv")) << c.message;  // WinFile is never created
    }
    EXPECT_EQ(read("host.bin"), std::string(160, '\xC1'));
}

// WinFile that names HostFile or FormatFile, however it is spelt, is refused
// before anything is opened for writing. (HostFile is also held unshared;
// FormatFile, closed by then, has only its identity to protect it.)
TEST_F(Windows, WinFileNeverOverwritesAnInput) {
    const std::string host_bytes(30, '\xC1');
    const std::string format_text = "RECLEN=10\nA,1,10,E,1\n";
    const std::string host = write("host.bin", host_bytes);
    const std::string format = write("format.txt", format_text);
    ASSERT_TRUE(CreateHardLinkA(path("host-link.csv").c_str(), host.c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkA(path("format-link.csv").c_str(), format.c_str(), nullptr));
    auto spellings = [](const std::string& file) {
        char full[4096];
        EXPECT_GT(GetFullPathNameA(file.c_str(), sizeof full, full, nullptr), 0u);
        std::string upper = file, forward = file;
        for (char& c : upper)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        for (char& c : forward)
            if (c == '\\') c = '/';
        return std::vector<std::string>{file, full, upper, forward, ".\\" + file};
    };
    std::vector<std::string> wins = spellings(host);
    for (const std::string& w : spellings(format)) wins.push_back(w);
    wins.push_back(path("host-link.csv"));
    wins.push_back(path("format-link.csv"));
    for (const std::string& win : wins) {
        const auto r = rekmo({host, win, format});
        EXPECT_EQ(r.status, 1) << win;
        EXPECT_EQ(r.errors, cannot_open(win));
        EXPECT_EQ(read("host.bin"), host_bytes);
        EXPECT_EQ(read("format.txt"), format_text);
    }
    const auto r = rekmo({host, path("out.csv"), format});  // and otherwise it converts
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "AAAAAAAAAA\nAAAAAAAAAA\nAAAAAAAAAA\n");
}

// The released program: no console, and the version in its properties.
TEST(Program, IsAWindowProgramWithItsVersion) {
    const std::string exe = REKMO_RELEASE_BINARY;
    std::ifstream in(exe, std::ios::binary);
    ASSERT_TRUE(in) << exe;
    const std::string image(std::istreambuf_iterator<char>(in), {});
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, image.data(), sizeof dos);
    ASSERT_GT(image.size(), static_cast<std::size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64));
    IMAGE_NT_HEADERS64 nt;
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), VERSION_MAJOR);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), VERSION_MINOR);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), VERSION_PATCH);
    char* text = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                               &length));
    EXPECT_EQ(std::string(text), VERSION);
}

}  // namespace
}  // namespace rekmo
