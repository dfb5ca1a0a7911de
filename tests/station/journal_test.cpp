// The station with its production journal: what a burn records and when, the duplicate guard
// and its exceptions, and the refusals of a journal that cannot be used.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "station/attempts.h"
#include "station/page_procedure.h"
#include "support/forwarding_journal.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kLabel[] = "02A0C5123456";
constexpr char kPassword[] = "K7QM2XWP9RTB4HZD";
const MacAddress kSecondUnit = Mac(0x02, 0xA0, 0xC5, 0x00, 0x00, 0x02);
constexpr char kFirmwareSha256[] = "b5811a6d9a2e1ebb62a6ba35355a96eb93c0278966b2cc0990aa240c138ec150";

class JournalStationTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    std::ofstream("cam.dbr") << EncodeMacRecord(kLabel, kPassword) << "\n";
    JournalStatus status;
    journal = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(journal) << status.error;
    h.AddAdapter("eth0", kAdapter0);
    JournalLink& link = h.station.journal;
    link.enabled = true;
    link.journal = journal.get();
    link.station_name = "line-1";
    link.on_outcome = [this](const JournalRecord& record) {
      // Written before any verdict: the status line must not show it yet.
      verdict_already_shown.push_back(h.page.GetText(kStatusLine, 79) == "Success");
      outcomes.push_back(record);
    };
    h.station.on_refused = [this](Outcome reason) { refusals.push_back(reason); };
  }

  void PlugUnit(const MacAddress& mac) {
    SimulatedUnitConfig config;
    config.mac = mac;
    PlugUnit(std::move(config));
  }

  void PlugUnit(SimulatedUnitConfig config) {
    h.Unplug("eth0");
    unit = &h.Plug("eth0", std::move(config));
    ScanNow(h.station);
    ScanNow(h.station);
    ASSERT_TRUE(h.page.IsEnabled(kBurnButton));
  }

  void Burn() {
    h.page.SetText(kNewMacEdit, kLabel);
    h.page.Clear();
    OnPageCommand(h.station, kBurnButton);
  }

  bool TickUntilSuccess() {
    for (int i = 0; i < 6; ++i) {
      h.Tick();
      const auto texts = h.page.StatusTexts();
      if (std::find(texts.begin(), texts.end(), "Success") != texts.end()) return true;
    }
    return false;
  }

  std::vector<JournalRecord> All() {
    std::vector<JournalRecord> records;
    EXPECT_TRUE(journal->Read({}, &records).ok());
    return records;
  }

  StationHarness h;
  std::unique_ptr<SqliteJournal> journal;
  SimulatedUnit* unit = nullptr;
  std::vector<JournalRecord> outcomes;
  std::vector<bool> verdict_already_shown;
  std::vector<Outcome> refusals;  // told to the front end, recorded or not
};

TEST_F(JournalStationTest, BurnRecordsSuccessAndTheGuardRefusesTheLabelOnAnotherUnit) {
  PlugUnit(kUnitMac);
  Burn();
  // The opening record was in the journal before the first module frame: it is there now,
  // without an outcome, committed.
  std::vector<JournalRecord> records = All();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].outcome);
  EXPECT_TRUE(records[0].committed);
  ASSERT_TRUE(TickUntilSuccess());

  records = All();
  ASSERT_EQ(records.size(), 1u);
  const JournalRecord& burn = records[0];
  EXPECT_EQ(burn.outcome, Outcome::kSuccess);
  EXPECT_EQ(burn.mac, kLabel);
  EXPECT_EQ(burn.unit_mac_before, "02A0C5000001");
  EXPECT_EQ(burn.station, "line-1");
  EXPECT_EQ(burn.adapter, "eth0");
  EXPECT_FALSE(burn.bay) << "one station without bays";
  EXPECT_EQ(burn.module_class, "PX300 Class B");
  EXPECT_EQ(burn.attempt, 1);
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "%08x", unit->Flash().ImageChecksum());
  EXPECT_EQ(burn.image_checksum, checksum);
  EXPECT_TRUE(burn.burn_ms && burn.return_ms && burn.finished);
  EXPECT_EQ(burn.verified, true) << "read back before \"Success\"";
  EXPECT_EQ(burn.other_bytes_changed, 0);
  EXPECT_THAT(verdict_already_shown, ElementsAre(false));

  // The same label scanned for a second unit: refused before anything is sent.
  PlugUnit(kSecondUnit);
  const size_t frames_before = h.driver.FramesSent("eth0");
  const std::string status_before = h.page.GetText(kStatusLine, 79);
  Burn();
  EXPECT_EQ(h.driver.FramesSent("eth0"), frames_before);
  EXPECT_EQ(h.arp_flush.flushes, 1);
  EXPECT_EQ(h.page.GetText(kStatusLine, 79), status_before);
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  const auto& box = h.page.message_boxes()[0];
  EXPECT_EQ(box.caption, "Mac Burn");
  EXPECT_EQ(box.type, kMbIconWarning);
  EXPECT_EQ(box.text, "MAC 02A0C5123456 was already burned by station line-1 at " +
                          FormatUtcSeconds(*burn.committed) + " UTC.");
  records = All();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].outcome, Outcome::kDuplicateRefused);
  EXPECT_EQ(records[1].attempt, 2);
  EXPECT_EQ(records[1].unit_mac_before, "02A0C5000002");

  // A typo and an empty New MAC are refused too, recorded as typed; the empty one holds up
  // nothing after it; without a journal the refusal still shows.
  for (const char* typed : {"zz12", ""}) {
    h.page.SetText(kNewMacEdit, typed);
    OnPageCommand(h.station, kBurnButton);
    EXPECT_EQ(All().back().mac, typed);
    EXPECT_EQ(All().back().outcome, Outcome::kLookupFailed);
  }
  Burn();
  EXPECT_EQ(All().back().outcome, Outcome::kDuplicateRefused);
  h.station.journal.enabled = false;
  h.page.SetText(kNewMacEdit, "");
  OnPageCommand(h.station, kBurnButton);
  EXPECT_EQ(h.driver.FramesSent("eth0"), frames_before);
  EXPECT_EQ(All().size(), 5u);
  for (const auto& shown : h.page.message_boxes()) EXPECT_THAT(shown.text, Not(::testing::HasSubstr("Journal")));
  EXPECT_THAT(refusals, ElementsAre(Outcome::kDuplicateRefused, Outcome::kLookupFailed, Outcome::kLookupFailed,
                                    Outcome::kDuplicateRefused, Outcome::kLookupFailed));
}

TEST_F(JournalStationTest, ReworkOfTheSameUnitAndAReleaseAllowOneMoreBurn) {
  PlugUnit(kUnitMac);
  Burn();
  ASSERT_TRUE(TickUntilSuccess());
  // Rework: the unit on the wire answers under the label's MAC.
  Burn();
  ASSERT_TRUE(h.page.message_boxes().empty());
  ASSERT_TRUE(TickUntilSuccess());

  // A supervisor releases the MAC: a second unit may take it once, then never again.
  JournalRecord release;
  release.kind = RecordKind::kRelease;
  release.mac = kLabel;
  release.station = "supervisor";
  release.reason = "label reprinted";
  release.started = UtcNowMs() + 1;
  ASSERT_TRUE(journal->Append(release).ok());
  h.station.journal.now = [] { return UtcNowMs() + 10; };
  PlugUnit(kSecondUnit);
  Burn();
  EXPECT_THAT(h.page.message_boxes(), IsEmpty());
  ASSERT_TRUE(TickUntilSuccess());
  PlugUnit(Mac(0x02, 0xA0, 0xC5, 0x00, 0x00, 0x03));
  Burn();
  ASSERT_EQ(h.page.message_boxes().size(), 1u);

  std::vector<Outcome> seen;
  for (const JournalRecord& r : All()) {
    if (r.outcome) seen.push_back(*r.outcome);
  }
  EXPECT_THAT(seen, ElementsAre(Outcome::kSuccess, Outcome::kSuccess, Outcome::kSuccess,
                                Outcome::kDuplicateRefused));
}

// A bay of a gang records its number with each attempt; here a firmware upgrade and a burn.
TEST_F(JournalStationTest, FirmwareUpgradeRecordsTheFileAndFirmwareOkAndEveryAttemptItsBay) {
  h.station.settings.bay = 3;
  PlugUnit(kUnitMac);
  std::vector<uint8_t> firmware(1500);
  for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<uint8_t>(i * 7);
  WriteBytes("fw.nvm", firmware);
  h.page.QueueFileDialogAnswer((dir_ / "fw.nvm").string());
  OnPageCommand(h.station, kBrowseButton);
  ASSERT_EQ(unit->FirmwareCommits(), 1u);
  const std::vector<JournalRecord> records = All();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].kind, RecordKind::kFirmware);
  EXPECT_EQ(records[0].outcome, Outcome::kFirmwareOk);
  EXPECT_EQ(records[0].firmware_name, "fw.nvm");
  EXPECT_EQ(records[0].firmware_size, 1500);
  // sha256 of the bytes above, computed apart from the code under test (python hashlib).
  EXPECT_EQ(records[0].firmware_sha256, kFirmwareSha256);
  EXPECT_EQ(records[0].mac, "02A0C5000001");
  EXPECT_EQ(records[0].bay, 3);
  PlugUnit(kUnitMac);
  Burn();
  ASSERT_TRUE(TickUntilSuccess());
  ASSERT_EQ(All().size(), 2u);
  EXPECT_EQ(All()[1].outcome, Outcome::kSuccess);
  EXPECT_EQ(All()[1].bay, 3);
}

TEST_F(JournalStationTest, UnusableJournalRefusesBurnAndBrowseAndSendsNothing) {
  PlugUnit(kUnitMac);
  h.station.journal.journal = nullptr;
  h.station.journal.open_error = "cannot open journal 'x/journal.db': unable to open database file";
  const size_t frames_before = h.driver.FramesSent("eth0");
  Burn();
  h.page.QueueFileDialogAnswer(std::string("fw.nvm"));
  OnPageCommand(h.station, kBrowseButton);
  EXPECT_EQ(h.driver.FramesSent("eth0"), frames_before);
  EXPECT_EQ(h.arp_flush.flushes, 0);
  ASSERT_EQ(h.page.message_boxes().size(), 2u);
  for (const auto& box : h.page.message_boxes()) {
    EXPECT_EQ(box.caption, "Mac Burn");
    EXPECT_EQ(box.text, "Journal error: " + h.station.journal.open_error);
  }

  // A journal that stops taking writes: refused at the attempt's opening record, nothing sent;
  // the refusal is recorded as "journal-error" once the journal takes writes again.
  h.station.journal.journal = journal.get();
  ASSERT_FALSE(journal->database() == nullptr);
  sqlite3_exec(journal->database(), "PRAGMA query_only=1", nullptr, nullptr, nullptr);
  h.page.Clear();
  Burn();
  EXPECT_EQ(unit->RequestCount(kVsWrModReq), 0u);
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_THAT(h.page.message_boxes()[0].text, ::testing::StartsWith("Journal error: "));
  sqlite3_exec(journal->database(), "PRAGMA query_only=0", nullptr, nullptr, nullptr);
  Burn();
  ASSERT_TRUE(TickUntilSuccess());
  std::vector<Outcome> seen;
  for (const JournalRecord& r : All()) seen.push_back(r.outcome.value_or(Outcome::kCount));
  EXPECT_THAT(seen, Contains(Outcome::kJournalError));
  EXPECT_THAT(seen, Contains(Outcome::kSuccess));
  EXPECT_THAT(refusals, ElementsAre(Outcome::kJournalError, Outcome::kJournalError,
                                    Outcome::kJournalError));
}

// A confirmed commit the journal could not note at once is noted before the outcome that ends
// the attempt's claim: the MAC counts as burned, never free between the two.
TEST_F(JournalStationTest, ACommitTheJournalRefusedIsNotedBeforeTheOutcome) {
  struct RefusesOneCommit final : ForwardingJournal {
    using ForwardingJournal::ForwardingJournal;
    JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override {
      if (refused++ == 0) return {"disk I/O error"};
      return ForwardingJournal::NoteCommit(id, utc_ms);
    }
    int refused = 0;
  } flaky(*journal);
  h.station.journal.journal = &flaky;
  PlugUnit(kUnitMac);
  Burn();
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_EQ(h.page.message_boxes()[0].text, "Journal error: disk I/O error");
  ASSERT_TRUE(TickUntilSuccess());
  const std::vector<JournalRecord> records = All();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].outcome, Outcome::kSuccess);
  EXPECT_TRUE(records[0].committed);
  std::optional<BurnedMac> burned;
  ASSERT_TRUE(journal->FindBurned(kLabel, &burned).ok());
  EXPECT_TRUE(burned);
}

// The returned unit's module is verified: a unit whose flash did not take one byte gives the
// box, "verify-failed" and no "Success"; Burn writes the image meant for it again.
// The burned unit answered on another bay: the attempt ends there, with the warning, and its
// answer back on this bay is no "Success" any more.
TEST_F(JournalStationTest, AUnitThatCameBackOnAnotherBayEndsItsAttemptAndNeverPassesHere) {
  h.station.settings.bay = 1;
  PlugUnit(kUnitMac);
  Burn();
  ASSERT_EQ(Phase(h.station), StationPhase::kRestarting);
  const std::string text = "MAC 02A0C5123456 came back on bay 2; it was burned on bay 1.";
  EXPECT_FALSE(EndReturnedOnOtherBay(h.station, "02A0C5000001", text)) << "not this bay's burn";
  EXPECT_TRUE(h.page.message_boxes().empty());
  ASSERT_TRUE(EndReturnedOnOtherBay(h.station, kLabel, text));
  EXPECT_NE(Phase(h.station), StationPhase::kRestarting);
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_EQ(h.page.message_boxes()[0].text, text);
  EXPECT_EQ(h.page.message_boxes()[0].type, kMbIconWarning);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].outcome, Outcome::kReturnedOnOtherBay);
  EXPECT_EQ(All().at(0).outcome, Outcome::kReturnedOnOtherBay);
  EXPECT_TRUE(All().at(0).committed) << "the commit stays: the MAC is burned";
  // The unit is cabled back here after its restart: read again, never "Success".
  for (int i = 0; i < 4; ++i) h.Tick();
  const auto texts = h.page.StatusTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Success"), 0);
  EXPECT_EQ(outcomes.size(), 1u);
}

TEST_F(JournalStationTest, VerifiedReturnMismatchShowsTheBoxAndNoSuccess) {
  SimulatedUnitConfig config;
  config.mac = kUnitMac;
  config.restart_ms = 300;
  config.faults.alter_on_commit = 105;  // inside the NMK
  std::vector<std::pair<StationActivity, std::string>> told;
  h.station.on_activity = [&told](StationActivity a, const std::string& mac) { told.emplace_back(a, mac); };
  PlugUnit(std::move(config));
  Burn();
  EXPECT_FALSE(TickUntilSuccess());
  // Typed, for the front ends: the read, the burn, the failed verify; never a pass.
  using A = StationActivity;
  EXPECT_THAT(told, ElementsAre(std::pair(A::kReading, std::string()),
                                std::pair(A::kRead, std::string()),
                                std::pair(A::kBurning, std::string(kLabel)),
                                std::pair(A::kVerifyFailed, std::string(kLabel))));
  const auto texts = h.page.StatusTexts();
  EXPECT_THAT(texts, Contains("Verify failed"));
  EXPECT_TRUE(h.page.IsEnabled(kBurnButton));
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  const auto& box = h.page.message_boxes()[0];
  EXPECT_EQ(box.caption, "Mac Burn");
  EXPECT_EQ(box.type, 16u);
  EXPECT_EQ(box.text, "Verify failed: the unit's module differs from the image written at offset 105.");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes.back().outcome, Outcome::kVerifyFailed);
  // Only the NMK byte differs: nothing else changed on the unit.
  const std::vector<JournalRecord> records = All();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].verified, false);
  EXPECT_EQ(records[0].other_bytes_changed, 0);
  // Later ticks do not turn it into "Success" either.
  h.page.Clear();
  h.Tick();
  h.Tick();
  EXPECT_THAT(h.page.StatusTexts(), Not(Contains("Success")));
}

// A unit that changes a byte outside the burned fields on its own is still verified; the byte
// is counted in the record.
TEST_F(JournalStationTest, AVerifiedReturnIsRecordedWithTheSuccessOutcome) {
  SimulatedUnitConfig config;
  config.mac = kUnitMac;
  config.restart_ms = 300;
  config.faults.alter_on_commit = 1000;  // between the NMK and the carrier table
  std::vector<StationActivity> told;
  h.station.on_activity = [&told](StationActivity a, const std::string&) { told.push_back(a); };
  PlugUnit(std::move(config));
  Burn();
  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(told.back(), StationActivity::kPassed);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].verified, true);
  EXPECT_EQ(outcomes[0].other_bytes_changed, 1);
  std::vector<JournalRecord> records = All();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].outcome, Outcome::kSuccess);
  EXPECT_EQ(records[0].verified, true);
  EXPECT_EQ(records[0].other_bytes_changed, 1);

  // A count that cannot be is recorded as none, not refused by the journal with the outcome.
  h.page.Clear();
  Burn();
  NoteReturnVerified(h.station, -1);
  NoteUnitAnswered(h.station, h.station.BurnedMac, true);
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_TRUE(h.page.message_boxes().empty());
  records = All();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].outcome, Outcome::kSuccess);
  EXPECT_EQ(records[1].verified, true);
  EXPECT_FALSE(records[1].other_bytes_changed);
}

}  // namespace
}  // namespace stampwright::station_test
