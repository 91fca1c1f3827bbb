// End-to-end: the built rekmo run as a process, checked by its WinFile bytes,
// its exit status and the message on standard error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/run.hpp"

namespace rekmo {
namespace {

namespace fs = std::filesystem;

// The messages as a UTF-8 terminal shows them.
std::string cannot_open(const std::string& path) { return "入力ﾌｧｲﾙが開けません。\n(" + path + ")\n"; }
std::string mismatch(const std::string& path, long length) {
    return "入力ﾌｧｲﾙのﾚｺｰﾄﾞ長が合いません。\n(" + path + " " + std::to_string(length) + ")\n";
}
const std::string USAGE = "Usage : Rekmo HostFile WinFile FormatFile\n";
const std::string READ_ERROR = "入力ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。\n";
const std::string WRITE_ERROR = "出力ﾌｧｲﾙへの書き込み中にｴﾗｰが発生しました。\n";
std::string item_size(int n) { return std::to_string(n) + "行の項目ｻｲｽﾞが不正です。\n"; }
std::string item_type(int n) { return std::to_string(n) + "行の項目型が不正です。\n"; }
std::string item_position(int n) { return std::to_string(n) + "行の項目位置が不正です。\n"; }
std::string record_length(long n) { return "ﾚｺｰﾄﾞ長が不正です。\n(" + std::to_string(n) + ")\n"; }

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "rekmo-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    std::optional<std::string> read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    test::ProcessResult rekmo(const std::vector<std::string>& args, const std::string& locale = "C",
                              const std::vector<std::string>& faults = {}) const {
        std::vector<std::string> argv = {REKMO_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env = {"LC_ALL=" + locale};
        if (!faults.empty()) {
            env.push_back(std::string("LD_PRELOAD=") + REKMO_FAULT_INJECT);
            env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
            env.insert(env.end(), faults.begin(), faults.end());
        }
        return test::run_process(argv, env);
    }
    // The usual three paths: host.bin, out.csv, format.txt.
    test::ProcessResult convert(const std::string& format, const std::string& host) const {
        return rekmo({write("host.bin", host), path("out.csv"), write("format.txt", format)});
    }

    fs::path dir_;
};

TEST_F(Cli, ConvertsTheWorkedRecord) {
    const auto r = convert("RECLEN=10\nCODE,1,3,E,1\nAMT,4,3,P,1\nNAME,7,4,KN,1\n",
                           "\xC1\xC2\xC3\x01\x23\x4D\xA4\xA2\xA4\xA4");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(read("out.csv"), "\x41\x42\x43\x2C\x2D\x31\x32\x33\x34\x2C\x82\xA0\x82\xA2\x0A");
}

TEST_F(Cli, ConvertsZonedAndPackedNumbers) {
    const std::string format =
        "RECLEN=24\nQTY,1,3,Z,1\nAMT,4,3,P,1\nZERO,7,2,P,1\nBIG,9,10,P,1\nNONE,19,-4,P,1\nDATE,19,6,Z,1\n";
    const std::string record1 = std::string("\xF1\xF2\xD3\x01\x23\x4D\x00\x0D", 8) +
                                "\x12\x34\x56\x78\x90\x12\x34\x56\x78\x9C" + "\xF2\xF6\xF1\xF2\xF0\xF6";
    const std::string record2 = std::string("\x40\x40\xF5\x00\x98\x7C\x00\x0F", 8) +
                                std::string("\x99\x99\x99\x99\x99\x99\x99\x99\x99\x9C", 10) + "\xF0\xF0\xF0\xF0\xF0\xD0";
    const auto r = convert(format, record1 + record2);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "-123,-1234,0,1234567890123456800,0,261206\n5,987,0,10000000000000000000,0,0\n");
}

TEST_F(Cli, ConvertsJisText) {
    const std::string format = "RECLEN=40\nMEMO,1,14,J,1\nESC,15,6,J,1\nTAIL,21,20,J,1\n";
    const std::string memo = std::string("\x1B\x24\x42\x24\x22\x24\x24\x1B\x28\x4A" "AB\x00\x00", 14);
    const std::string only_escapes = "\x1B\x24\x42\x1B\x28\x48";
    const std::string tail = std::string("x\x1B\x24\x42\x30\x21", 6) + std::string(14, ' ');
    const auto r = convert(format, memo + only_escapes + tail);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "\x82\xA0\x82\xA2" "AB,,x\n");  // empty column kept; unclosed run dropped
}

TEST_F(Cli, ConvertsKeisAndJefText) {
    const std::string format = "K,1,9,K,1\nKN,10,4,KN,1\nF,14,8,F,1\nFN,22,6,FN,1\n";
    const std::string host = std::string("\xC1\xC2\x0A\x42\xB0\xA1\x0A\x41\xC3") + "\xA4\xA2\xA4\xA4" +
                             "\xC1\x28\xB0\xA1\x40\x40\x29\xC2" + "\x40\x40\xA4\xA2\x40\x40";
    const auto r = convert(format, host);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "AB\x88\x9F" "C,\x82\xA0\x82\xA2,A\x88\x9F\x81\x40" "B,\x81\x40\x82\xA0\x81\x40\n");
}

TEST_F(Cli, ConvertsEveryRecordToOneLine) {
    const auto r = convert("# three records\nA,1,2,E,1\nB,3,1,E,0\nC,4,3,E,1\n",
                           std::string("\xC1\xC2\xC3\x81\x82\x83\xF1\xF2\x00\xF3\x6B\x40\xD1\xD2\xD3\xD4\xD5\xD6", 18));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "AB,\xB1\xB2\xB3\n12,3, \nJK,MNO\n");  // 6B is a comma: one more column
}

TEST_F(Cli, EmptyHostFileGivesEmptyWinFile) {
    const auto r = convert("A,1,2,E,1\n", "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "");
}

TEST_F(Cli, ReportsEachFailureOnce) {
    const std::string host = write("host.bin", std::string(160, '\xC1'));
    const std::string format = write("format.txt", "RECLEN=80\nA,1,2,E,1\n");
    const std::string out = path("out.csv");
    fs::create_directory(path("adir"));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{host, out}, 1, USAGE},
        {{host, out, format, "extra"}, 1, USAGE},
        {{}, 1, USAGE},
        {{host, out, path("my format.txt")}, 1, USAGE},  // a space splits a path
        {{path("missing.bin"), out, format}, 1, cannot_open(path("missing.bin"))},
        {{path("adir"), out, format}, 1, cannot_open(path("adir"))},
        {{host, path("nodir/out.csv"), format}, 1, cannot_open(path("nodir/out.csv"))},
        {{host, path("host.bin/out.csv"), format}, 1, cannot_open(path("host.bin/out.csv"))},
        {{host, out, path("missing.txt")}, 255, cannot_open(path("missing.txt"))},
        {{host, out, path("adir")}, 255, cannot_open(path("adir"))},
        {{write("odd.bin", std::string(161, 'x')), out, format}, 1, mismatch(path("odd.bin"), 80)},
        {{host, out, write("f1.txt", "RECLEN=80\n# c\nE,1\n")}, 1, item_size(1)},
        {{host, out, write("f2.txt", "RECLEN =80\n")}, 1, item_size(1)},
        {{host, out, write("f3.txt", "A,1,2,E,1\nB,1,2, E,1\n")}, 1, item_type(2)},
        {{host, out, write("f4.txt", "A,1,2,E,1\nB,1,2,E,1\nC,0,2,E,1\n")}, 1, item_position(3)},
        {{host, out, write("f5.txt", "A,1,16777216,E,1\nB,2,16777216,E,1\n")}, 1, item_position(2)},
        {{host, out, write("f6.txt", "A,1,301,Z,1\n")}, 1, item_size(1)},
        {{host, out, write("f7.txt", "A,1,151,P,1\n")}, 1, item_size(1)},
        {{host, out, write("f8.txt", "RECLEN=16777217\nA,1,2,E,1\n")}, 1, record_length(16777217)},
        {{host, out, write("f9.txt", "# no items\n")}, 1, record_length(-1)},
    };
    for (const Case& c : cases) {
        const auto r = rekmo(c.args);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_EQ(r.errors, c.message);
        EXPECT_FALSE(fs::exists(out)) << c.message;  // WinFile is never created
    }
    EXPECT_EQ(read("host.bin"), std::string(160, '\xC1'));
}

TEST_F(Cli, CommandLineIsSplitAtSpaces) {
    const std::string host = write("host.bin", "\xC1");
    const std::string format = write("format.txt", "A,1,1,E,1\n");
    // An empty argument adds no token.
    auto r = rekmo({"", host, path("out.csv"), format});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "A\n");
    // Tokens of any length.
    const std::string deep = path(std::string(200, 'd') + "/" + std::string(200, 'e'));
    fs::create_directories(deep);
    r = rekmo({host, deep + "/out.csv", format});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(deep + "/out.csv"));
}

TEST_F(Cli, MessagesShowInTheLocalesCharacterSet) {
    const std::string missing = path("\xFF\xFE.bin");  // bytes that are no UTF-8: shown as they are
    for (const std::string locale : {"C", "POSIX", "C.UTF-8"}) {
        const auto r = rekmo({missing, path("out.csv"), write("format.txt", "A,1,1,E,1\n")}, locale);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.errors, cannot_open(missing)) << locale;
    }
}

TEST_F(Cli, WriteErrorsAreReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const auto r = rekmo({write("host.bin", "\xC1\xC2"), "/dev/full", write("format.txt", "A,1,1,E,1\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errors, WRITE_ERROR);
}

TEST_F(Cli, ClosedPipeIsAWriteError) {
    const std::string fifo = path("out.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader goes away without reading; 200 KB of lines cannot all fit
    // in the pipe, so a write fails whenever it closes.
    std::thread reader([&] { ::close(::open(fifo.c_str(), O_RDONLY)); });
    const auto r = rekmo({write("host.bin", std::string(200000, '\xC1')), fifo, write("format.txt", "A,1,1,E,1\n")});
    reader.join();
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errors, WRITE_ERROR);
}

TEST_F(Cli, FailedCloseIsAWriteError) {
    const std::string out = path("out.csv");
    const auto r = rekmo({write("host.bin", "\xC1\xC2"), out, write("format.txt", "A,1,1,E,1\n")}, "C",
                         {"REKMO_FAULT_CLOSE=" + out});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errors, WRITE_ERROR);
    EXPECT_EQ(read("out.csv"), "A\nB\n");  // the lines were written; only the close failed
}

TEST_F(Cli, HostFileCutAfterItsSizeCheckIsAReadError) {
    // 5 records of 4 bytes pass the size check; before the first read the
    // file is cut to 2.5 records.
    const std::string host = write("host.bin", std::string(20, '\xC1'));
    const auto r = rekmo({host, path("out.csv"), write("format.txt", "RECLEN=4\nA,1,1,E,1\n")}, "C",
                         {"REKMO_FAULT_TRUNCATE=" + host + ":10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, READ_ERROR);
    EXPECT_EQ(read("out.csv"), "A\nA\n");
}

TEST_F(Cli, StreamEndingInsideARecordIsAReadError) {
    const std::string fifo = path("host.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        const std::string data = "\xC1\xC1\xC1\xC1\xC2\xC2\xC2\xC2\xC3\xC3";  // 2.5 records of 4
        EXPECT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        ::close(fd);
    });
    const auto r = rekmo({fifo, path("out.csv"), write("format.txt", "RECLEN=4\nA,1,2,E,1\n")});
    writer.join();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, READ_ERROR);
    EXPECT_EQ(read("out.csv"), "AA\nBB\n");
}

TEST_F(Cli, DeviceIsReadAsAStream) {
    const auto r = rekmo({"/dev/null", path("out.csv"), write("format.txt", "A,1,3,E,1\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "");
}

TEST_F(Cli, WinFileNeverOverwritesAnInput) {
    const std::string host_bytes(30, '\xC1');
    const std::string format_text = "RECLEN=10\nA,1,10,E,1\n";
    const std::string host = write("host.bin", host_bytes);
    const std::string format = write("format.txt", format_text);
    fs::create_hard_link(host, path("hard.csv"));
    fs::create_symlink(host, path("soft.csv"));
    fs::create_symlink(format, path("fmt.csv"));
    for (const std::string& win : {host, path("hard.csv"), path("soft.csv"), format, path("fmt.csv")}) {
        const auto r = rekmo({host, win, format});
        EXPECT_EQ(r.status, 1) << win;
        EXPECT_EQ(r.errors, cannot_open(win));
        EXPECT_EQ(read("host.bin"), host_bytes);
        EXPECT_EQ(read("format.txt"), format_text);
    }
}

// Format files nobody would write on purpose: each gives its one result.
TEST_F(Cli, HostileFormatFiles) {
    const std::string host = write("host.bin", std::string(12, '\xC1'));
    std::string fields = "A,1,2,E,1";
    for (int i = 0; i < 10000; ++i) fields += ",x";
    const std::string digits50(50, '9');
    struct Case {
        std::string name, text;
        int status;
        std::string message;
    };
    const Case cases[] = {
        // A 1 MB line arrives as 1023-byte pieces, each an item line: the
        // first has no length.
        {"long_line", "#" + std::string(1u << 20, 'x') + "\n", 1, item_size(1)},
        // 10,000 fields: the first piece is a good item, the next piece is
        // all commas and x's.
        {"fields", fields + "\n", 1, item_size(2)},
        {"digits_position", "A," + digits50 + ",2,E,1\n", 1, item_position(1)},
        {"digits_length", "A,1," + digits50 + ",E,1\n", 1, item_size(1)},
        {"digits_reclen", "RECLEN=" + digits50 + "\nA,1,2,E,1\n", 1, record_length(2147483647)},
        {"lower_case", "reclen=12\na,1,1,e,1\nb,2,1,p,1\nc,3,1,z,1\nd,4,1,j,1\ne,5,2,f,1\nf,7,2,fn,1\ng,9,2,k,1\n"
                       "h,11,2,kn,1\n", 0, ""},
        {"lead_bytes", "A\x82,1,2,E,1\x82\nB,3,2,E,1\x81", 0, ""},
        {"zero_byte", std::string("A,1,2,E,1\0\xFF\xFF\n", 13), 0, ""},
    };
    for (const Case& c : cases) {
        const auto r = rekmo({host, path("out.csv"), write(c.name + ".txt", c.text)});
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.errors, c.message) << c.name;
    }
    // Binary garbage: one known message or success, never a crash.
    std::mt19937 rng(404);
    for (int trial = 0; trial < 20; ++trial) {
        std::string garbage(1 + rng() % 4000, '\0');
        for (char& c : garbage) c = static_cast<char>(rng());
        const auto r = rekmo({host, path("out.csv"), write("garbage.txt", garbage)});
        EXPECT_TRUE(r.status == 0 || r.status == 1) << trial;  // -1 only when the file cannot be opened
        const bool one_message = r.errors.empty() || r.errors.find("行の項目") != std::string::npos ||
                                 r.errors.find("ﾚｺｰﾄﾞ長") != std::string::npos;
        EXPECT_TRUE(one_message) << r.errors;
    }
}

TEST_F(Cli, FormatOfAHundredThousandItemsLoads) {
    std::string text = "RECLEN=100\n";
    for (int i = 0; i < 100000; ++i) text += "ITEM" + std::to_string(i) + "," + std::to_string(i % 100 + 1) + ",1,E,0\n";
    text += "LAST,1,3,E,1\n";
    const auto r = rekmo({write("host.bin", std::string(200, '\xC1')), path("out.csv"), write("format.txt", text)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "AAA\nAAA\n");
}

TEST_F(Cli, LongItemsConvertWhole) {
    const auto r = convert("A,1,200,E,1\nB,201,3,E,1\n", std::string(200, '\xC1') + "\xC2\xC2\xC2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), std::string(200, 'A') + ",BBB\n");
}

TEST_F(Cli, LongestRecordConverts) {
    const std::string host = write("host.bin", "");
    fs::resize_file(host, 2 * 16777216);  // two records of 16 MiB, all zero bytes
    const auto r = rekmo({host, path("out.csv"), write("format.txt", "RECLEN=16777216\nEND,16777215,2,E,1\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out.csv"), "  \n  \n");  // the byte past the record reads as 0x00 too
}

TEST_F(Cli, HostFilesOverTwoGigabytesConvert) {
    const std::string host = write("host.bin", "");
    const std::uintmax_t size = (std::uintmax_t{1} << 31) + 1024 * 3;
    fs::resize_file(host, size);  // sparse: no disk used
    const auto r = rekmo({host, path("out.csv"), write("format.txt", "RECLEN=1024\nA,1,4,E,0\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(fs::file_size(path("out.csv")), size / 1024);  // one empty line per record
}

TEST_F(Cli, SizeCheckUsesTheWholeSize) {
    const std::string host = write("host.bin", "");
    fs::resize_file(host, (std::uintmax_t{1} << 32) + 3);  // a 32-bit size would read 3
    const auto r = rekmo({host, path("out.csv"), write("format.txt", "RECLEN=3\nA,1,3,E,1\n")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, mismatch(host, 3));
}

}  // namespace
}  // namespace rekmo
