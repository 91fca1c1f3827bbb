// What the Windows platform layer decides on its own: message rendering in
// the system's code pages, identities that are the file and not the path,
// HostFile shared with no one, and pipes as streams.
#include "platform/platform.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace rekmo::platform {
namespace {

// "入力ﾌｧｲﾙが開けません。\n(" as stored (code page 932), then the path, then ")".
const std::string CANNOT_OPEN_HEAD =
    "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(";

// The template is converted, and a value's characters stay (a path's from
// the ANSI code page, 932 here; a Shift_JIS value's with the template);
// controls and bytes that are no character are escaped. A code page that
// cannot show the template gets all of it as stored, and the values as they
// are written. The message box shows the stored bytes, values escaped.
TEST(Message, ValuesKeepTheirTextAndEscapeTheRest) {
    ASSERT_EQ(GetACP(), 932u) << "the tests run with a Japanese ANSI code page";
    struct Case {
        const char* codeset;
        std::string value;
        bool shift_jis;
        std::string shown;
    };
    const std::string path = "dir\\\x83\x5C\xFF.bin";  // a Shift_JIS name with 5C, then no character
    const Case cases[] = {
        {"utf8", path, false, "dir\\ソ\\xFF.bin"},
        {"Shift_JIS", path, false, "dir\\\x83\x5C\\xFF.bin"},
        {"CP1252", path, false, "dir\\\x83\x5C\\xFF.bin"},
        {"NO-SUCH-CODESET", path, false, "dir\\\x83\x5C\\xFF.bin"},
        {"utf8", "\x1B]0;OWNED\x07\x1B[2J\x7F", false, "\\x1B]0;OWNED\\x07\\x1B[2J\\x7F"},
        {"utf8", "\x82\x20\x82", false, "\\x82 \\x82"},  // lead bytes without a trail byte
        {"utf8", "KEIS", true, "KEIS"},
        {"utf8", "\xB9\xB2\xBD\x8A\xBF\x8E\x9A", true, "ｹｲｽ漢字"},
        {"utf8", "\x1B\x80\xA0\xFD\xFE\xFF", true, "\\x1B\\x80\\xA0\\xFD\\xFE\\xFF"},
        {"utf8", "\xF0\x40", true, "\\xF0\\x40"},  // the user-defined area
        {"CP932", "\xB9\x1B", true, "\xB9\\x1B"},
        {"CP1252", "\xB9\x1B", true, "\xB9\\x1B"},  // the template stays Shift_JIS: so does the value
    };
    for (const Case& c : cases) {
        const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {c.value, false, c.shift_jis}, {")", true}};
        const std::string codeset = c.codeset;
        const std::string head = codeset == "utf8" ? "入力ﾌｧｲﾙが開けません。\n(" : CANNOT_OPEN_HEAD;
        EXPECT_EQ(render_message(parts, codeset), head + c.shown + ")")
            << codeset << " " << testing::PrintToString(c.value);
    }
    const MessagePart shown[] = {{CANNOT_OPEN_HEAD, true}, {path, false}, {"\xB9\x07", false, true}, {")", true}};
    EXPECT_EQ(displayed_message(shown), CANNOT_OPEN_HEAD + "dir\\\x83\x5C\\xFF.bin\xB9\\x07)");
}

std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
    return name;
}

// A hard link is the same file, also as an open file; another file is another.
TEST(Files, IdentityIsTheFileNotThePath) {
    const std::string data = write("identity.bin", "x");
    DeleteFileA("identity-link.bin");
    ASSERT_TRUE(CreateHardLinkA("identity-link.bin", data.c_str(), nullptr));
    FileIdentity original, linked, different;
    ASSERT_EQ(path_identity(data, original), Result::OK);
    ASSERT_EQ(path_identity("identity-link.bin", linked), Result::OK);
    ASSERT_EQ(path_identity(write("identity-other.bin", "x"), different), Result::OK);
    EXPECT_EQ(linked, original);
    EXPECT_NE(different, original);
    File open;
    FileInfo info;
    ASSERT_EQ(open.open_input(data), Result::OK);
    ASSERT_EQ(open.info(info), Result::OK);
    EXPECT_EQ(info.identity, original);
}

// HostFile is shared with no one while it is read: it cannot be opened again
// or truncated, but it can still be identified.
TEST(Files, InputIsSharedWithNoOne) {
    const std::string data = write("shared.bin", "abc");
    File held, again;
    ASSERT_EQ(held.open_input(data), Result::OK);
    EXPECT_EQ(again.open_input(data), Result::CANNOT_OPEN);
    EXPECT_EQ(again.create_output(data), Result::CANNOT_OPEN);
    FileIdentity identity;
    EXPECT_EQ(path_identity(data, identity), Result::OK);
}

// A pipe is a stream: no size; its writer closing it is the end of the input,
// not a read error; its reader going away fails a write.
TEST(Files, PipesAreStreams) {
    const std::string name = "\\\\.\\pipe\\rekmo-test-" + std::to_string(GetCurrentProcessId());
    HANDLE server =
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
    FileInfo info;
    ASSERT_EQ(in.open_input(name), Result::OK);
    ASSERT_EQ(in.info(info), Result::OK);
    EXPECT_EQ(info.kind, FileKind::OTHER);
    std::vector<std::uint8_t> buffer(64);
    const ReadResult r = in.read(buffer);
    writer.join();
    EXPECT_EQ(r.count, 10u);
    EXPECT_EQ(r.result, Result::OK);

    server = CreateNamedPipeA((name + "-out").c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                              0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::thread reader([&] {
        ConnectNamedPipe(server, nullptr);
        DisconnectNamedPipe(server);
        CloseHandle(server);
    });
    File out;
    const Result opened = out.create_output(name + "-out");
    reader.join();
    ASSERT_EQ(opened, Result::OK);
    EXPECT_EQ(out.write(std::vector<std::uint8_t>(200000, 'x')), Result::WRITE_ERROR);
}

int in_this_test() { return 1; }
int also_in_this_test() { return 2; }
const int DATA_IN_THIS_TEST = 3;

// Two functions of this program and its data are in one module, one of the
// system's in another; the stack and no address at all are in none. Large
// pages are left to the system: none are handed out.
TEST(Memory, SameModuleTellsLoadedModulesApart) {
    const auto mine = reinterpret_cast<const void*>(&in_this_test);
    const int local = 0;
    EXPECT_TRUE(same_module(mine, reinterpret_cast<const void*>(&also_in_this_test)));
    EXPECT_TRUE(same_module(mine, &DATA_IN_THIS_TEST));
    EXPECT_FALSE(same_module(mine, reinterpret_cast<const void*>(&GetTickCount)));
    EXPECT_FALSE(same_module(mine, &local));
    EXPECT_FALSE(same_module(nullptr, nullptr));
    EXPECT_EQ(large_page_size(), 0u);
    EXPECT_EQ(map_large_pages(std::size_t{2} << 20), nullptr);
}

}  // namespace
}  // namespace rekmo::platform
