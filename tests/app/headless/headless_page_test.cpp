#include "app/headless/headless_page.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/headless/event_writer.h"
#include "resources/controls.h"

namespace stampwright {
namespace {

using Json = nlohmann::ordered_json;

class HeadlessPageTest : public testing::Test {
 protected:
  HeadlessPageTest() : page([this](Json event) { events.push_back(std::move(event)); }) {}

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const Json& event : events) lines.push_back(EventWriter::Format(event, 7));
    return lines;
  }

  std::vector<Json> events;
  HeadlessPage page;
};

TEST_F(HeadlessPageTest, StartsAsTheTemplateCreatesThePage) {
  EXPECT_EQ(page.GetText(kStatusLine, 79), "START");
  EXPECT_EQ(page.GetText(kMacField, 79), "AA:AA:AA:AA:AA:AA");
  EXPECT_EQ(page.GetText(kScanField, 79), "Auto Scan off");
  EXPECT_EQ(page.GetText(kNmkField, 79), "DefaultNPW");
  EXPECT_FALSE(page.IsEnabled(kBurnButton));  // disabled in the template
  EXPECT_TRUE(page.IsEnabled(kScanButton));
  EXPECT_FALSE(page.IsChecked(kPx300Radio));   // selecting it is the page procedure's step
  EXPECT_FALSE(page.TextOf(kUnnamedLabelId));  // unnamed labels cannot be addressed
  EXPECT_FALSE(page.TextOf(4242));
  EXPECT_TRUE(events.empty());
}

TEST_F(HeadlessPageTest, SystemWritesBecomeOneJsonLineEach) {
  page.SetText(kStatusLine, "Burning...");
  page.SetText(kStatusLine, "Burning...");  // every write, even an unchanged text
  page.Enable(kBurnButton, true);
  page.Check(kPx300Radio, true);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         R"({"event":"text","id":1105,"text":"Burning...","ms":7})",
                         R"({"event":"text","id":1105,"text":"Burning...","ms":7})",
                         R"({"event":"enable","id":1102,"enabled":true,"ms":7})",
                         R"({"event":"check","id":1002,"checked":true,"ms":7})",
                     }));
  EXPECT_TRUE(page.IsEnabled(kBurnButton));
  EXPECT_TRUE(page.IsChecked(kPx300Radio));
}

// Whatever stdout is (a socket is not watched for its reader), the first write that finds the
// reader gone says so, once; the events after it are dropped.
TEST(EventWriterTest, AWriteToAGoneReaderIsReportedOnce) {
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  std::FILE* out = ::fdopen(ends[0], "w");
  ASSERT_NE(out, nullptr);
  EventWriter writer(out);
  int lost = 0;
  writer.SetFailureHandler([&lost] { ++lost; });
  writer.Write({{"event", "ready"}});
  char line[64] = {};
  EXPECT_GT(::read(ends[1], line, sizeof line - 1), 0);
  EXPECT_EQ(std::string(line).rfind(R"({"event":"ready","ms":)", 0), 0u) << line;
  EXPECT_EQ(lost, 0);
  ::close(ends[1]);
  for (int i = 0; i < 3; ++i) writer.Write({{"event", "text"}});
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(writer.failed());
  std::fclose(out);
  std::signal(SIGPIPE, previous);
}

TEST_F(HeadlessPageTest, TextsStopAtNulAndReadsAreCut) {
  page.SetText(kMacField, std::string("02A0C5\0junk", 11));
  EXPECT_EQ(page.TextOf(kMacField), "02A0C5");
  EXPECT_EQ(page.GetText(kMacField, 3), "02A");
  EXPECT_EQ(events.back()["text"], "02A0C5");
}

TEST_F(HeadlessPageTest, BytesThatAreNotUtf8NeverBreakTheLine) {
  page.SetText(kPasswordField, "\xff\xfe-\x01");
  const std::string line = Lines().back();
  EXPECT_EQ(line, "{\"event\":\"text\",\"id\":1057,\"text\":\"\xEF\xBF\xBD\xEF\xBF\xBD-\\u0001\",\"ms\":7}");
}

TEST_F(HeadlessPageTest, MessageBoxesAreAnsweredOkAndBig5IsShownAsUtf8) {
  EXPECT_EQ(page.MessageBox("Error opening DB", "Mac Burn", kMbIconError), kIdOk);
  EXPECT_EQ(page.MessageBox("\xA4\xA3\xAC\x4F PX100 Class B, \xBD\xD0\xA7\xF3\xB4\xAB!!", "Read Module",
                            kMbIconError | kMbSystemModal),
            kIdOk);
  EXPECT_EQ(Lines()[0],
            R"({"event":"messagebox","caption":"Mac Burn","text":"Error opening DB","type":16,"ms":7})");
  EXPECT_EQ(events[1]["text"], "不是 PX100 Class B, 請更換!!");
  EXPECT_EQ(events[1]["type"], 4112);
}

TEST_F(HeadlessPageTest, FileDialogTakesQueuedAnswersInOrderElseCancels) {
  FileDialogRequest request;
  request.max_path = 16;
  EXPECT_FALSE(page.OpenFileDialog(request));  // nothing queued
  page.QueueFileAnswer("/tmp/cam.db");
  page.QueueFileAnswer(std::nullopt);
  page.QueueFileAnswer(std::string(16, 'p'));  // one too long for 16 with the terminator
  page.QueueFileAnswer(std::string(15, 'q'));
  EXPECT_EQ(page.OpenFileDialog(request), "/tmp/cam.db");
  EXPECT_FALSE(page.OpenFileDialog(request));
  EXPECT_FALSE(page.OpenFileDialog(request));
  EXPECT_EQ(page.OpenFileDialog(request), std::string(15, 'q'));
  EXPECT_FALSE(page.OpenFileDialog(request));
}

TEST_F(HeadlessPageTest, TypingGoesOnlyIntoUsableEditControls) {
  EXPECT_FALSE(page.Type(kNewMacEdit, "02A0C5100001"));
  EXPECT_EQ(page.GetText(kNewMacEdit, 12), "02A0C5100001");
  EXPECT_FALSE(page.Type(kDbPathEdit, "/hidden/but/wired"));  // hidden edits take text too
  EXPECT_EQ(*page.Type(kTickCounter, "5"), "control 1008 is read-only");
  EXPECT_EQ(*page.Type(kStatusLine, "x"), "control 1105 is not an edit control");
  EXPECT_EQ(*page.Type(4242, "x"), "control 4242 is not on the page");
  page.Enable(kNewMacEdit, false);
  EXPECT_EQ(*page.Type(kNewMacEdit, "x"), "control 1009 is disabled");
  EXPECT_EQ(page.GetText(kNewMacEdit, 12), "02A0C5100001");
  // Typing is the operator's, not the system's: no text event, and no wait is woken by it.
  EXPECT_EQ(events.size(), 1u);  // only the enable above
}

TEST_F(HeadlessPageTest, PressingRefusesWhatCannotBePressed) {
  EXPECT_EQ(*page.Press(kBurnButton), "control 1102 is disabled");
  EXPECT_FALSE(page.Press(kScanButton));  // hidden, enabled: its command runs
  EXPECT_FALSE(page.Press(kUpgradeButton));
  EXPECT_EQ(*page.Press(kNewMacEdit), "control 1009 is not a button");
  EXPECT_EQ(*page.Press(9999), "control 9999 is not on the page");
  page.Enable(kBurnButton, true);
  EXPECT_FALSE(page.Press(kBurnButton));
}

TEST_F(HeadlessPageTest, RadioButtonsDeselectOnlyTheirOwnGroup) {
  page.Check(kPx300Radio, true);
  page.Check(kNotchOn, true);
  events.clear();

  EXPECT_FALSE(page.SetRadio(kPx100Radio, true));
  EXPECT_FALSE(page.IsChecked(kPx300Radio));
  EXPECT_TRUE(page.IsChecked(kPx100Radio));
  EXPECT_TRUE(page.IsChecked(kNotchOn));  // the other group is left alone
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         R"({"event":"check","id":1002,"checked":false,"ms":7})",
                         R"({"event":"check","id":1003,"checked":true,"ms":7})",
                     }));

  events.clear();
  EXPECT_FALSE(page.Press(kNotchOff));  // a click on a radio button selects it
  EXPECT_FALSE(page.IsChecked(kNotchOn));
  EXPECT_TRUE(page.IsChecked(kNotchOff));
  EXPECT_TRUE(page.IsChecked(kPx100Radio));
  EXPECT_EQ(events.size(), 2u);

  events.clear();
  EXPECT_FALSE(page.SetRadio(kNotchOff, false));  // clearing touches only that button
  EXPECT_FALSE(page.IsChecked(kNotchOff));
  EXPECT_FALSE(page.IsChecked(kNotchOn));
  EXPECT_EQ(events.size(), 1u);
  EXPECT_FALSE(page.SetRadio(kNotchOff, false));  // already clear: nothing to report
  EXPECT_EQ(events.size(), 1u);

  EXPECT_EQ(*page.SetRadio(kBurnButton, true), "control 1102 is not a radio button");
  page.Enable(kPx300Radio, false);
  EXPECT_EQ(*page.SetRadio(kPx300Radio, true), "control 1002 is disabled");
}

TEST_F(HeadlessPageTest, OnTextRunsAfterEveryWriteWithTheNewText) {
  std::vector<std::string> seen;
  page.on_text = [&](int id) { seen.push_back(std::to_string(id) + "=" + *page.TextOf(id)); };
  page.SetText(kStatusLine, "Waiting...");
  page.SetText(kStatusLine, "Success");
  page.Enable(kBurnButton, false);
  EXPECT_EQ(seen, (std::vector<std::string>{"1105=Waiting...", "1105=Success"}));
}

}  // namespace
}  // namespace stampwright
