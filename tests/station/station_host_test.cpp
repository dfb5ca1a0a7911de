// Stations on threads of their own in one process, each on its own virtual adapter and unit, one
// journal file between them: they burn at the same moment, and a box on one stops only that one.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/key_derivation.h"
#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "resources/controls.h"
#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "station/station_host.h"
#include "support/hosted_station.h"
#include "support/recording_arp_flush.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

// Requests a unit answers before it is pulled: the scans, its read and a few chunks of the burn.
constexpr uint32_t kPulledAfterRequests = 16;

class BayThreadTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    std::ofstream("cam.dbr") << EncodeMacRecord("02A0C5100011", "K7QM2XWP9RTB4HZD") << "\n"
                             << EncodeMacRecord("02A0C5100022", "R4TY8UPL2KQW7MXC") << "\n";
    JournalStatus status;
    first_ = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(first_) << status.error;
    second_ = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(second_) << status.error;
  }

  std::unique_ptr<SqliteJournal> first_, second_;
};

// What a burn must leave in the unit's flash: the label's MAC and DAK, a checksum that holds, and
// every other byte as the station wrote it.
void ExpectBurned(const ParameterModule& flash, const ParameterModule& written, const char* label,
                  const char* password) {
  EXPECT_EQ(MacAddress::FromBytes(flash.bytes.data() + kMacAddressOffset),
            *MacAddress::Parse(label));
  const std::string grouped = std::string(password).substr(0, 4) + "-" +
                              std::string(password).substr(4, 4) + "-" +
                              std::string(password).substr(8, 4) + "-" +
                              std::string(password).substr(12, 4);
  const DerivedKey dak = DeviceAccessKey(grouped.c_str());
  EXPECT_TRUE(std::equal(dak.begin(), dak.end(), flash.bytes.begin() + kDeviceAccessKeyOffset));
  EXPECT_EQ(flash.ImageChecksum(), ExpectedImageChecksum(flash));
  EXPECT_EQ(flash.bytes, written.bytes);
}

TEST_F(BayThreadTest, TwoStationsBurnTheirUnitsAtOnceIntoOneJournal) {
  HostedStation a(*first_, "bay-a", 1, false, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  HostedStation b(*second_, "bay-b", 2, false, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  ASSERT_TRUE(a.Ready());
  ASSERT_TRUE(b.Ready());
  const std::optional<UnitEvent> found = a.Await<UnitEvent>();
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->present);
  EXPECT_EQ(found->mac, "02:A0:C5:00:00:01");
  EXPECT_EQ(found->chip, "PX300");
  const std::optional<ModuleReadEvent> read = a.Await<ModuleReadEvent>();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->module_class, "PX300 Class B");

  a.PressBurn("02A0C5100011");
  b.PressBurn("02A0C5100022");
  ASSERT_TRUE(a.TickToSuccess());
  ASSERT_TRUE(b.TickToSuccess());

  // The units are the stations' threads' to touch: copied there.
  ParameterModule flash_a, written_a, flash_b, written_b;
  ASSERT_TRUE(a.Run([&](Station& s, PageModel&) {
    flash_a = a.unit().Flash();
    written_a = CoreOf(s).written_module;
    return true;
  }));
  ASSERT_TRUE(b.Run([&](Station& s, PageModel&) {
    flash_b = b.unit().Flash();
    written_b = CoreOf(s).written_module;
    return true;
  }));
  ExpectBurned(flash_a, written_a, "02A0C5100011", "K7QM2XWP9RTB4HZD");
  ExpectBurned(flash_b, written_b, "02A0C5100022", "R4TY8UPL2KQW7MXC");
  // One phase at a time, from the read through the restart to the verified return.
  EXPECT_THAT(a.Phases(),
              testing::ElementsAre("ready", "reading", "ready", "burning", "committing", "burning",
                                   "restarting", "verifying", "restarting", "ready"));
  // Every event names its station's bay.
  for (int bay : a.Bays()) ASSERT_EQ(bay, 1);
  for (int bay : b.Bays()) ASSERT_EQ(bay, 2);

  std::vector<JournalRecord> records;
  ASSERT_TRUE(first_->Read({}, &records).ok());
  ASSERT_EQ(records.size(), 2u);
  for (const JournalRecord& record : records) {
    EXPECT_EQ(record.outcome, Outcome::kSuccess);
    EXPECT_EQ(record.station, record.mac == "02A0C5100011" ? "bay-a" : "bay-b");
  }
}

TEST_F(BayThreadTest, ABoxHoldsOnlyTheStationThatRaisedItUntilItIsAnswered) {
  HostedStation a(*first_, "bay-a", 1, true, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  HostedStation b(*second_, "bay-b", 2, true, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  ASSERT_TRUE(a.Ready());
  ASSERT_TRUE(b.Ready());

  // Not in the database: the lookup's box, which nobody answers yet.
  a.PressBurn("02A0C51000FF");
  const std::optional<Notice> box = a.Await<Notice>();
  ASSERT_TRUE(box && box->answer);
  EXPECT_EQ(box->type, kMbIconWarning);

  b.PressBurn("02A0C5100022");
  ASSERT_TRUE(b.TickToSuccess()) << "the other station's box held this one";
  EXPECT_EQ(a.Count<RecordEvent>(), 0) << "the station went on before its box was answered";

  box->answer->set_value(kIdOk);
  const std::optional<RecordEvent> refused = a.Await<RecordEvent>();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->record.outcome, Outcome::kLookupFailed);
  EXPECT_TRUE(a.Run([&](Station&, PageModel&) { return a.unit().ParameterCommits() == 0; }));
}

// Four bays at once, every unit fresh under one MAC; bay 3's unit is pulled in the middle of its
// burn (it falls silent): that bay fails on its own, the three others pass byte-exact.
TEST_F(BayThreadTest, OneBaysUnitPulledMidBurnFailsAloneWhileTheOthersPass) {
  const std::vector<std::pair<std::string, std::string>> labels = {
      {"02A0C5100011", "K7QM2XWP9RTB4HZD"}, {"02A0C5100022", "R4TY8UPL2KQW7MXC"},
      {"02A0C5100033", "M3XC7VBN2QWE9RTY"}, {"02A0C5100044", "P8LK4JHG6FDS2AZX"}};
  {
    std::ofstream database("cam.dbr");
    for (const auto& [mac, password] : labels) database << EncodeMacRecord(mac, password) << "\n";
  }
  std::vector<std::unique_ptr<SqliteJournal>> journals;
  std::vector<std::unique_ptr<HostedStation>> bays;
  for (int bay = 1; bay <= 4; ++bay) {
    JournalStatus status;
    journals.push_back(SqliteJournal::Open("journal.db", &status));
    ASSERT_TRUE(journals.back()) << status.error;
    UnitFaultPlan faults;
    // Past its read and a few module chunks into the burn.
    if (bay == 3) faults.silent_after = kPulledAfterRequests;
    bays.push_back(std::make_unique<HostedStation>(*journals.back(), "gang", bay, false,
                                                   Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01), faults));
  }
  for (auto& bay : bays) ASSERT_TRUE(bay->Ready());
  for (size_t i = 0; i < bays.size(); ++i) bays[i]->PressBurn(labels[i].first);
  for (size_t i = 0; i < bays.size(); ++i) {
    if (i != 2) EXPECT_TRUE(bays[i]->TickToSuccess()) << "bay " << i + 1;
  }
  const std::optional<RecordEvent> pulled = bays[2]->Await<RecordEvent>();
  ASSERT_TRUE(pulled);
  EXPECT_EQ(pulled->record.outcome, Outcome::kWriteFailed);
  EXPECT_FALSE(pulled->record.committed);
  EXPECT_FALSE(bays[2]->Saw("Success"));
  for (size_t i = 0; i < bays.size(); ++i) {
    if (i == 2) continue;
    ParameterModule flash, written;
    ASSERT_TRUE(bays[i]->Run([&](Station& s, PageModel&) {
      flash = bays[i]->unit().Flash();
      written = CoreOf(s).written_module;
      return true;
    }));
    ExpectBurned(flash, written, labels[i].first.c_str(), labels[i].second.c_str());
  }
  EXPECT_TRUE(bays[2]->Run([&](Station&, PageModel&) {
    return bays[2]->unit().ParameterCommits() == 0 &&
           bays[2]->unit().RequestCount(kVsWrModReq) > 0;
  })) << "pulled during the writes, never committed";
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journals[0]->Read({}, &records).ok());
  ASSERT_EQ(records.size(), 4u);
  for (const JournalRecord& record : records) {
    EXPECT_EQ(record.outcome, record.mac == labels[2].first ? Outcome::kWriteFailed : Outcome::kSuccess);
  }
}

}  // namespace
}  // namespace stampwright::station_test
