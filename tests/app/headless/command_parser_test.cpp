#include "app/headless/command_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace stampwright {
namespace {

template <typename T>
T ParseAs(std::string_view line) {
  auto parsed = ParseHeadlessCommand(line);
  if (const auto* error = std::get_if<CommandError>(&parsed)) {
    ADD_FAILURE() << "'" << line << "': " << error->message;
    return T{};
  }
  const auto& command = std::get<HeadlessCommand>(parsed);
  if (!std::holds_alternative<T>(command)) {
    ADD_FAILURE() << "'" << line << "' parsed as another command";
    return T{};
  }
  return std::get<T>(command);
}

bool IsError(std::string_view line) {
  return std::holds_alternative<CommandError>(ParseHeadlessCommand(line));
}

TEST(HeadlessCommands, SetTakesTheRestOfTheLineVerbatim) {
  const auto set = ParseAs<SetCommand>("set 1009 02A0C5100001");
  EXPECT_EQ(set.id, 1009);
  EXPECT_EQ(set.text, "02A0C5100001");
  EXPECT_EQ(ParseAs<SetCommand>("set 1009  two  spaces ").text, " two  spaces ");
  EXPECT_EQ(ParseAs<SetCommand>("set 1009").text, "");
  EXPECT_EQ(ParseAs<SetCommand>("set 1009 ").text, "");
  EXPECT_EQ(ParseAs<SetCommand>("set 1009 abc\r").text, "abc");  // CRLF scripts
}

TEST(HeadlessCommands, ClickCheckAndUncheckTakeOneId) {
  EXPECT_EQ(ParseAs<ClickCommand>("click 1102").id, 1102);
  const auto check = ParseAs<CheckCommand>("check 1003");
  EXPECT_EQ(check.id, 1003);
  EXPECT_TRUE(check.checked);
  const auto uncheck = ParseAs<CheckCommand>("uncheck 1002");
  EXPECT_EQ(uncheck.id, 1002);
  EXPECT_FALSE(uncheck.checked);
  EXPECT_TRUE(IsError("click"));
  EXPECT_TRUE(IsError("click 1102 1103"));
  EXPECT_TRUE(IsError("click abc"));
  EXPECT_TRUE(IsError("click -1"));
  EXPECT_TRUE(IsError("click +5"));
  EXPECT_TRUE(IsError("click 99999999999"));
  EXPECT_TRUE(IsError("check"));
}

TEST(HeadlessCommands, FileWithAPathAnswersAndAloneCancels) {
  EXPECT_EQ(ParseAs<FileCommand>("file /tmp/a b.nvm").path, "/tmp/a b.nvm");
  EXPECT_FALSE(ParseAs<FileCommand>("file").path.has_value());
  EXPECT_FALSE(ParseAs<FileCommand>("file\r").path.has_value());
  EXPECT_TRUE(IsError("file "));
}

TEST(HeadlessCommands, SleepAndWaitAreBoundedNumbers) {
  EXPECT_EQ(ParseAs<SleepCommand>("sleep 250").ms, 250u);
  EXPECT_EQ(ParseAs<SleepCommand>("sleep 0").ms, 0u);
  EXPECT_TRUE(IsError("sleep"));
  EXPECT_TRUE(IsError("sleep -5"));
  EXPECT_TRUE(IsError("sleep 1.5"));
  EXPECT_TRUE(IsError("sleep 86400001"));
  EXPECT_TRUE(IsError("sleep 10 20"));

  const auto wait = ParseAs<WaitCommand>("wait 1105 20000 Read Module OK - PX300 Class B");
  EXPECT_EQ(wait.id, 1105);
  EXPECT_EQ(wait.ms, 20000u);
  EXPECT_EQ(wait.text, "Read Module OK - PX300 Class B");
  EXPECT_EQ(ParseAs<WaitCommand>("wait 1109 100").text, "");
  EXPECT_EQ(ParseAs<WaitCommand>("wait 1083 100  Scanning...").text, " Scanning...");
  EXPECT_TRUE(IsError("wait 1105"));
  EXPECT_TRUE(IsError("wait 1105 soon Success"));
  EXPECT_TRUE(IsError("wait x 100 Success"));
}

TEST(HeadlessCommands, CloseBlankLinesCommentsAndUnknownWords) {
  ParseAs<CloseCommand>("close");
  ParseAs<CloseCommand>("close  ");
  EXPECT_TRUE(IsError("close now"));
  ParseAs<NoCommand>("");
  ParseAs<NoCommand>("   ");
  ParseAs<NoCommand>("\r");
  ParseAs<NoCommand>("# a comment");
  EXPECT_TRUE(IsError("Click 1102"));  // words are case-sensitive
  EXPECT_TRUE(IsError(" click 1102"));
  EXPECT_TRUE(IsError("press 1102"));
  auto parsed = ParseHeadlessCommand("frobnicate 1");
  ASSERT_TRUE(std::holds_alternative<CommandError>(parsed));
  EXPECT_NE(std::get<CommandError>(parsed).message.find("frobnicate"), std::string::npos);
}

TEST(HeadlessCommands, HostileBytesNeverCrashTheParser) {
  const std::string nul_line("set 1009 ab\0cd", 14);
  EXPECT_EQ(ParseAs<SetCommand>(nul_line).text, std::string("ab\0cd", 5));
  EXPECT_TRUE(IsError(std::string("click 11\0 2", 11)));
  EXPECT_TRUE(IsError("\xff\xfe click"));
  EXPECT_TRUE(IsError(std::string(100000, 'x')));
}

}  // namespace
}  // namespace stampwright
