#include "journal/sqlite_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace stampwright {
namespace {

using ::testing::HasSubstr;

class SqliteJournalTest : public InTempDir {
 protected:
  std::unique_ptr<SqliteJournal> Open(const std::string& path = "journal.db") {
    JournalStatus status;
    auto journal = SqliteJournal::Open(path, &status);
    EXPECT_TRUE(journal) << status.error;
    return journal;
  }

  static JournalRecord Attempt(const std::string& mac, const std::string& station = "s1") {
    JournalRecord r;
    r.station = station;
    r.mac = mac;
    r.started = 1765200000000;
    r.image_checksum = "0badcafe";
    return r;
  }

  static std::string Exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    sqlite3_exec(db, sql, nullptr, nullptr, &message);
    std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    return text;
  }
};

TEST_F(SqliteJournalTest, RecordsAreAppendOnlyAndAnOutcomeIsAddedOnce) {
  auto journal = Open();
  JournalRecord first = Attempt("02A0C5000010");
  ASSERT_TRUE(journal->Append(first).ok());
  EXPECT_EQ(first.attempt, 1);
  EXPECT_EQ(first.id.size(), 36u);
  JournalRecord second = Attempt("02A0C5000010");
  ASSERT_TRUE(journal->Append(second).ok());
  EXPECT_EQ(second.attempt, 2);

  ASSERT_TRUE(journal->NoteCommit(first.id, first.started + 900).ok());
  ASSERT_TRUE(journal->Finish(first.id, Outcome::kSuccess, first.started + 2000, 900, 1100).ok());
  EXPECT_FALSE(journal->Finish(first.id, Outcome::kNoReturn, first.started + 3000, {}, {}).ok());
  EXPECT_FALSE(journal->NoteCommit(first.id, first.started + 3000).ok());

  // Not even a plain SQL client may change or delete what was recorded.
  sqlite3* db = journal->database();
  EXPECT_THAT(Exec(db, "UPDATE records SET mac = '02A0C5FFFFFF'"), HasSubstr("never changed"));
  EXPECT_THAT(Exec(db, "UPDATE records SET outcome = 'success' WHERE outcome IS NOT NULL"),
              HasSubstr("never changed"));
  EXPECT_THAT(Exec(db, "DELETE FROM records"), HasSubstr("never deleted"));

  std::optional<JournalRecord> read;
  ASSERT_TRUE(journal->ReadOne(first.id, &read).ok());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->mac, "02A0C5000010");
  EXPECT_EQ(read->outcome, Outcome::kSuccess);
  EXPECT_EQ(read->committed, first.started + 900);
  EXPECT_EQ(read->return_ms, 1100);
}

TEST_F(SqliteJournalTest, GuardSeesConfirmedCommitsUntilALaterRelease) {
  auto journal = Open();
  std::optional<BurnedMac> burned;
  JournalRecord unconfirmed = Attempt("02A0C5000020");
  ASSERT_TRUE(journal->Append(unconfirmed).ok());
  ASSERT_TRUE(journal->Finish(unconfirmed.id, Outcome::kCommitUnconfirmed, 1, {}, {}).ok());
  ASSERT_TRUE(journal->FindBurned("02A0C5000020", &burned).ok());
  EXPECT_FALSE(burned) << "an unconfirmed commit does not burn the MAC";

  JournalRecord confirmed = Attempt("02A0C5000020", "s2");
  ASSERT_TRUE(journal->Append(confirmed).ok());
  ASSERT_TRUE(journal->NoteCommit(confirmed.id, 1765200005000).ok());
  ASSERT_TRUE(journal->FindBurned("02A0C5000020", &burned).ok());
  ASSERT_TRUE(burned) << "burned once the commit was confirmed, before any outcome";
  EXPECT_EQ(burned->station, "s2");
  EXPECT_EQ(burned->committed, 1765200005000);

  JournalRecord release;
  release.kind = RecordKind::kRelease;
  release.mac = "02A0C5000020";
  release.station = "supervisor";
  release.reason = "rework";
  release.started = 1765200006000;
  ASSERT_TRUE(journal->Append(release).ok());
  ASSERT_TRUE(journal->FindBurned("02A0C5000020", &burned).ok());
  EXPECT_FALSE(burned);
}

TEST_F(SqliteJournalTest, OpenClosesInterruptedAttemptsOfItsStationAndRefusesNewerSchemas) {
  {
    auto journal = Open();
    JournalRecord mine = Attempt("02A0C5000030", "s1");
    JournalRecord other = Attempt("02A0C5000031", "s2");
    ASSERT_TRUE(journal->Append(mine).ok());
    ASSERT_TRUE(journal->Append(other).ok());
    int closed = 0;
    ASSERT_TRUE(journal->CloseInterrupted("s1", 1765200009000, &closed).ok());
    EXPECT_EQ(closed, 1);
    std::vector<JournalRecord> records;
    ASSERT_TRUE(journal->Read({}, &records).ok());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].outcome, Outcome::kInterrupted);
    EXPECT_FALSE(records[1].outcome);
    Exec(journal->database(), "PRAGMA user_version = 99");
  }
  JournalStatus status;
  EXPECT_FALSE(SqliteJournal::Open("journal.db", &status));
  EXPECT_THAT(status.error, HasSubstr("schema version 99, newer than this program's 1"));

  EXPECT_FALSE(SqliteJournal::Open("missing/journal.db", &status));
  EXPECT_THAT(status.error, HasSubstr("unable to open database file"));
}

}  // namespace
}  // namespace stampwright
