// The watch for a burned unit's return: "Success" at the first answer under the new MAC once the
// module read back holds what was written, without scan ticks meanwhile; and the ways a unit can
// fail to come back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "station/page_procedure.h"
#include "station/return_watch.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr char kLabel[] = "02A0C5123456";
const MacAddress kLabelMac = Mac(0x02, 0xA0, 0xC5, 0x12, 0x34, 0x56);

class ReturnWatchTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    std::ofstream("cam.dbr") << EncodeMacRecord(kLabel, "K7QM2XWP9RTB4HZD") << "\n";
  }

  // A fresh station with one unit on "eth0", read and ready to burn.
  void Start(SimulatedUnitConfig config) {
    // A journal of its own: the label burned before would be refused as a duplicate.
    h_ = nullptr;
    JournalStatus status;
    journal_ = SqliteJournal::Open("journal-" + std::to_string(++stations_) + ".db", &status);
    ASSERT_TRUE(journal_) << status.error;
    h_ = std::make_unique<StationHarness>();
    h_->AddAdapter("eth0", kAdapter0);
    JournalLink& link = h_->station.journal;
    link.enabled = true;
    link.journal = journal_.get();
    link.station_name = "line-1";
    link.on_outcome = [this](const JournalRecord& record) { outcomes_.push_back(record); };
    config.mac = kUnitMac;
    unit_ = &h_->Plug("eth0", std::move(config));
    OnPageCreated(h_->station);
    OnPageActivated(h_->station);
    ASSERT_TRUE(h_->page.IsEnabled(kBurnButton));
  }

  void Burn() {
    h_->page.SetText(kNewMacEdit, kLabel);
    h_->page.Clear();
    outcomes_.clear();
    OnPageCommand(h_->station, kBurnButton);
  }

  // Timer expiries until the watch has ended, at most `limit`; how many ran.
  int ExpireUntilWatchEnds(int limit) {
    int expiries = 0;
    while (ReturnWatchActive(h_->station) && expiries < limit) {
      h_->Expire();
      ++expiries;
    }
    return expiries;
  }

  // The status texts from the last "Write Module - OK" on.
  std::vector<std::string> StatusAfterWrite() const {
    const std::vector<std::string> texts = h_->page.StatusTexts();
    const auto last = std::find(texts.rbegin(), texts.rend(), "Write Module - OK");
    return last == texts.rend() ? texts : std::vector<std::string>(last.base(), texts.end());
  }

  bool Shown(const char* text) const {
    const std::vector<std::string> texts = h_->page.StatusTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  std::unique_ptr<SqliteJournal> journal_;
  std::unique_ptr<StationHarness> h_;
  SimulatedUnit* unit_ = nullptr;
  std::vector<JournalRecord> outcomes_;
  int stations_ = 0;
};

TEST_F(ReturnWatchTest, SuccessAtTheFirstAnswerAfterShortAndLongRestarts) {
  for (const uint32_t restart_ms : {200u, 1500u, 20000u}) {
    SCOPED_TRACE(restart_ms);
    SimulatedUnitConfig config;
    config.restart_ms = restart_ms;
    Start(std::move(config));
    Burn();
    ASSERT_TRUE(Shown("Waiting..."));
    EXPECT_TRUE(ReturnWatchActive(h_->station));
    EXPECT_EQ(h_->timer.interval, kReturnQueryIntervalMs);
    const uint32_t reads_before = unit_->RequestCount(kVsRdModReq);
    const std::string ticks_before = h_->page.GetText(kTickCounter, 78);

    // The next label scanned while the unit restarts: its Enter finds Burn off and leaves the
    // watch on.
    h_->Expire();
    if (restart_ms > 1000) {
      EXPECT_FALSE(h_->page.IsEnabled(kBurnButton));
      h_->page.SetText(kNewMacEdit, "02A0C5123457");
      OnPageCommand(h_->station, kBurnButton);
      EXPECT_TRUE(ReturnWatchActive(h_->station));
    }
    // Every expiry up to the restart's end asks a silent unit; the first one after it succeeds.
    const int expiries = 1 + ExpireUntilWatchEnds(400);
    EXPECT_GE(expiries, 1);
    EXPECT_LE(expiries, static_cast<int>(restart_ms / kReturnQueryIntervalMs) + 1);
    EXPECT_THAT(StatusAfterWrite(), ElementsAre("Waiting...", "Success"));
    EXPECT_EQ(unit_->CurrentMac(), kLabelMac);
    EXPECT_EQ(unit_->RequestCount(kVsRdModReq) - reads_before, 8u) << "read back once, in full";
    // No scan ran meanwhile (a scan writes its field and closes the adapters): no tick counted.
    EXPECT_EQ(h_->page.GetText(kTickCounter, 78), ticks_before);
    EXPECT_EQ(std::count_if(h_->page.texts().begin(), h_->page.texts().end(),
                            [](const auto& write) { return write.id == kScanField; }),
              0);
    EXPECT_TRUE(h_->page.IsEnabled(kBurnButton));
    EXPECT_EQ(h_->timer.interval, kScanIntervalMs);
    ASSERT_EQ(outcomes_.size(), 1u);
    EXPECT_EQ(outcomes_[0].outcome, Outcome::kSuccess);
    EXPECT_EQ(outcomes_[0].verified, std::optional<bool>(true));
    EXPECT_EQ(outcomes_[0].other_bytes_changed, std::optional<int64_t>(0));
    EXPECT_EQ(h_->station.module.bytes, unit_->Flash().bytes);
  }
}

TEST_F(ReturnWatchTest, AUnitThatNeverReturnsEndsAsNoReturnAndTheScanCycleTakesOver) {
  SimulatedUnitConfig config;
  config.restart_ms = 10 * 60 * 1000;
  Start(std::move(config));
  Burn();
  const uint32_t started = h_->clock.TickCount();
  const int expiries = ExpireUntilWatchEnds(5000);
  EXPECT_FALSE(ReturnWatchActive(h_->station)) << "bounded";
  EXPECT_LE(expiries, static_cast<int>(kReturnWatchMs / kReturnQueryIntervalMs) + 1);
  EXPECT_GE(h_->clock.TickCount() - started, kReturnWatchMs);
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0].outcome, Outcome::kNoReturn);
  EXPECT_EQ(h_->page.GetText(kStatusLine, 79), "No Device");
  EXPECT_FALSE(h_->page.IsEnabled(kBurnButton));
  EXPECT_EQ(h_->timer.interval, kScanIntervalMs);
}

TEST_F(ReturnWatchTest, AUnitBackUnderItsOldMacIsAWrongReturnAndIsReadAgain) {
  SimulatedUnitConfig config;
  config.restart_ms = 1500;
  config.faults.return_mac = kUnitMac;
  Start(std::move(config));
  Burn();
  ExpireUntilWatchEnds(100);
  EXPECT_FALSE(Shown("Success"));
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0].outcome, Outcome::kWrongReturn);
  EXPECT_EQ(h_->page.GetText(kMacField, 79), kUnitMac.ToString());
  // It went away and came back as something else: read again before anything is burned.
  EXPECT_TRUE(Shown("Read Module OK - PX300 Class B"));
  EXPECT_EQ(h_->station.module.bytes, unit_->Flash().bytes);
  EXPECT_EQ(h_->timer.interval, kScanIntervalMs);
}

TEST_F(ReturnWatchTest, AnAnswerUnderTheOldMacBeforeTheRestartIsNotTheVerdict) {
  SimulatedUnitConfig config;
  config.restart_ms = 1500;
  Start(std::move(config));
  Burn();
  // A unit that still answers once under its old MAC while it finishes the commit.
  auto frame = StationHarness::Confirmation(kAdapter0, kUnitMac, kVsVerQueryCnf, 120);
  frame[21] = kUnitChipPx300;
  const std::string text = "3.0.2-sim";
  frame[22] = static_cast<uint8_t>(text.size() + 1);
  std::memcpy(frame.data() + 23, text.data(), text.size());
  h_->driver.InjectFrame("eth0", frame, h_->clock.TickCount() + 30);
  ExpireUntilWatchEnds(100);
  EXPECT_THAT(StatusAfterWrite(), ElementsAre("Waiting...", "Success"));
  ASSERT_EQ(outcomes_.size(), 1u);
  EXPECT_EQ(outcomes_[0].outcome, Outcome::kSuccess);
}

TEST_F(ReturnWatchTest, ClassicTimingLeavesTheReturnToTheScanTick) {
  h_ = nullptr;
  StationSettings settings;
  settings.classic = true;
  auto classic = std::make_unique<StationHarness>(settings);
  classic->AddAdapter("eth0", kAdapter0);
  SimulatedUnitConfig config;
  config.mac = kUnitMac;
  config.restart_ms = 1500;
  SimulatedUnit& unit = classic->Plug("eth0", std::move(config));
  OnPageCreated(classic->station);
  OnPageActivated(classic->station);
  classic->page.SetText(kNewMacEdit, kLabel);
  OnPageCommand(classic->station, kBurnButton);
  EXPECT_FALSE(ReturnWatchActive(classic->station));
  EXPECT_EQ(classic->timer.interval, kScanIntervalMs);
  const uint32_t reads = unit.RequestCount(kVsRdModReq);
  classic->Tick();
  EXPECT_EQ(classic->page.GetText(kStatusLine, 79), "Success");
  EXPECT_EQ(unit.RequestCount(kVsRdModReq), reads) << "no read-back under classic timing";
}

}  // namespace
}  // namespace stampwright::station_test
