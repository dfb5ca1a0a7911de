// The counts line below the window's page, read from a real journal with refusals mixed in:
// refusals are neither failed attempts nor units; other stations and other days do not count.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/journal_counts.h"
#include "journal/sqlite_journal.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

constexpr int64_t kMinute = 60000;
constexpr int64_t kToday = 1796688000000;  // 2026-12-08 00:00 UTC

class JournalCountsTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    JournalStatus status;
    journal_ = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(journal_) << status.error;
  }
  void TearDown() override {
    journal_.reset();
    InTempDir::TearDown();
  }

  void Add(const std::string& station, const std::string& mac, int64_t started, Outcome outcome,
           RecordKind kind = RecordKind::kBurn) {
    JournalRecord r;
    r.station = station;
    r.mac = mac;
    r.kind = kind;
    r.started = started;
    r.outcome = outcome;
    r.finished = started + 4000;
    ASSERT_TRUE(journal_->Append(r).ok());
  }

  std::string Counts(const std::string& station) {
    JournalLink link;
    link.enabled = true;
    link.journal = journal_.get();
    link.station_name = station;
    link.now = [] { return kToday + 15 * 60 * kMinute; };
    return TodayCountsText(link);
  }

  std::unique_ptr<SqliteJournal> journal_;
};

TEST_F(JournalCountsTest, RefusalsAreCountedApartFromFailedAttemptsAndTheYield) {
  const int64_t nine = kToday + 9 * 60 * kMinute;
  Add("s1", "ZZ12", nine, Outcome::kLookupFailed);  // a typo: no unit touched
  Add("s1", "02A0C5000001", nine + 1 * kMinute, Outcome::kSuccess);
  Add("s1", "02A0C5000002", nine + 5 * kMinute, Outcome::kDuplicateRefused);
  Add("s1", "02A0C5000002", nine + 6 * kMinute, Outcome::kWriteFailed);
  Add("s1", "02A0C5000002", nine + 8 * kMinute, Outcome::kSuccess);
  Add("s1", "02A0C5000003", nine + 10 * kMinute, Outcome::kJournalError);
  Add("s1", "02A0C5000003", nine + 12 * kMinute, Outcome::kNoReturn);
  Add("s1", "", nine + 15 * kMinute, Outcome::kLookupFailed);  // an empty New MAC
  Add("s1", "02A0C5000003", nine + 20 * kMinute, Outcome::kFirmwareOk, RecordKind::kFirmware);
  Add("s2", "02A0C5000004", nine, Outcome::kSuccess);                      // another station
  Add("s1", "02A0C5000005", kToday - 60 * kMinute, Outcome::kWriteFailed);  // yesterday
  // By hand: sent = 0001 ok, 0002 failed then ok, 0003 no-return: 4 attempts, 2 failed; units
  // 0001, 0002, 0003, of which 0001 passed first time: 1 of 3.
  EXPECT_EQ(Counts("s1"), "Today, s1: 2 units burned, 2 attempts failed, 4 refused, first-pass yield 33.3 %");

  Add("s3", "02A0C5000006", nine, Outcome::kSuccess);
  Add("s3", "02A0C5000007", nine + kMinute, Outcome::kCommitUnconfirmed);
  EXPECT_EQ(Counts("s3"), "Today, s3: 1 unit burned, 1 attempt failed, 0 refused, first-pass yield 50.0 %");
  Add("s4", "02A0C5000008", nine, Outcome::kLookupFailed);
  EXPECT_EQ(Counts("s4"), "Today, s4: 0 units burned, 0 attempts failed, 1 refused, first-pass yield -");
}

}  // namespace
}  // namespace stampwright
