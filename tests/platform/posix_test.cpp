#include "platform/platform.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace rekmo::platform {
namespace {

// "入力ﾌｧｲﾙが開けません。\n(" as stored (code page 932), then the path, then ")".
const std::string CANNOT_OPEN_HEAD =
    "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(";

TEST(Message, TemplateIsConvertedArgumentsStayAsTheyAre) {
    const std::string path = "dir/\xFF\x82\xA0.bin";  // bytes that are no valid UTF-8
    const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {path, false}, {")", true}};
    EXPECT_EQ(render_message(parts, "UTF-8"), "入力ﾌｧｲﾙが開けません。\n(" + path + ")");
    EXPECT_EQ(render_message(parts, "EUC-JP"),
              "\xC6\xFE\xCE\xCF\x8E\xCC\x8E\xA7\x8E\xB2\x8E\xD9\xA4\xAC\xB3\xAB\xA4\xB1\xA4\xDE\xA4\xBB\xA4\xF3"
              "\xA1\xA3\n(" +
                  path + ")");
}

TEST(Message, UnconvertibleTemplateIsShownRaw) {
    const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {"x", false}, {")", true}};
    const std::string raw = CANNOT_OPEN_HEAD + "x)";
    EXPECT_EQ(render_message(parts, "ISO-8859-1"), raw);       // no Japanese in that set
    EXPECT_EQ(render_message(parts, "NO-SUCH-CODESET"), raw);  // unknown to iconv
}

TEST(CommandLine, JoinsArgumentsWithSingleSpaces) {
    std::string a0 = "rekmo", a1 = "", a2 = "my file", a3 = "x";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
    EXPECT_EQ(command_line(4, argv), "rekmo  my file x");
    EXPECT_EQ(command_line(1, argv), "rekmo");
}

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("rekmo-platform-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(Files, MeasuresReadsAndWrites) {
    const std::string path = (dir_ / "data").string();
    {
        File out;
        ASSERT_TRUE(out.create_output(path));
        const std::vector<std::uint8_t> bytes(100000, 0x5A);
        ASSERT_TRUE(out.write(bytes));
        ASSERT_TRUE(out.close());
        EXPECT_FALSE(out.is_open());
    }
    File in;
    ASSERT_TRUE(in.open_input(path));
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

    FileIdentity by_path;
    ASSERT_TRUE(path_identity(path, by_path));
    EXPECT_EQ(by_path, info.identity);
    std::filesystem::create_symlink(path, dir_ / "link");
    FileIdentity by_link;
    ASSERT_TRUE(path_identity((dir_ / "link").string(), by_link));
    EXPECT_EQ(by_link, info.identity);
    EXPECT_FALSE(path_identity((dir_ / "none").string(), by_link));
}

TEST_F(Files, TellsDirectoriesAndMissingFiles) {
    File dir;
    ASSERT_TRUE(dir.open_input(dir_.string()));
    FileInfo info;
    ASSERT_TRUE(dir.info(info));
    EXPECT_EQ(info.kind, FileKind::DIRECTORY);
    File none;
    EXPECT_FALSE(none.open_input((dir_ / "none").string()));
    EXPECT_FALSE(none.create_output((dir_ / "no" / "such").string()));
}

}  // namespace
}  // namespace rekmo::platform
