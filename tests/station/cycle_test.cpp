// The operator's cycle: discovery over several adapters at once, adapters that come and go,
// commands that arrive during a device operation, and the New MAC field after each attempt.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "programming/mac_database.h"
#include "station/discovery.h"
#include "station/mac_lookup.h"
#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

using ::testing::ElementsAre;

const MacAddress kAdapters[] = {Mac(0x02, 0xAA, 0, 0, 0, 0x10), Mac(0x02, 0xAA, 0, 0, 0, 0x11),
                                Mac(0x02, 0xAA, 0, 0, 0, 0x12), Mac(0x02, 0xAA, 0, 0, 0, 0x13)};
constexpr char kBurnMacText[] = "02A0C5123456";

SimulatedUnitConfig UnitConfig() {
  SimulatedUnitConfig config;
  config.mac = kUnitMac;
  return config;
}

size_t QueriesSent(const VirtualDriver& driver, const std::string& adapter) {
  size_t queries = 0;
  for (const auto& frame : driver.SentFrames(adapter)) {
    if (frame.size() >= 17 && frame[15] == 0x00 && frame[16] == 0xA0) ++queries;
  }
  return queries;
}

// Four adapters, the unit behind the last: start-up, then ticks, on a station with the given
// settings. Returns the virtual time the first discovery took.
uint32_t RunFourAdapters(StationHarness& h) {
  for (int i = 0; i < 4; ++i) h.AddAdapter("eth" + std::to_string(i), kAdapters[i]);
  h.Plug("eth3", UnitConfig());
  const uint32_t start = h.clock.TickCount();
  ScanNow(h.station);
  const uint32_t first_pass = h.clock.TickCount() - start;
  h.page.Check(kPx300Radio, true);
  ScanNow(h.station);
  h.Tick();
  return first_pass;
}

TEST(CycleDiscoveryTest, FourAdaptersCostOneAdaptersTimeAndShowWhatOneAfterAnotherShows) {
  StationHarness together;
  const uint32_t together_ms = RunFourAdapters(together);
  StationSettings classic_settings;
  classic_settings.classic = true;
  StationHarness in_turn(classic_settings);
  const uint32_t in_turn_ms = RunFourAdapters(in_turn);

  // Three unit-less adapters: 2 + 50 + 2 + 150 + 2 + 250 ms at once, not one after another.
  EXPECT_GE(together_ms, 456u);
  EXPECT_LE(together_ms, 470u);
  EXPECT_GE(in_turn_ms, 3 * 456u);

  EXPECT_EQ(together.page.Transcript(), in_turn.page.Transcript());
  EXPECT_EQ(together.page.GetText(kStatusLine, 80), "Read Module OK - PX300 Class B");
  EXPECT_EQ(together.station.adapters.CurrentAdapter, 3);
  for (int i = 0; i < 4; ++i) {
    const std::string name = "eth" + std::to_string(i);
    // Three tries per pass on the adapters without a unit; the unit's ends at its first answer.
    EXPECT_EQ(QueriesSent(together.driver, name), i < 3 ? 9u : 3u) << name;
    const DeviceSummary& a = together.station.summaries[i];
    const DeviceSummary& b = in_turn.station.summaries[i];
    EXPECT_EQ(a.Present, b.Present) << name;
    EXPECT_EQ(a.DeviceMac, b.DeviceMac) << name;
    EXPECT_EQ(a.FramesSent, b.FramesSent) << name;
    EXPECT_EQ(a.BytesSent, b.BytesSent) << name;
    EXPECT_EQ(a.FramesReceived, b.FramesReceived) << name;
  }
  EXPECT_EQ(together.station.module.bytes, together.units[0]->Flash().bytes);
}

TEST(CycleDiscoveryTest, AnAdapterThatAppearsOrGoesIsSeenAtTheNextTick) {
  StationHarness h;
  h.AddAdapter("eth0", kAdapters[0]);
  h.page.Check(kPx300Radio, true);
  OnPageCreated(h.station);
  h.Tick();
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "No Device");

  // A USB adapter with a unit is plugged in between two ticks.
  h.AddAdapter("usb0", kAdapters[1]);
  h.Plug("usb0", UnitConfig());
  h.Tick();
  EXPECT_EQ(h.station.adapters.AdapterCount, 2);
  EXPECT_EQ(h.station.adapters.records[1].DevicePresent, 1u);
  EXPECT_EQ(h.station.summaries[1].Present, 1u);
  // The first pass on a new adapter counts for presence; the next takes the identity.
  h.Tick();
  EXPECT_EQ(h.page.GetText(kConnectionField, 80), "Connected");
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "Read Module OK - PX300 Class B");
  EXPECT_EQ(h.page.GetText(kMacField, 80), "02:A0:C5:00:00:01");

  // It is pulled out again: the next tick is back to "No Device", with no handle left behind.
  h.driver.SetAdapterPresent("usb0", false);
  h.Tick();
  EXPECT_EQ(h.station.summaries[1].Present, 1u);  // index 1 is no longer opened
  EXPECT_EQ(QueriesSent(h.driver, "eth0"), 18u);   // 6 passes of 3 tries
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "No Device");
  EXPECT_EQ(h.page.GetText(kConnectionField, 80), "Not Connected");
  EXPECT_FALSE(h.page.IsEnabled(kBurnButton));
  EXPECT_EQ(h.driver.OpenHandleCount(), 0u);
}

class CycleCommandTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    h.AddAdapter("eth0", kAdapter0);
    unit = &h.Plug("eth0", UnitConfig());
    h.page.Check(kPx300Radio, true);
    ScanNow(h.station);
    ScanNow(h.station);
    ASSERT_TRUE(h.page.IsEnabled(kBurnButton));
    std::ofstream out("cam.dbr", std::ios::binary | std::ios::trunc);
    out << EncodeMacRecord(kBurnMacText, "QRSTUVWXYZ012345") << '\n';
  }

  size_t IndexOf(const std::string& line) const {
    const std::vector<std::string> transcript = h.page.Transcript();
    return static_cast<size_t>(std::find(transcript.begin(), transcript.end(), line) -
                               transcript.begin());
  }

  StationHarness h;
  SimulatedUnit* unit = nullptr;
};

TEST_F(CycleCommandTest, BurnClickedDuringATickRunsAfterItAndNoSecondBurnNests) {
  h.page.SetText(kNewMacEdit, kBurnMacText);
  h.page.Clear();
  int yields = 0;
  bool closed = false;
  h.station.yield_to_events = [&] {
    ++yields;
    // Clicks and the close arrive while the waits let the event loop run.
    if (yields == 1) OnPageCommand(h.station, kBurnButton);  // during the tick
    if (yields == 2) OnPageCommand(h.station, kBurnButton);  // one Burn already waits: dropped
    if (InPhase(h.station, StationPhase::kBurning) && !closed) {
      OnPageCommand(h.station, kBurnButton);  // while the burn runs: dropped
      OnPageCommand(h.station, kScanButton);  // queued, then dropped by the close
      OnCloseRequested(h.station, [&] { closed = true; });
      EXPECT_FALSE(closed);
    }
  };
  h.Tick();

  EXPECT_TRUE(closed);
  EXPECT_EQ(unit->ParameterCommits(), 1u);
  EXPECT_EQ(unit->RequestCount(kVsWrModReq), 8u);
  // The tick ended with its scan text before the burn began.
  const size_t tick_end = IndexOf("text 1083 Autoscan On");
  const size_t burning = IndexOf("text 1105 Burning...");
  ASSERT_LT(burning, h.page.Transcript().size());
  EXPECT_LT(tick_end, burning);
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "Waiting...");
  // The queued Scan was dropped with the close: one scan text pair, the tick's.
  EXPECT_THAT(h.page.TextsOf(kScanField), ElementsAre(" Scanning...", "Autoscan On"));
  EXPECT_TRUE(h.station.queued_commands.empty());
  EXPECT_EQ(h.station.operation_depth, 0);
}

TEST_F(CycleCommandTest, NewMacIsNormalisedAndSelectedAfterEveryAttempt) {
  const auto selections_of_new_mac = [&] {
    size_t n = 0;
    for (const auto& mark : h.page.selections()) n += mark.id == kNewMacEdit ? 1 : 0;
    return n;
  };
  // The unit was read: the field has the focus for the scan.
  ASSERT_FALSE(h.page.focuses().empty());
  EXPECT_EQ(h.page.focuses().back().id, kNewMacEdit);

  // Unknown MAC: the lookup's box, then the text is selected.
  h.page.SetText(kNewMacEdit, "02A0C5999999");
  OnPageCommand(h.station, kBurnButton);
  EXPECT_EQ(h.page.message_boxes().back().text, "The input MAC is invalid.");
  EXPECT_EQ(selections_of_new_mac(), 1u);

  // No database: the other box, selected again.
  std::filesystem::rename("cam.dbr", "cam.away");
  OnPageCommand(h.station, kBurnButton);
  EXPECT_EQ(h.page.message_boxes().back().text, "Error opening DB");
  EXPECT_EQ(selections_of_new_mac(), 2u);
  std::filesystem::rename("cam.away", "cam.dbr");

  // Typed as printed on a label: shown as the lookup compares it, then burned.
  h.page.SetText(kNewMacEdit, "02:a0:c5:12:34:56");
  h.page.Clear();
  OnPageCommand(h.station, kBurnButton);
  EXPECT_EQ(h.page.GetText(kNewMacEdit, 40), kBurnMacText);
  EXPECT_LT(IndexOf("text 1009 02A0C5123456"), IndexOf("text 1105 Burning..."));
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "Waiting...");
  ASSERT_EQ(h.page.selections().size(), 1u);
  EXPECT_EQ(h.page.selections()[0].after_texts, h.page.texts().size());
  EXPECT_EQ(unit->ParameterCommits(), 1u);
}

TEST(NormalizedMacEntryTest, SeparatorsAndCaseOnlyWhenTwelveHexDigitsRemain) {
  EXPECT_EQ(NormalizedMacEntry("02:a0:c5:12:34:56"), "02A0C5123456");
  EXPECT_EQ(NormalizedMacEntry("02-A0-C5-12-34-5f"), "02A0C512345F");
  EXPECT_EQ(NormalizedMacEntry(" 02a0.c512.3456 "), "02A0C5123456");
  EXPECT_EQ(NormalizedMacEntry("02a0c5123456"), "02A0C5123456");
  EXPECT_EQ(NormalizedMacEntry("02A0C5123456"), std::nullopt);  // already as compared
  EXPECT_EQ(NormalizedMacEntry("02:A0:C5:12:34"), std::nullopt);
  EXPECT_EQ(NormalizedMacEntry("02:A0:C5:12:34:56:78"), std::nullopt);
  EXPECT_EQ(NormalizedMacEntry("02:A0:C5:12:34:5G"), std::nullopt);
  EXPECT_EQ(NormalizedMacEntry(""), std::nullopt);
}

}  // namespace
}  // namespace stampwright::station_test
