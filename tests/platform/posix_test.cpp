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

// The template is converted, and a value's characters stay (a Shift_JIS
// value's converted with the template); controls and bytes that are no
// character are escaped. A display that cannot show the template gets all of
// it as stored, and the Shift_JIS values with it.
TEST(Message, ValuesKeepTheirTextAndEscapeTheRest) {
    struct Case {
        const char* codeset;
        std::string value;
        bool shift_jis;
        std::string shown;
    };
    const Case cases[] = {
        {"UTF-8", "dir/a b.bin", false, "dir/a b.bin"},
        {"UTF-8", "\x1B]0;OWNED\x07\x1B[2J", false, "\\x1B]0;OWNED\\x07\\x1B[2J"},
        {"UTF-8", "\t\n\r", false, "\\x09\\x0A\\x0D"},
        {"UTF-8", "C:\\dir\\a.bin", false, "C:\\dir\\a.bin"},              // a backslash stays
        {"UTF-8", "\xE8\xA1\xA8\x7F", false, "\xE8\xA1\xA8\\x7F"},         // a kanji, then DEL
        {"UTF-8", "\xC2\x9B[2J\xC2\xA0", false, "\\xC2\\x9B[2J\xC2\xA0"},  // C1 CSI, then no-break space
        {"UTF-8", "\xEE\x80\x80", false, "\\xEE\\x80\\x80"},               // private use
        {"UTF-8", "\xFF\xFE.bin", false, "\\xFF\\xFE.bin"},
        {"UTF-8", "a\xE8\xA1", false, "a\\xE8\\xA1"},                           // cut short at the end
        {"UTF-8", "\xE8\xA1/", false, "\\xE8\\xA1/"},                           // cut short before another character
        {"UTF-8", "\xC0\xAF\xED\xA0\x80", false, "\\xC0\\xAF\\xED\\xA0\\x80"},  // overlong, a surrogate
        {"UTF-8", "\xF0\x9F\x98\x80", false, "\xF0\x9F\x98\x80"},               // four bytes, one character
        {"EUC-JP", "\xC6\xFE\xCE\xCF\x8E\xB1", false, "\xC6\xFE\xCE\xCF\x8E\xB1"},  // 入力ｱ
        {"EUC-JP", "dir/\xFF\x82\xA0.bin", false, "dir/\\xFF\\x82\\xA0.bin"},
        {"ISO-8859-1", "\xE9\x85", false, "\xE9\\x85"},       // a letter, then C1 NEL
        {"NO-SUCH-CODESET", "\x1B\xE9", false, "\\x1B\xE9"},  // nothing to read it by: controls only
        {"UTF-8", "KEIS", true, "KEIS"},
        {"UTF-8", "\xB9\xB2\xBD\x8A\xBF\x8E\x9A", true, "\xEF\xBD\xB9\xEF\xBD\xB2\xEF\xBD\xBD\xE6\xBC\xA2\xE5\xAD\x97"},
        {"UTF-8", "\x1B]0;\x07\xFF\xFE", true, "\\x1B]0;\\x07\\xFF\\xFE"},
        {"UTF-8", "\x80\xA0\xFD", true, "\\x80\\xA0\\xFD"},  // single bytes that are no character
        {"UTF-8", "\x82\x20\x82", true, "\\x82 \\x82"},      // lead bytes without a trail byte
        {"UTF-8", "\xF0\x40", true, "\\xF0\\x40"},           // the user-defined area
        {"UTF-8", "\\", true, "\\"},
        {"EUC-JP", "\xB9\xFA\x40", true, "\x8E\xB9\\xFA\\x40"},  // a character EUC-JP lacks
        {"ISO-8859-1", "\xB9\x1B", true, "\xB9\\x1B"},           // the template stays Shift_JIS: so does the value
    };
    const std::string converted_head[] = {
        "入力ﾌｧｲﾙが開けません。\n(",
        "\xC6\xFE\xCE\xCF\x8E\xCC\x8E\xA7\x8E\xB2\x8E\xD9\xA4\xAC\xB3\xAB\xA4\xB1\xA4\xDE\xA4\xBB\xA4\xF3\xA1\xA3\n(",
    };
    for (const Case& c : cases) {
        const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {c.value, false, c.shift_jis}, {")", true}};
        const std::string codeset = c.codeset;
        const std::string head = codeset == "UTF-8"    ? converted_head[0]
                                 : codeset == "EUC-JP" ? converted_head[1]
                                                       : CANNOT_OPEN_HEAD;
        EXPECT_EQ(render_message(parts, codeset), head + c.shown + ")")
            << codeset << " " << testing::PrintToString(c.value);
    }
}

TEST(CommandLine, JoinsArgumentsWithSingleSpaces) {
    std::string a0 = "rekmo", a1 = "", a2 = "my file", a3 = "x";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
    EXPECT_EQ(command_line(4, argv), "rekmo  my file x");
}

}  // namespace
}  // namespace rekmo::platform
