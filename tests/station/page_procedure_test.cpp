#include "station/page_procedure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PageProcedureTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    h.AddAdapter("eth0", kAdapter0);
  }

  size_t QueriesSent() const {
    size_t queries = 0;
    for (const auto& frame : h.driver.SentFrames("eth0")) {
      if (frame.size() >= 17 && frame[15] == 0x00 && frame[16] == 0xA0) ++queries;
    }
    return queries;
  }

  StationHarness h;
};

TEST_F(PageProcedureTest, CreationRunsTwoDiscoveriesBeforeThePageIsShown) {
  SimulatedUnitConfig config;
  config.mac = kUnitMac;
  h.Plug("eth0", config);
  OnPageCreated(h.station);
  EXPECT_TRUE(h.page.IsChecked(kPx300Radio));
  EXPECT_EQ(h.page.GetText(kTickCounter, 80), "0");
  EXPECT_EQ(h.page.GetText(kConnectionField, 80), "Connected");
  // The second discovery takes the identity and reads the module.
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "Read Module OK - PX300 Class B");
  EXPECT_TRUE(h.page.IsEnabled(kBurnButton));
  EXPECT_EQ(h.units[0]->RequestCount(kVsVerQueryReq), 2u);
  // A unit answered: the rescans already started the timer.
  EXPECT_GE(h.timer.starts, 1);
  EXPECT_EQ(h.page.Transcript().back(), "text 1008 0");
}

TEST_F(PageProcedureTest, CreationWithoutAUnitLeavesNoTimerAndNotConnected) {
  OnPageCreated(h.station);
  EXPECT_EQ(QueriesSent(), 6u);
  EXPECT_EQ(h.timer.starts, 0);
  EXPECT_EQ(h.page.GetText(kConnectionField, 80), "Not Connected");
  EXPECT_THAT(h.page.TextsOf(kScanField),
              ElementsAre(" Scanning...", "Autoscan On"));
  // The scan field is written by the second discovery only; the first runs through RescanDevices.
  EXPECT_EQ(h.station.AutoScanSuspended, 0u);
}

TEST_F(PageProcedureTest, ActivationStartsTheTimerAndScansAtOnceOnlyWithAutoScanOff) {
  OnPageActivated(h.station);
  EXPECT_TRUE(h.timer.IsActive());
  EXPECT_EQ(h.timer.interval, 3000u);
  EXPECT_EQ(QueriesSent(), 0u);

  Preferences off = LoadedDefaults();
  off.AutoScan = 0;
  StationHarness quiet({}, off);
  quiet.AddAdapter("eth0", kAdapter0);
  OnPageActivated(quiet.station);
  EXPECT_TRUE(quiet.timer.IsActive());
  EXPECT_EQ(quiet.page.GetText(kScanField, 80), "Autoscan Off");
}

TEST_F(PageProcedureTest, LeavingAndDestroyingEachWriteTheStateFile) {
  OnPageDeactivated(h.station);
  const std::string name = "Linewave Utility.data";
  ASSERT_TRUE(std::filesystem::exists(name));
  EXPECT_EQ(std::filesystem::file_size(name), 97492u);
  std::filesystem::remove(name);
  OnPageDestroyed(h.station);
  EXPECT_EQ(std::filesystem::file_size(name), 97492u);
}

TEST_F(PageProcedureTest, OnlyTheFiveCommandsDoAnything) {
  for (const int id : {kUpgradeButton, kPx300Radio, kNotchOn, kStatusLine, 0, 65535, -1}) {
    OnPageCommand(h.station, id);
  }
  EXPECT_THAT(h.page.texts(), IsEmpty());
  EXPECT_THAT(h.page.file_dialogs(), IsEmpty());
  EXPECT_EQ(QueriesSent(), 0u);

  OnPageCommand(h.station, kScanButton);
  EXPECT_EQ(QueriesSent(), 3u);
}

TEST_F(PageProcedureTest, SelectAsksForTheDatabaseAndFillsOnlyTheDbPath) {
  h.page.QueueFileDialogAnswer("/data/units.db");
  OnPageCommand(h.station, kSelectButton);
  ASSERT_EQ(h.page.file_dialogs().size(), 1u);
  const FileDialogRequest& request = h.page.file_dialogs()[0].request;
  ASSERT_EQ(request.filters.size(), 3u);
  EXPECT_EQ(request.filters[0].display, "ALL (*.db;*.txt)");
  EXPECT_EQ(request.filters[0].pattern, "*.db;*.txt");
  EXPECT_EQ(request.filters[1].display, "Text (*.txt)");
  EXPECT_EQ(request.filters[2].pattern, "*.db");
  EXPECT_EQ(request.filter_index, 1);
  EXPECT_EQ(request.flags, 0x1800u);
  EXPECT_EQ(request.max_path, 256u);
  EXPECT_THAT(h.page.Transcript(), ElementsAre("dialog -> /data/units.db",
                                               "text 1007 /data/units.db"));

  h.page.Clear();
  OnPageCommand(h.station, kSelectButton);  // cancelled
  EXPECT_THAT(h.page.texts(), IsEmpty());
  EXPECT_EQ(h.page.GetText(kDbPathEdit, 255), "/data/units.db");
}

TEST_F(PageProcedureTest, BurnDoesNothingWhileTheButtonIsDisabled) {
  h.page.SetText(kNewMacEdit, "02A0C5100001");
  h.page.Clear();
  OnPageCommand(h.station, kBurnButton);
  EXPECT_THAT(h.page.events(), IsEmpty());
  EXPECT_EQ(h.driver.FramesSent("eth0"), 0u);
}

TEST_F(PageProcedureTest, BurnWithAnUnknownMacShowsOnlyTheLookupBox) {
  h.page.Enable(kBurnButton, true);
  h.page.SetText(kStatusLine, "Read Module OK - PX300 Class B");
  h.page.SetText(kNewMacEdit, "02A0C5100001");
  h.page.Clear();
  OnPageCommand(h.station, kBurnButton);  // no cam.dbr here
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_EQ(h.page.message_boxes()[0].text, "Error opening DB");
  EXPECT_THAT(h.page.texts(), IsEmpty());
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "Read Module OK - PX300 Class B");
}

TEST_F(PageProcedureTest, ACommandDuringADeviceOperationRunsAfterIt) {
  int inner_queries = -1;
  h.page.on_file_dialog = [&] {
    OnPageCommand(h.station, kScanButton);
    inner_queries = static_cast<int>(QueriesSent());
  };
  OnPageCommand(h.station, kBrowseButton);  // the firmware dialog is part of the upgrade
  EXPECT_EQ(inner_queries, 0);
  EXPECT_EQ(QueriesSent(), 3u);
}

TEST_F(PageProcedureTest, ScanTicksGoOnWhileTheDatabaseDialogIsOpen) {
  h.page.on_file_dialog = [&] { h.Tick(); };
  OnPageCommand(h.station, kSelectButton);
  EXPECT_EQ(QueriesSent(), 3u);
  EXPECT_FALSE(h.station.tick_pending);
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "No Device");
}

}  // namespace
}  // namespace stampwright::station_test
