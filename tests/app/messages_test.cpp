#include "app/messages.hpp"

#include <gtest/gtest.h>

#include "platform/platform.hpp"

namespace rekmo {
namespace {

// The message as a UTF-8 terminal shows it.
std::string shown(Message id, std::initializer_list<MessageArg> args) {
    const std::vector<MessagePiece> pieces = format_message(id, args);
    std::vector<platform::MessagePart> parts;
    for (const MessagePiece& p : pieces) parts.push_back({p.bytes, p.from_template});
    return platform::render_message(parts, "UTF-8");
}

TEST(Messages, EveryTemplateReadsAsWritten) {
    const std::pair<std::string, std::string> cases[] = {
        {shown(Message::USAGE, {}), "Usage : Rekmo HostFile WinFile FormatFile"},
        {shown(Message::CANNOT_OPEN, {"data.bin"}), "入力ﾌｧｲﾙが開けません。\n(data.bin)"},
        {shown(Message::RECORD_LENGTH_MISMATCH, {"data.bin", 80}), "入力ﾌｧｲﾙのﾚｺｰﾄﾞ長が合いません。\n(data.bin 80)"},
        {shown(Message::READ_ERROR, {}), "入力ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。"},
        {shown(Message::WRITE_ERROR, {}), "出力ﾌｧｲﾙへの書き込み中にｴﾗｰが発生しました。"},
        {shown(Message::ITEM_SIZE, {3}), "3行の項目ｻｲｽﾞが不正です。"},
        {shown(Message::ITEM_TYPE, {12}), "12行の項目型が不正です。"},
        {shown(Message::ITEM_POSITION, {std::int64_t{100000}}), "100000行の項目位置が不正です。"},
        {shown(Message::RECORD_LENGTH_INVALID, {-1}), "ﾚｺｰﾄﾞ長が不正です。\n(-1)"},
        {shown(Message::OUT_OF_MEMORY, {}), "ﾒﾓﾘが不足しています。"},
    };
    for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
}

TEST(Messages, SeparatesTemplateTextFromArguments) {
    const std::vector<MessagePiece> pieces = format_message(Message::RECORD_LENGTH_MISMATCH, {"a%d.bin", 7});
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_TRUE(pieces[0].from_template);
    EXPECT_EQ(pieces[1].bytes, "a%d.bin");  // an argument is never read as a template
    EXPECT_FALSE(pieces[1].from_template);
    EXPECT_EQ(pieces[2].bytes, " ");
    EXPECT_EQ(pieces[3].bytes, "7");
    EXPECT_FALSE(pieces[3].from_template);
    EXPECT_EQ(pieces[4].bytes, ")");
}

TEST(Messages, DirectiveWithoutArgumentIsDropped) {
    EXPECT_TRUE(message_bytes(format_message(Message::RECORD_LENGTH_MISMATCH, {"x"})).ends_with("\n(x )"));
    EXPECT_EQ(message_bytes(format_message(Message::USAGE, {"extra"})), "Usage : Rekmo HostFile WinFile FormatFile");
}

TEST(Messages, LongPathsAreNeverCut) {
    const std::string path(5000, 'p');
    EXPECT_TRUE(shown(Message::CANNOT_OPEN, {path}).ends_with("\n(" + path + ")"));
}

}  // namespace
}  // namespace rekmo
