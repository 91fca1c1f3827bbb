// What the POSIX platform layer decides on its own: how the command line is
// joined, and how a message is shown in a character set other than UTF-8.
#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <string>

namespace rekmo::platform {
namespace {

// "入力ﾌｧｲﾙが開けません。\n(" as stored (code page 932), then the path, then ")".
const std::string CANNOT_OPEN_HEAD =
    "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(";

TEST(Message, TemplateIsConvertedArgumentsStayAsTheyAreOrAllIsRaw) {
    const std::string path = "dir/\xFF\x82\xA0.bin";  // bytes that are no valid UTF-8
    const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {path, false}, {")", true}};
    EXPECT_EQ(render_message(parts, "EUC-JP"),
              "\xC6\xFE\xCE\xCF\x8E\xCC\x8E\xA7\x8E\xB2\x8E\xD9\xA4\xAC\xB3\xAB\xA4\xB1\xA4\xDE\xA4\xBB\xA4\xF3"
              "\xA1\xA3\n(" +
                  path + ")");
    for (const char* codeset : {"ISO-8859-1", "NO-SUCH-CODESET"}) {  // no Japanese there; unknown to iconv
        EXPECT_EQ(render_message(parts, codeset), CANNOT_OPEN_HEAD + path + ")") << codeset;
    }
}

TEST(CommandLine, JoinsArgumentsWithSingleSpaces) {
    std::string a0 = "rekmo", a1 = "", a2 = "my file", a3 = "x";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
    EXPECT_EQ(command_line(4, argv), "rekmo  my file x");
}

}  // namespace
}  // namespace rekmo::platform
