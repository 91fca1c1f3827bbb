// The Windows platform layer on its own: files, identities, sharing, streams
// and message rendering.
#include "platform/platform.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace rekmo::platform {
namespace {

// "入力ﾌｧｲﾙが開けません。\n(" as stored (code page 932), then the path, then ")".
const std::string CANNOT_OPEN_HEAD =
    "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(";

TEST(Message, TemplateIsConvertedArgumentsStayAsTheyAre) {
    const std::string path = "dir\\\x83\x5C\xFF.bin";  // a Shift_JIS name with 5C, then no valid UTF-8
    const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {path, false}, {")", true}};
    const std::string stored = CANNOT_OPEN_HEAD + path + ")";
    EXPECT_EQ(render_message(parts, "UTF-8"), "入力ﾌｧｲﾙが開けません。\n(" + path + ")");
    EXPECT_EQ(render_message(parts, "utf8"), "入力ﾌｧｲﾙが開けません。\n(" + path + ")");
    EXPECT_EQ(render_message(parts, "CP932"), stored);
    EXPECT_EQ(render_message(parts, "Shift_JIS"), stored);
}

TEST(Message, UnconvertibleTemplateIsShownRaw) {
    const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {"x", false}, {")", true}};
    const std::string raw = CANNOT_OPEN_HEAD + "x)";
    for (const char* codeset : {"CP1252", "NO-SUCH-CODESET", "CP", "CP99999", "CP932X"})
        EXPECT_EQ(render_message(parts, codeset), raw) << codeset;
}

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path("platform-" +
                                     std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return path(name);
    }
    std::filesystem::path dir_;
};

TEST_F(Files, MeasuresReadsAndWrites) {
    const std::string data = path("data");
    {
        File out;
        ASSERT_TRUE(out.create_output(data));
        const std::vector<std::uint8_t> bytes(100000, 0x5A);
        ASSERT_TRUE(out.write(bytes));
        ASSERT_TRUE(out.close());
        EXPECT_FALSE(out.is_open());
    }
    File in;
    ASSERT_TRUE(in.open_input(data));
    FileInfo info;
    ASSERT_TRUE(in.info(info));
    EXPECT_EQ(info.kind, FileKind::REGULAR);
    EXPECT_EQ(info.size, 100000u);
    std::vector<std::uint8_t> buffer(70000);
    File::ReadResult r = in.read(buffer);
    EXPECT_EQ(r.count, 70000u);
    EXPECT_FALSE(r.error);
    r = in.read(buffer);  // the end comes first: a short count, no error
    EXPECT_EQ(r.count, 30000u);
    EXPECT_FALSE(r.error);
}

// A hard link is the same file; another file is another. (Other spellings
// of one path are checked end to end, where WinFile must not name an input.)
TEST_F(Files, IdentityIsTheFileNotThePath) {
    const std::string data = write("data.bin", "x");
    ASSERT_TRUE(CreateHardLinkA(path("link.bin").c_str(), data.c_str(), nullptr));
    FileIdentity original, linked, different;
    ASSERT_TRUE(path_identity(data, original));
    ASSERT_TRUE(path_identity(path("link.bin"), linked));
    EXPECT_EQ(linked, original);
    ASSERT_TRUE(path_identity(write("other.bin", "x"), different));
    EXPECT_NE(different, original);
    EXPECT_FALSE(path_identity(path("none"), different));

    File open;  // the identity of an open file is the same again
    ASSERT_TRUE(open.open_input(data));
    FileInfo info;
    ASSERT_TRUE(open.info(info));
    EXPECT_EQ(info.identity, original);
}

// HostFile is shared with no one while it is read: it cannot be opened again
// or truncated, but it can still be identified.
TEST_F(Files, InputIsSharedWithNoOne) {
    const std::string data = write("data.bin", "abc");
    File held;
    ASSERT_TRUE(held.open_input(data));
    File again;
    EXPECT_FALSE(again.open_input(data));
    EXPECT_FALSE(again.create_output(data));
    FileIdentity identity;
    EXPECT_TRUE(path_identity(data, identity));
    ASSERT_TRUE(held.close());
    std::ifstream in(data, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abc");
}

TEST_F(Files, TellsDirectoriesAndMissingFiles) {
    File dir;
    ASSERT_TRUE(dir.open_input(dir_.string()));
    FileInfo info;
    ASSERT_TRUE(dir.info(info));
    EXPECT_EQ(info.kind, FileKind::DIRECTORY);
    File none;
    EXPECT_FALSE(none.open_input(path("none")));
    EXPECT_FALSE(none.create_output(path("no\\such")));
    EXPECT_FALSE(none.create_output(dir_.string()));
}

// A pipe is a stream: no size; its end, when the writer closes, is the end of
// the input and not a read error.
TEST(Streams, PipeEndsWithoutAnError) {
    const std::string name = "\\\\.\\pipe\\rekmo-test-" + std::to_string(GetCurrentProcessId());
    const HANDLE server =
        CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::thread writer([&] {
        ConnectNamedPipe(server, nullptr);
        DWORD put = 0;
        WriteFile(server, "0123456789", 10, &put, nullptr);
        FlushFileBuffers(server);
        CloseHandle(server);
    });
    File in;
    ASSERT_TRUE(in.open_input(name));
    FileInfo info;
    ASSERT_TRUE(in.info(info));
    EXPECT_EQ(info.kind, FileKind::OTHER);
    std::vector<std::uint8_t> buffer(64);
    const File::ReadResult r = in.read(buffer);
    writer.join();
    EXPECT_EQ(r.count, 10u);
    EXPECT_FALSE(r.error);
}

// A pipe whose reader has gone is a failed write.
TEST(Streams, ClosedPipeFailsAWrite) {
    const std::string name = "\\\\.\\pipe\\rekmo-test-out-" + std::to_string(GetCurrentProcessId());
    const HANDLE server =
        CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::thread reader([&] {
        ConnectNamedPipe(server, nullptr);
        DisconnectNamedPipe(server);
        CloseHandle(server);
    });
    File out;
    const bool opened = out.create_output(name);
    reader.join();
    ASSERT_TRUE(opened);
    const std::vector<std::uint8_t> bytes(200000, 'x');
    EXPECT_FALSE(out.write(bytes));
}

}  // namespace
}  // namespace rekmo::platform
