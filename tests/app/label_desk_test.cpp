#include "app/label_desk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "journal/sqlite_journal.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

using ::testing::HasSubstr;

// 02A0C5100001..06 in the pool; cam.dbr holds all but ...03.
constexpr const char* kPool = "02A0C5100001-02A0C5100006";

class LabelDeskTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    std::ofstream database("cam.dbr");
    for (const char* mac : {"02A0C5100001", "02A0C5100002", "02A0C5100004", "02A0C5100005",
                            "02A0C5100006", "02A0C5100099"}) {
      database << EncodeMacRecord(mac, "Abcd2345Efgh6789") << "\n";
    }
    database.close();
    JournalStatus status;
    journal_ = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(journal_) << status.error;
  }

  std::unique_ptr<LabelDesk> MakeDesk(LabelSettings settings, int bays = 1) {
    std::string error;
    std::vector<MacRange> ranges{*ParseMacRange(kPool, &error)};
    std::set<uint64_t> macs;
    EXPECT_TRUE(ReadPoolDatabase("cam.dbr", "02A0C5", ranges, &macs));
    auto pool = std::make_unique<MacPool>(ranges, std::move(macs));
    std::vector<JournalRecord> records;
    EXPECT_TRUE(journal_->Read({}, &records).ok());
    pool->Load(records);
    settings.station = "st";
    if (settings.source == MacSource::kLabel) pool.reset();
    return std::make_unique<LabelDesk>(std::move(settings), std::move(pool), journal_.get(), bays);
  }

  // An attempt as the station writes it: its claim, then (if it got so far) its confirmed
  // commit, then its outcome; the record event the bay publishes.
  StationEvent Attempt(int bay, const std::string& mac, Outcome outcome, bool committed = false) {
    JournalRecord record;
    record.station = "st";
    record.mac = mac;
    record.started = UtcNowMs();
    if (IsRefusal(outcome)) {
      record.outcome = outcome;
      EXPECT_TRUE(journal_->Append(record).ok());
      return {bay, RecordEvent{record}};
    }
    EXPECT_TRUE(journal_->Append(record).ok());
    if (committed) {
      EXPECT_TRUE(journal_->NoteCommit(record.id, record.started + 20).ok());
    }
    EXPECT_TRUE(journal_->Finish(record.id, {outcome, record.started + 30, 20, {}, {}, {}}).ok());
    record.outcome = outcome;
    return {bay, RecordEvent{record}};
  }

  static std::vector<std::string> Burned(const std::vector<DeskAction>& actions) {
    std::vector<std::string> macs;
    for (const DeskAction& action : actions) {
      if (const auto* burn = std::get_if<BurnPoolMac>(&action)) macs.push_back(burn->mac);
    }
    return macs;
  }
  template <typename T>
  static std::vector<T> All(const std::vector<DeskAction>& actions) {
    std::vector<T> found;
    for (const DeskAction& action : actions) {
      if (const auto* a = std::get_if<T>(&action)) found.push_back(*a);
    }
    return found;
  }
  static StationEvent Read(int bay) { return {bay, ModuleReadEvent{"PX300", "PX300 Class B"}}; }
  static StationEvent Gone(int bay) { return {bay, UnitEvent{}}; }
  static StationEvent Burning(int bay) { return {bay, ActivityEvent{StationActivity::kBurning, {}}}; }
  static StationEvent Passed(int bay, const std::string& mac) {
    return {bay, ActivityEvent{StationActivity::kPassed, mac}};
  }

  std::vector<JournalRecord> Records(const std::string& mac) {
    std::vector<JournalRecord> records;
    RecordFilter filter;
    filter.mac = mac;
    EXPECT_TRUE(journal_->Read(filter, &records).ok());
    return records;
  }

  std::unique_ptr<SqliteJournal> journal_;
};

// Lowest first among the MACs cam.dbr holds and the journal has no use of: a success, a scrap
// and a write that failed keep theirs out; a lookup that failed gives its MAC back; a burn that
// failed after its commit was confirmed, or before any confirmed write, never returns its MAC;
// one refused before any frame does.
TEST_F(LabelDeskTest, ThePoolHandsOutOnlyMacsNoAttemptMayHaveBurned) {
  Attempt(1, "02A0C5100001", Outcome::kSuccess, true);
  Attempt(1, "02A0C5100002", Outcome::kLookupFailed);
  Attempt(1, "02A0C5100004", Outcome::kWriteFailed);
  JournalRecord scrap;
  scrap.kind = RecordKind::kScrap;
  scrap.station = "sup";
  scrap.mac = "02A0C5100005";
  scrap.started = UtcNowMs();
  ASSERT_TRUE(journal_->Append(scrap).ok());
  LabelSettings settings;
  settings.source = MacSource::kPool;
  settings.pool_warn = 0;
  auto desk = MakeDesk(settings);

  // ...02 (refused at its lookup) comes back; ...03 is not in cam.dbr.
  EXPECT_THAT(Burned(desk->Observe(Read(1))), ::testing::ElementsAre("02A0C5100002"));
  desk->Observe(Burning(1));
  desk->Observe(Attempt(1, "02A0C5100002", Outcome::kCommitUnconfirmed, true));
  // A unit read again after its own burn is not burned again; the next unit takes ...06.
  EXPECT_TRUE(Burned(desk->Observe(Read(1))).empty());
  desk->Observe(Gone(1));
  EXPECT_THAT(Burned(desk->Observe(Read(1))), ::testing::ElementsAre("02A0C5100006"));
  // Refused before any frame (the journal could not take the claim): ...06 is free again, and
  // goes to the next unit.
  desk->Observe(Attempt(1, "02A0C5100006", Outcome::kJournalError));
  desk->Observe(Gone(1));
  EXPECT_THAT(Burned(desk->Observe(Read(1))), ::testing::ElementsAre("02A0C5100006"));
  desk->Observe(Burning(1));
  desk->Observe(Gone(1));  // the unit's restart after its commit
  desk->Observe(Attempt(1, "02A0C5100006", Outcome::kNoReturn, true));
  desk->Observe(Gone(1));

  // Empty: refused with the notice, nothing burns.
  const std::vector<DeskAction> empty = desk->Observe(Read(1));
  EXPECT_TRUE(Burned(empty).empty());
  ASSERT_EQ(All<BayNotice>(empty).size(), 1u);
  EXPECT_EQ(All<BayNotice>(empty)[0].text, "The MAC pool is empty.");
  EXPECT_EQ(desk->TopLine(), "The MAC pool is empty.");

  // The tool's counts from the same records.
  MacPool counted({{0x02A0C5100001, 0x02A0C5100006}},
                  {0x02A0C5100001, 0x02A0C5100002, 0x02A0C5100004, 0x02A0C5100005, 0x02A0C5100006});
  std::vector<JournalRecord> all;
  ASSERT_TRUE(journal_->Read({}, &all).ok());
  counted.Load(all);
  const PoolCounts counts = counted.Counts();
  EXPECT_EQ(counts.free, 0u);
  EXPECT_EQ(counts.burned, 4u);
  EXPECT_EQ(counts.scrapped, 1u);
  EXPECT_EQ(counts.missing, 1u);
}

// A line's records reach its database after the station's outbox: a burn that sent frames
// keeps its MAC out even while no record of it can be read yet.
TEST_F(LabelDeskTest, AMacWhoseFramesWereSentNeverReturnsBeforeItsRecordsArrive) {
  LabelSettings settings;
  settings.source = MacSource::kPool;
  settings.pool_warn = 0;
  auto desk = MakeDesk(settings);
  ASSERT_THAT(Burned(desk->Observe(Read(1))), ::testing::ElementsAre("02A0C5100001"));
  desk->Observe(Burning(1));
  JournalRecord unseen;
  unseen.station = "st";
  unseen.mac = "02A0C5100001";
  unseen.outcome = Outcome::kWriteFailed;
  desk->Observe({1, RecordEvent{unseen}});
  desk->Observe(Gone(1));
  EXPECT_THAT(Burned(desk->Observe(Read(1))), ::testing::ElementsAre("02A0C5100002"));
}

TEST_F(LabelDeskTest, AClaimRefusedElsewhereMovesOnAndWarningsComeOncePerTen) {
  std::ofstream database("cam.dbr", std::ios::trunc);
  for (int i = 1; i <= 0x30; ++i) {
    char mac[13];
    std::snprintf(mac, sizeof mac, "02A0C51000%02X", i);
    database << EncodeMacRecord(mac, "Abcd2345Efgh6789") << "\n";
  }
  database.close();
  std::string error;
  std::vector<MacRange> ranges{*ParseMacRange("02A0C5100001-02A0C5100030", &error)};
  std::set<uint64_t> macs;
  ASSERT_TRUE(ReadPoolDatabase("cam.dbr", "02A0C5", ranges, &macs));
  LabelSettings settings;
  settings.source = MacSource::kPool;
  settings.pool_warn = 25;
  LabelDesk desk(settings, std::make_unique<MacPool>(ranges, macs), journal_.get(), 2);
  EXPECT_TRUE(desk.Start().empty());  // 48 free

  std::vector<size_t> warnings;
  for (int unit = 0; unit < 48; ++unit) {
    const int bay = 1 + unit % 2;
    const std::vector<DeskAction> actions = desk.Observe(Read(bay));
    for (const PoolWarning& w : All<PoolWarning>(actions)) warnings.push_back(w.left);
    const std::vector<std::string> burned = Burned(actions);
    ASSERT_EQ(burned.size(), 1u);
    desk.Observe(Burning(bay));
    // The first unit's MAC was claimed by another station meanwhile: refused, and the bay
    // takes the next MAC without a new read.
    if (unit == 0) {
      JournalRecord elsewhere;
      elsewhere.station = "other";
      elsewhere.mac = burned[0];
      elsewhere.started = UtcNowMs();
      ASSERT_TRUE(journal_->Append(elsewhere).ok());
      const std::vector<DeskAction> next = desk.Observe(Attempt(bay, burned[0], Outcome::kDuplicateRefused));
      EXPECT_THAT(Burned(next), ::testing::ElementsAre("02A0C5100002"));
      for (const PoolWarning& w : All<PoolWarning>(next)) warnings.push_back(w.left);
      ++unit;
      desk.Observe(Burning(bay));
      desk.Observe(Attempt(bay, "02A0C5100002", Outcome::kSuccess, true));
    } else {
      desk.Observe(Attempt(bay, burned[0], Outcome::kSuccess, true));
    }
    desk.Observe(Gone(bay));
  }
  EXPECT_THAT(warnings, ::testing::ElementsAre(24, 14, 4, 0));
  EXPECT_THAT(Burned(desk.Observe(Read(1))), ::testing::IsEmpty());
}

// A printer that refuses holds the unit (its label records the reason, the MAC counts as held)
// until a reprint prints it; with scan-back the PASS is final only once the label is scanned:
// another bay's label changes nothing, a wrong one is recorded as not verified.
TEST_F(LabelDeskTest, PrinterRefusalReprintAndScanBack) {
  LabelSettings settings;
  settings.source = MacSource::kPool;
  settings.pool_warn = 0;
  settings.printer = std::get<PrinterTarget>(ParsePrinterTarget("tcp://127.0.0.1:9"));
  settings.scan_back = true;
  auto desk = MakeDesk(settings, 2);
  ASSERT_THAT(Burned(desk->Observe(Read(1))), ::testing::ElementsAre("02A0C5100001"));
  ASSERT_THAT(Burned(desk->Observe(Read(2))), ::testing::ElementsAre("02A0C5100002"));
  for (int bay : {1, 2}) {
    const std::string mac = bay == 1 ? "02A0C5100001" : "02A0C5100002";
    desk->Observe(Burning(bay));
    desk->Observe(Attempt(bay, mac, Outcome::kSuccess, true));
  }
  std::vector<DeskAction> passed = desk->Observe(Passed(1, "02A0C5100001"));
  ASSERT_EQ(All<PrintJob>(passed).size(), 1u);
  const PrintJob job = All<PrintJob>(passed)[0];
  LabelFields fields{"02A0C5100001", "Abcd-2345-Efgh-6789", "st", 1, UtcNowMs(), "PX300"};
  std::string reason;
  EXPECT_EQ(job.zpl, *LabelTemplate::Default().Filled(fields, &reason));

  std::vector<DeskAction> refused = desk->Printed(1, job.mac, std::string("connection refused"));
  ASSERT_EQ(All<BayNotice>(refused).size(), 1u);
  EXPECT_EQ(All<BayNotice>(refused)[0].text, "Label printer: connection refused");
  EXPECT_FALSE(All<LabelReport>(refused)[0].ok);
  EXPECT_EQ(desk->TopLine(), "Bay 1: label not printed, print it again");
  std::vector<const JournalRecord*> its;
  std::vector<JournalRecord> records = Records(job.mac);
  for (const JournalRecord& r : records) its.push_back(&r);
  EXPECT_EQ(PoolStateOf(its), PoolMacState::kHeld);

  ASSERT_EQ(All<PrintJob>(desk->Reprint(1)).size(), 1u);
  EXPECT_EQ(All<BayNotice>(desk->Printed(1, job.mac, std::nullopt))[0].text, "Scan the printed label");
  EXPECT_TRUE(desk->AwaitingScanBack(1));
  // Bay 2's unit: its label is that bay's, and nothing changes.
  const auto other = desk->Scan("02A0C5100002");
  ASSERT_TRUE(other);
  EXPECT_EQ(All<ScanBackReport>(*other)[0].reason, "Label 02A0C5100002 belongs to bay 2.");
  EXPECT_TRUE(desk->AwaitingScanBack(1));
  // A label of no unit here: recorded as not verified; the bay still waits.
  const auto wrong = desk->Scan("02:a0:c5:10:00:77");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(All<ScanBackReport>(*wrong)[0].result, "label-mismatch");
  EXPECT_TRUE(desk->AwaitingScanBack(1));
  const auto right = desk->Scan("02a0c5100001");
  ASSERT_TRUE(right);
  EXPECT_EQ(All<ScanBackReport>(*right)[0].result, "label-verified");
  EXPECT_FALSE(desk->AwaitingScanBack(1));

  records = Records(job.mac);
  std::vector<std::string> labels;
  for (const JournalRecord& r : records) {
    if (r.kind != RecordKind::kLabel) continue;
    labels.push_back(r.reason + "|" + r.printer + "|" +
                     (r.label_verified ? (*r.label_verified ? "yes" : "no") : "-"));
  }
  EXPECT_THAT(labels, ::testing::ElementsAre("connection refused|tcp://127.0.0.1:9|-",
                                             "|tcp://127.0.0.1:9|-", "|tcp://127.0.0.1:9|no",
                                             "|tcp://127.0.0.1:9|yes"));
  its.clear();
  for (const JournalRecord& r : records) its.push_back(&r);
  EXPECT_EQ(PoolStateOf(its), PoolMacState::kBurned);
  // No bay waits for a label: in pool mode a scanned MAC label burns nothing.
  const auto late = desk->Scan("02A0C5100004");
  ASSERT_TRUE(late);
  EXPECT_EQ(All<ScanBackReport>(*late)[0].result, "refused");
}

}  // namespace
}  // namespace stampwright
