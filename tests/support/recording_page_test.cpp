#include "support/recording_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "resources/controls.h"
#include "resources/page_template.h"

namespace stampwright {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(RecordingPage, StartsAsTheTemplateCreatesThePage) {
  RecordingPage page;
  EXPECT_EQ(page.GetText(kStatusLine, 79), "START");
  EXPECT_EQ(page.GetText(kMacField, 79), "AA:AA:AA:AA:AA:AA");
  EXPECT_EQ(page.GetText(kNewMacEdit, 79), "");
  EXPECT_FALSE(page.IsEnabled(kBurnButton));
  EXPECT_TRUE(page.IsEnabled(kNewMacEdit));
  EXPECT_TRUE(page.IsEnabled(kScanButton));
  // Selecting PX 300 is the page procedure's job, not the template's.
  for (int id : {kPx300Radio, kPx100Radio, kNotchOn, kNotchOff}) EXPECT_FALSE(page.IsChecked(id));
  EXPECT_THAT(page.events(), IsEmpty());
}

TEST(RecordingPage, LogsEveryChangeInOrderAndPerKind) {
  RecordingPage page;
  page.Check(kPx300Radio, true);
  page.SetText(kStatusLine, "Burning...");
  page.Enable(kBurnButton, true);
  page.SetText(kMacField, "00:11:22:33:44:55");
  page.SetText(kStatusLine, "Success");
  page.Enable(kBurnButton, false);

  EXPECT_THAT(page.Transcript(),
              ElementsAre("check 1002 1", "text 1105 Burning...", "enable 1102 1",
                          "text 1056 00:11:22:33:44:55", "text 1105 Success", "enable 1102 0"));
  EXPECT_THAT(page.StatusTexts(), ElementsAre("Burning...", "Success"));
  EXPECT_THAT(page.TextsOf(kMacField), ElementsAre("00:11:22:33:44:55"));
  ASSERT_EQ(page.enables().size(), 2u);
  EXPECT_TRUE(page.enables()[0].enabled);
  EXPECT_FALSE(page.enables()[1].enabled);
  ASSERT_EQ(page.checks().size(), 1u);
  EXPECT_EQ(page.checks()[0].id, kPx300Radio);

  EXPECT_EQ(page.GetText(kStatusLine, 79), "Success");
  EXPECT_FALSE(page.IsEnabled(kBurnButton));
  EXPECT_TRUE(page.IsChecked(kPx300Radio));
  // Checking one button leaves its group partner alone, unlike a click.
  page.Check(kPx100Radio, true);
  EXPECT_TRUE(page.IsChecked(kPx300Radio));
  EXPECT_THAT(page.unknown_ids(), IsEmpty());
}

TEST(RecordingPage, GetTextHonoursMaxChars) {
  RecordingPage page;
  page.SetText(kNewMacEdit, "001122334455EXTRA");
  EXPECT_EQ(page.GetText(kNewMacEdit, 12), "001122334455");
  EXPECT_EQ(page.GetText(kNewMacEdit, 0), "");
  EXPECT_EQ(page.GetText(kNewMacEdit, 100), "001122334455EXTRA");
}

TEST(RecordingPage, ControlStopsAtNulButLogKeepsTheBytes) {
  RecordingPage page;
  const std::string written("Success\0garbage", 15);
  page.SetText(kStatusLine, written);
  EXPECT_EQ(page.GetText(kStatusLine, 79), "Success");
  EXPECT_THAT(page.StatusTexts(), ElementsAre(written));
}

TEST(RecordingPage, UnknownIdsAreNotedAndHoldNothing) {
  RecordingPage page;
  page.SetText(4242, "x");
  EXPECT_EQ(page.GetText(4242, 10), "");
  EXPECT_FALSE(page.IsEnabled(kUnnamedLabelId));
  EXPECT_THAT(page.unknown_ids(), ElementsAre(4242, 4242, kUnnamedLabelId));
  EXPECT_THAT(page.Transcript(), ElementsAre("text 4242 x"));
}

TEST(RecordingPage, MessageBoxesAnswerFromTheQueueThenOk) {
  RecordingPage page;
  page.QueueMessageBoxResult(2);
  EXPECT_EQ(page.MessageBox("Error opening DB", "Mac Burn", kMbIconError), 2);
  EXPECT_EQ(page.MessageBox("The input MAC is invalid.", "Info", kMbIconWarning), kIdOk);
  ASSERT_EQ(page.message_boxes().size(), 2u);
  EXPECT_EQ(page.message_boxes()[0].caption, "Mac Burn");
  EXPECT_EQ(page.message_boxes()[0].type, 16u);
  EXPECT_EQ(page.message_boxes()[1].text, "The input MAC is invalid.");
  EXPECT_EQ(page.message_boxes()[1].type, 48u);
  EXPECT_THAT(page.Transcript(), ElementsAre("box Mac Burn|Error opening DB|16 -> 2",
                                             "box Info|The input MAC is invalid.|48 -> 1"));
}

TEST(RecordingPage, HookRunsWhileTheBoxIsOpen) {
  RecordingPage page;
  int depth_seen = 0;
  page.on_message_box = [&] {
    depth_seen = page.open_modals();
    page.SetText(kTickCounter, "1");  // a tick delivered inside the box's message loop
  };
  page.MessageBox("Read Module response failed", "VS_RD_MOD::eMMTypeReq", kMbOk);
  page.SetText(kStatusLine, "after");
  EXPECT_EQ(depth_seen, 1);
  EXPECT_EQ(page.open_modals(), 0);
  EXPECT_THAT(page.Transcript(),
              ElementsAre("box VS_RD_MOD::eMMTypeReq|Read Module response failed|0 -> 1",
                          "text 1008 1", "text 1105 after"));
}

TEST(RecordingPage, NestedBoxesTakeAnswersInOpeningOrder) {
  RecordingPage page;
  page.QueueMessageBoxResult(7);
  page.QueueMessageBoxResult(8);
  int inner_result = 0;
  page.on_message_box = [&] {
    if (page.open_modals() == 1) inner_result = page.MessageBox("inner", "B", kMbOk);
  };
  EXPECT_EQ(page.MessageBox("outer", "A", kMbOk), 7);
  EXPECT_EQ(inner_result, 8);
  EXPECT_THAT(page.Transcript(), ElementsAre("box A|outer|0 -> 7", "box B|inner|0 -> 8"));
}

TEST(RecordingPage, HookMayReplaceItselfWhileRunning) {
  RecordingPage page;
  int calls = 0;
  page.on_message_box = [&] {
    ++calls;
    page.on_message_box = nullptr;
  };
  page.MessageBox("a", "b", kMbOk);
  page.MessageBox("a", "b", kMbOk);
  EXPECT_EQ(calls, 1);
}

TEST(RecordingPage, FileDialogsAnswerFromTheQueueElseCancelled) {
  RecordingPage page;
  page.QueueFileDialogAnswer("/tmp/cam.db");
  page.QueueFileDialogAnswer(std::nullopt);
  const FileDialogRequest request = DatabaseFileDialogRequest();
  EXPECT_EQ(page.OpenFileDialog(request), "/tmp/cam.db");
  EXPECT_EQ(page.OpenFileDialog(request), std::nullopt);
  EXPECT_EQ(page.OpenFileDialog(request), std::nullopt);
  ASSERT_EQ(page.file_dialogs().size(), 3u);
  EXPECT_EQ(page.file_dialogs()[0].request.flags, kOfnPathMustExist | kOfnFileMustExist);
  EXPECT_EQ(page.file_dialogs()[0].request.filters.size(), 3u);
  EXPECT_THAT(page.Transcript(),
              ElementsAre("dialog -> /tmp/cam.db", "dialog -> cancelled", "dialog -> cancelled"));
}

TEST(RecordingPage, FileDialogRefusesAPathTooLongForTheBuffer) {
  RecordingPage page;
  const std::string fits(255, 'a');
  const std::string too_long(256, 'a');
  page.QueueFileDialogAnswer(fits);
  page.QueueFileDialogAnswer(too_long);
  const FileDialogRequest request = DatabaseFileDialogRequest();
  EXPECT_EQ(page.OpenFileDialog(request), fits);
  EXPECT_EQ(page.OpenFileDialog(request), std::nullopt);
  EXPECT_EQ(page.file_dialogs()[1].result, std::nullopt);
}

TEST(RecordingPage, ClearForgetsTheLogButKeepsStateAndAnswers) {
  RecordingPage page;
  page.SetText(kStatusLine, "Waiting...");
  page.Enable(kBurnButton, true);
  page.QueueMessageBoxResult(5);
  page.SetText(999, "x");
  page.Clear();
  EXPECT_THAT(page.events(), IsEmpty());
  EXPECT_THAT(page.StatusTexts(), IsEmpty());
  EXPECT_THAT(page.enables(), IsEmpty());
  EXPECT_THAT(page.unknown_ids(), IsEmpty());
  EXPECT_EQ(page.GetText(kStatusLine, 79), "Waiting...");
  EXPECT_TRUE(page.IsEnabled(kBurnButton));
  EXPECT_EQ(page.MessageBox("t", "c", kMbOk), 5);
}

}  // namespace
}  // namespace stampwright
