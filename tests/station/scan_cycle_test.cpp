#include "station/scan_cycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

#include "support/station_harness.h"
#include "station/discovery.h"
#include "protocol/requests.h"
#include "station/station_wait.h"

namespace stampwright::station_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

std::string Text(const RecordingPage& page, int id) { return page.GetText(id, 200); }

class ScanCycleTest : public ::testing::Test {
 protected:
  ScanCycleTest() { h.AddAdapter("eth0", kAdapter0); }

  SimulatedUnitConfig UnitConfig() {
    SimulatedUnitConfig config;
    config.mac = kUnitMac;
    config.version_text = "3.0.2-sim";
    return config;
  }

  StationHarness h;
};

TEST_F(ScanCycleTest, FirstPassAfterStartMarksPresenceOnly) {
  h.Plug("eth0", UnitConfig());
  EXPECT_TRUE(ScanNow(h.station));
  EXPECT_EQ(h.station.adapters.records[0].DevicePresent, 1u);
  EXPECT_EQ(h.station.summaries[0].Present, 1u);
  EXPECT_EQ(h.station.summaries[0].AdapterMac, kAdapter0);
  EXPECT_TRUE(h.station.summaries[0].DeviceMac.IsZero());
  EXPECT_TRUE(h.page.TextsOf(kMacField).empty());
  EXPECT_TRUE(h.page.TextsOf(kFirmwareVersionField).empty());
  EXPECT_EQ(h.units[0]->RequestCount(kVsRdModReq), 0u);
  EXPECT_THAT(h.page.TextsOf(kScanField), ElementsAre(" Scanning...", "Autoscan On"));
  EXPECT_EQ(h.timer.starts, 1);
}

TEST_F(ScanCycleTest, SecondPassShowsIdentityAndReadsTheModuleOnce) {
  SimulatedUnit& unit = h.Plug("eth0", UnitConfig());
  ScanNow(h.station);
  h.page.Check(kPx300Radio, true);
  h.page.Clear();
  EXPECT_TRUE(ScanNow(h.station));

  EXPECT_EQ(Text(h.page, kMacField), "02:A0:C5:00:00:01");
  EXPECT_EQ(Text(h.page, kChipModelField), "PX300");
  EXPECT_EQ(Text(h.page, kFirmwareVersionField), "3.0.2-sim");
  EXPECT_STREQ(h.station.adapters.records[0].FirmwareVersion, "3.0.2-sim");
  EXPECT_EQ(h.station.summaries[0].DeviceMac, kUnitMac);
  EXPECT_EQ(Text(h.page, kConnectionField), "Connected");
  EXPECT_EQ(Text(h.page, kStatusLine), "Read Module OK - PX300 Class B");
  EXPECT_TRUE(h.page.IsEnabled(kBurnButton));
  EXPECT_EQ(h.station.module.bytes, unit.Flash().bytes);
  EXPECT_EQ(h.station.AutoReadDone, 1);

  // The connection text comes after the automatic read; the MAC field after that.
  const std::vector<std::string> transcript = h.page.Transcript();
  const auto at = [&](const std::string& line) {
    return std::find(transcript.begin(), transcript.end(), line) - transcript.begin();
  };
  EXPECT_LT(at("text 1105 Read Module OK - PX300 Class B"), at("text 1012 Connected"));
  EXPECT_LT(at("text 1012 Connected"), at("text 1056 02:A0:C5:00:00:01"));

  // A unit that stays is not read again.
  const uint32_t reads = unit.RequestCount(kVsRdModReq);
  EXPECT_EQ(reads, 8u);
  h.Tick();
  h.Tick();
  EXPECT_EQ(unit.RequestCount(kVsRdModReq), reads);
}

TEST_F(ScanCycleTest, StatusLineAlternatesRequestAndConfirmationTexts) {
  h.Plug("eth0", UnitConfig());
  ScanNow(h.station);
  h.page.Check(kPx300Radio, true);
  h.page.Clear();
  ScanNow(h.station);
  const std::vector<std::string> status = h.page.StatusTexts();
  ASSERT_EQ(status.size(), 18u);
  for (int chunk = 0; chunk < 8; ++chunk) {
    const int offset = chunk * 1024;
    EXPECT_EQ(status[2 * chunk], "Read Module - offset: " + std::to_string(offset));
    EXPECT_EQ(status[2 * chunk + 1],
              "response Read Module (a024) - offset: " + std::to_string(offset));
  }
  EXPECT_EQ(status[16], "Read Module - offset: 7864, OK");
  EXPECT_EQ(status[17], "Read Module OK - PX300 Class B");
}

TEST_F(ScanCycleTest, UnpluggedUnitClearsThePageAtTheNextTick) {
  h.Plug("eth0", UnitConfig());
  ScanNow(h.station);
  ScanNow(h.station);
  ASSERT_EQ(Text(h.page, kConnectionField), "Connected");
  h.page.Enable(kBurnButton, true);
  h.Unplug("eth0");
  h.Tick();
  EXPECT_EQ(Text(h.page, kStatusLine), "No Device");
  EXPECT_EQ(Text(h.page, kConnectionField), "Not Connected");
  EXPECT_EQ(Text(h.page, kFirmwareVersionField), "");
  EXPECT_EQ(Text(h.page, kChipModelField), "");
  EXPECT_EQ(Text(h.page, kMacField), "");
  EXPECT_FALSE(h.page.IsEnabled(kBurnButton));
  EXPECT_EQ(h.station.AutoReadDone, 0);
  // The adapter's summary forgets presence but keeps the last device.
  EXPECT_EQ(h.station.summaries[0].Present, 0u);
  EXPECT_EQ(h.station.summaries[0].DeviceMac, kUnitMac);
  EXPECT_EQ(h.driver.OpenHandleCount(), 0u);
}

TEST_F(ScanCycleTest, RepluggedUnitIsReadOnceMore) {
  SimulatedUnit& unit = h.Plug("eth0", UnitConfig());
  ScanNow(h.station);
  ScanNow(h.station);
  ASSERT_EQ(unit.RequestCount(kVsRdModReq), 8u);
  h.Unplug("eth0");
  h.Tick();
  h.driver.AttachPeer("eth0", &unit);
  h.Tick();
  EXPECT_EQ(unit.RequestCount(kVsRdModReq), 16u);
  EXPECT_EQ(Text(h.page, kConnectionField), "Connected");
}

TEST_F(ScanCycleTest, TickCounterFollowsAutoScan) {
  h.Tick();
  h.Tick();
  EXPECT_THAT(h.page.TextsOf(kTickCounter), ElementsAre("1", "2"));

  Preferences off = LoadedDefaults();
  off.AutoScan = 0;
  StationHarness quiet({}, off);
  quiet.AddAdapter("eth0", kAdapter0);
  DeriveAutoScanSuspended(quiet.station, off.AutoScan);
  quiet.Tick();
  quiet.Tick();
  EXPECT_TRUE(quiet.page.TextsOf(kTickCounter).empty());
  EXPECT_EQ(Text(quiet.page, kScanField), "Autoscan Off");
  EXPECT_EQ(Text(quiet.page, kStatusLine), "No Device");
}

// The station counts its own ticks: the counter's text is what it shows, never read back.
TEST_F(ScanCycleTest, TickCounterCountsTheStationsTicksAndSaturates) {
  h.Tick();
  h.Tick();
  EXPECT_EQ(Text(h.page, kTickCounter), "2");
  h.page.SetText(kTickCounter, "  +41");
  h.Tick();
  EXPECT_EQ(Text(h.page, kTickCounter), "3");
  h.station.shown.ticks = LONG_MAX - 1;
  h.Tick();
  h.Tick();  // saturates instead of overflowing
  EXPECT_EQ(Text(h.page, kTickCounter), std::to_string(LONG_MAX));
}

TEST_F(ScanCycleTest, NoAdapterMeansNothingSentAndSummariesUntouched) {
  StationHarness empty;
  empty.station.summaries[3].BytesSent = 77;
  EXPECT_FALSE(DiscoverDevices(empty.station));
  EXPECT_EQ(empty.station.summaries[3].BytesSent, 77u);
  EXPECT_EQ(empty.station.summaries[0].FramesSent, 0u);
}

TEST_F(ScanCycleTest, AbsentAdapterCostsThreeTriesOfGrowingWaits) {
  const uint32_t start = h.clock.TickCount();
  EXPECT_FALSE(DiscoverDevices(h.station));
  EXPECT_EQ(h.clock.TickCount() - start, 2u + 50 + 2 + 150 + 2 + 250);
  EXPECT_EQ(h.station.summaries[0].FramesSent, 3u);
  EXPECT_EQ(h.station.summaries[0].BytesSent, 3u * 1510);
}

TEST_F(ScanCycleTest, UnitAnsweringOnlyTheThirdQueryIsFound) {
  SimulatedUnit unit(UnitConfig());
  LateListener late(unit, 2);
  h.driver.AttachPeer("eth0", &late);
  const uint32_t start = h.clock.TickCount();
  EXPECT_TRUE(DiscoverDevices(h.station));
  EXPECT_GE(h.clock.TickCount() - start, 2u + 50 + 2 + 150 + 2);
  EXPECT_EQ(h.station.summaries[0].FramesSent, 3u);
}

TEST_F(ScanCycleTest, UnitOnSecondOfTwoAdaptersShowsItsOwnMac) {
  h.AddAdapter("eth1", kAdapter1);
  h.Plug("eth1", UnitConfig());
  ScanNow(h.station);
  ScanNow(h.station);
  EXPECT_EQ(h.station.adapters.CurrentAdapter, 1);
  EXPECT_EQ(Text(h.page, kMacField), "02:A0:C5:00:00:01");
  EXPECT_EQ(h.station.summaries[0].Present, 0u);
  EXPECT_EQ(h.station.summaries[1].Present, 1u);
  EXPECT_EQ(h.station.summaries[1].AdapterMac, kAdapter1);
}

TEST_F(ScanCycleTest, EarlyWaitsEndOnceAnsweredFullWaitsDoNot) {
  h.Plug("eth0", UnitConfig());
  ScanNow(h.station);
  const uint32_t start = h.clock.TickCount();
  ScanNow(h.station);
  const uint32_t early = h.clock.TickCount() - start;

  StationSettings full;
  full.full_waits = true;
  StationHarness slow(full);
  slow.AddAdapter("eth0", kAdapter0);
  slow.Plug("eth0", UnitConfig());
  ScanNow(slow.station);
  const uint32_t slow_start = slow.clock.TickCount();
  ScanNow(slow.station);
  const uint32_t fixed = slow.clock.TickCount() - slow_start;

  // Full waits: the 50 ms listen for a second unit, then eight 2 + 50 ms read passes, nested
  // inside the query's wait.
  EXPECT_GE(fixed, 50u + 8 * 52);
  EXPECT_LE(fixed, 2u + 50 + 50 + 8 * 52);
  EXPECT_LT(early * 5, fixed);
  EXPECT_EQ(Text(slow.page, kStatusLine), Text(h.page, kStatusLine));
}

TEST_F(ScanCycleTest, TickDueInsideAMessageBoxIsHeldBackUntilTheOperationEnds) {
  SimulatedUnitConfig config = UnitConfig();
  config.faults.reject_every = 1;  // every write refused: one box per chunk
  h.Plug("eth0", config);
  ScanNow(h.station);
  ScanNow(h.station);
  int ticks_delivered = 0;
  int open_handles_during_box = -1;
  h.page.on_message_box = [&] {
    ++ticks_delivered;
    open_handles_during_box = static_cast<int>(h.driver.OpenHandleCount());
    OnScanTimer(h.station);
    EXPECT_EQ(h.driver.OpenHandleCount(), static_cast<size_t>(open_handles_during_box));
  };
  h.page.Clear();
  {
    DeviceOperation operation(h.station);
    h.station.registers.WriteTransferOffset = 0;
    MessageContext messages = h.station.Messages();
    SendWriteModule(messages, 0, 0, 1024, kModuleIdParameter, h.station.module);
    WaitForResponses(h.station, 0, 50);
    EXPECT_TRUE(h.station.tick_pending);
    EXPECT_TRUE(h.page.TextsOf(kScanField).empty());
  }
  EXPECT_GE(ticks_delivered, 1);
  EXPECT_FALSE(h.station.tick_pending);
  EXPECT_THAT(h.page.TextsOf(kScanField), Contains(" Scanning..."));
}

}  // namespace
}  // namespace stampwright::station_test
