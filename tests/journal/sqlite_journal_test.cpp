#include "journal/sqlite_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal/export.h"
#include "journal/old_journal_files.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

using ::testing::EndsWith;
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
  ASSERT_TRUE(journal->NoteCommit(first.id, first.started + 900).ok());
  ASSERT_TRUE(journal->Finish(first.id, {Outcome::kSuccess, first.started + 2000, 900, 1100, {}, {}}).ok());
  JournalRecord second = Attempt("02A0C5000010");
  second.outcome = Outcome::kDuplicateRefused;
  ASSERT_TRUE(journal->Append(second).ok());
  EXPECT_EQ(second.attempt, 2);
  EXPECT_FALSE(journal->Finish(first.id, {Outcome::kNoReturn, first.started + 3000, {}, {}, {}, {}}).ok());
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
  ASSERT_TRUE(journal->Finish(unconfirmed.id, {Outcome::kCommitUnconfirmed, 1, {}, {}, {}, {}}).ok());
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

TEST_F(SqliteJournalTest, TheClaimDecidesForEveryHandleOnTheFile) {
  auto a = Open();
  auto b = Open();
  const std::string mac = "02A0C5000040";
  JournalRecord first = Attempt(mac, "s1");
  first.unit_mac_before = "02A0C5000001";
  ASSERT_TRUE(a->Append(first).ok());
  // Open on the other handle: held, whatever the early check said.
  JournalRecord second = Attempt(mac, "s2");
  second.unit_mac_before = "02A0C5000002";
  JournalStatus status = b->Append(second);
  EXPECT_EQ(status.refusal, "MAC 02A0C5000040 is being burned by station s1.");
  EXPECT_FALSE(status.burned);

  // Committed and finished: burned, and the refusal names the commit.
  ASSERT_TRUE(a->NoteCommit(first.id, 1765200005000).ok());
  ASSERT_TRUE(a->Finish(first.id, {Outcome::kSuccess, 1765200007000, 900, 1100, true, 0}).ok());
  second.id.clear();
  status = b->Append(second);
  EXPECT_EQ(status.refusal, "MAC 02A0C5000040 was already burned by station s1 at " +
                                FormatUtcSeconds(1765200005000) + " UTC.");
  ASSERT_TRUE(status.burned);
  EXPECT_EQ(status.burned->station, "s1");
  // An attempt that ended without a commit leaves the MAC free; the rework of the unit that
  // carries it is allowed.
  JournalRecord rework = Attempt(mac, "s2");
  rework.unit_mac_before = mac;
  ASSERT_TRUE(b->Append(rework).ok());
  ASSERT_TRUE(b->Finish(rework.id, {Outcome::kWriteFailed, 1765200009000, {}, {}, {}, {}}).ok());
  std::vector<JournalRecord> records;
  ASSERT_TRUE(a->Read({}, &records).ok());
  EXPECT_EQ(records.size(), 2u) << "refused claims write nothing";

  // Not even a plain SQL client holds two open claims on one MAC.
  sqlite3* db = a->database();
  EXPECT_EQ(Exec(db, "INSERT INTO claims (record_id, mac, station) VALUES ('x1', 'M', 's')"), "");
  EXPECT_THAT(Exec(db, "INSERT INTO claims (record_id, mac, station) VALUES ('x2', 'M', 's')"),
              HasSubstr("UNIQUE constraint failed"));
  // Two bays of one station: the refusal names the bay that holds it.
  JournalRecord bay_one = Attempt("02A0C5000041", "s1");
  bay_one.bay = 1;
  ASSERT_TRUE(a->Append(bay_one).ok());
  JournalRecord bay_two = Attempt("02A0C5000041", "s1");
  bay_two.unit_mac_before = "02A0C5000003";
  bay_two.bay = 2;
  EXPECT_EQ(b->Append(bay_two).refusal, "MAC 02A0C5000041 is being burned on bay 1.");
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
  EXPECT_THAT(status.error, HasSubstr("schema version 99, newer than this program's 5"));

  EXPECT_FALSE(SqliteJournal::Open("missing/journal.db", &status));
  EXPECT_THAT(status.error, HasSubstr("unable to open database file"));
}


TEST_F(SqliteJournalTest, AVersion1JournalIsMigratedAndTheReadBackIsWrittenOnceWithTheOutcome) {
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open("journal.db", &raw), SQLITE_OK);
    SqliteDatabase old(raw);
    ASSERT_EQ(Exec(old.get(), kVersion1Journal), "");
  }
  auto journal = Open();
  ASSERT_TRUE(journal);
  sqlite3* db = journal->database();
  SqliteStatement version;
  ASSERT_TRUE(version.Prepare(db, "PRAGMA user_version"));
  ASSERT_EQ(version.Step(), SQLITE_ROW);
  EXPECT_EQ(version.Int(0), kJournalSchemaVersion);

  // Old rows keep no read-back; the open one takes its outcome and read-back in one write.
  std::optional<JournalRecord> done, open;
  ASSERT_TRUE(journal->ReadOne("old-done", &done).ok());
  ASSERT_TRUE(done);
  EXPECT_EQ(done->return_ms, 2100);
  EXPECT_FALSE(done->verified);
  EXPECT_FALSE(done->other_bytes_changed);
  EXPECT_THAT(RecordJson(*done), EndsWith(",\"verified\":null,\"other_bytes_changed\":null,\"bay\":null,\"printer\":null,\"label_verified\":null}"));
  // Not before the outcome, not even by a plain SQL client.
  EXPECT_THAT(Exec(db, "UPDATE records SET verified = 1 WHERE id = 'old-open'"),
              HasSubstr("CHECK constraint failed"));
  EXPECT_THAT(Exec(db, "UPDATE records SET other_bytes_changed = 3 WHERE id = 'old-open'"),
              HasSubstr("CHECK constraint failed"));
  ASSERT_TRUE(journal->Finish("old-open", {Outcome::kSuccess, 1765100014000, 1000, 3000, true, 3}).ok());
  // Never after it: neither the read-back of a finished record nor a second outcome.
  EXPECT_THAT(Exec(db, "UPDATE records SET verified = 0 WHERE id = 'old-open'"), HasSubstr("never changed"));
  EXPECT_THAT(Exec(db, "UPDATE records SET other_bytes_changed = 0 WHERE id = 'old-open'"),
              HasSubstr("never changed"));
  EXPECT_THAT(Exec(db, "UPDATE records SET verified = 1 WHERE id = 'old-done'"), HasSubstr("never changed"));
  EXPECT_FALSE(journal->Finish("old-open", {Outcome::kVerifyFailed, 1765100015000, 1000, 3000, false, 0}).ok());
  ASSERT_TRUE(journal->ReadOne("old-open", &open).ok());
  ASSERT_TRUE(open);
  EXPECT_EQ(open->outcome, Outcome::kSuccess);
  EXPECT_EQ(open->verified, true);
  EXPECT_EQ(open->other_bytes_changed, 3);

  // A record written late carries its read-back in the one insert; values outside the columns'
  // range are refused.
  JournalRecord late = Attempt("02A0C5000042");
  late.outcome = Outcome::kVerifyFailed;
  late.finished = late.started + 4000;
  late.verified = false;
  late.other_bytes_changed = 0;
  ASSERT_TRUE(journal->Append(late).ok());
  JournalRecord negative = Attempt("02A0C5000043");
  negative.outcome = Outcome::kSuccess;
  negative.finished = negative.started + 4000;
  negative.other_bytes_changed = -1;
  EXPECT_FALSE(journal->Append(negative).ok());
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journal->Read({}, &records).ok());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].verified, false);
  EXPECT_THAT(RecordCsvHeader(), EndsWith(",reason,verified,other_bytes_changed,bay,printer,label_verified"));
  EXPECT_THAT(RecordCsvLine(records[1]), EndsWith(",true,3,,,"));
  EXPECT_THAT(RecordCsvLine(records[2]), EndsWith(",false,0,,,"));
  EXPECT_THAT(RecordJson(records[2]), EndsWith(",\"verified\":false,\"other_bytes_changed\":0,\"bay\":null,\"printer\":null,\"label_verified\":null}"));
}


// Every field goes to its own column and comes back as written: a burn from its claim to its
// outcome, and the stored forms a reader of the file sees (a station's empty name as "?", a
// typed MAC kept as typed even when empty, a "no" as 0, a scrap without attempt number).
TEST_F(SqliteJournalTest, EveryFieldIsStoredInItsColumnAndReadBackAsWritten) {
  auto journal = Open();
  ASSERT_TRUE(journal);
  JournalRecord burn;
  burn.station = "bench-1";
  burn.adapter = "eth1";
  burn.mac = "02A0C5000050";
  burn.unit_mac_before = "0050C2000001";
  burn.chip = "OTHER-CHIP";
  burn.module_class = "PX300 Class B";
  burn.firmware_version = "3.3.6";
  burn.image_checksum = "0badcafe";
  burn.started = 1765200000001;
  burn.config = "c0ffee12";
  burn.firmware_name = "fw.nvm";
  burn.firmware_size = 1048576;
  burn.firmware_sha256 = std::string(64, 'a');
  burn.reason = "rework";
  burn.bay = 2;
  ASSERT_TRUE(journal->Append(burn).ok());
  ASSERT_TRUE(journal->NoteCommit(burn.id, 1765200000002).ok());
  ASSERT_TRUE(journal->Finish(burn.id, {Outcome::kVerifyFailed, 1765200000003, 1200, 3400, false, 7}).ok());
  JournalRecord expected = burn;
  expected.attempt = 1;
  expected.committed = 1765200000002;
  expected.outcome = Outcome::kVerifyFailed;
  expected.finished = 1765200000003;
  expected.burn_ms = 1200;
  expected.return_ms = 3400;
  expected.verified = false;
  expected.other_bytes_changed = 7;
  std::optional<JournalRecord> read;
  ASSERT_TRUE(journal->ReadOne(burn.id, &read).ok());
  ASSERT_TRUE(read);
  EXPECT_EQ(RecordJson(*read), RecordJson(expected));

  JournalRecord scrap;
  scrap.kind = RecordKind::kScrap;
  scrap.started = 1765200000004;
  scrap.attempt = 5;
  ASSERT_TRUE(journal->Append(scrap).ok());
  SqliteStatement stored;
  ASSERT_TRUE(stored.Prepare(journal->database(),
                             "SELECT quote(station), quote(mac), quote(adapter), quote(attempt),"
                             " quote(verified), quote(outcome), quote(kind), quote(started), quote(bay)"
                             " FROM records ORDER BY seq"));
  std::vector<std::string> rows;
  while (stored.Step() == SQLITE_ROW) {
    std::string row;
    for (int column = 0; column < 9; ++column) row += (column ? " " : "") + stored.Text(column);
    rows.push_back(row);
  }
  EXPECT_THAT(rows, ::testing::ElementsAre(
                        "'bench-1' '02A0C5000050' 'eth1' 1 0 'verify-failed' 'burn' 1765200000001 2",
                        "'?' '' NULL NULL NULL NULL 'scrap' 1765200000004 NULL"));
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journal->Read({}, &records).ok());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].station, "?");
  EXPECT_EQ(records[1].attempt, 0);
}

// A file of version 3 gains the bay on open: its records read back without one, the open attempt
// ends as before, new records keep theirs; a bay is a bay's number, given once with its record.
TEST_F(SqliteJournalTest, AVersion3JournalGainsTheBayAndKeepsItAsGiven) {
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open("journal.db", &raw), SQLITE_OK);
    SqliteDatabase old(raw);
    ASSERT_EQ(Exec(old.get(), kVersion1Journal), "");
    ASSERT_EQ(Exec(old.get(), kVersion1To3Steps), "");
  }
  auto journal = Open();
  ASSERT_TRUE(journal);
  sqlite3* db = journal->database();
  SqliteStatement version;
  ASSERT_TRUE(version.Prepare(db, "PRAGMA user_version"));
  ASSERT_EQ(version.Step(), SQLITE_ROW);
  EXPECT_EQ(version.Int(0), kJournalSchemaVersion);

  ASSERT_TRUE(journal->Finish("old-open", {Outcome::kSuccess, 1765100014000, 1000, 3000, true, 0}).ok());
  JournalRecord on_bay = Attempt("02A0C5000060");
  on_bay.bay = 3;
  JournalRecord alone = Attempt("02A0C5000061");
  ASSERT_TRUE(journal->Append(on_bay).ok());
  ASSERT_TRUE(journal->Append(alone).ok());
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journal->Read({}, &records).ok());
  ASSERT_EQ(records.size(), 4u);
  EXPECT_FALSE(records[0].bay);
  EXPECT_FALSE(records[1].bay);
  EXPECT_EQ(records[1].outcome, Outcome::kSuccess);
  EXPECT_EQ(records[2].bay, 3);
  EXPECT_FALSE(records[3].bay);
  EXPECT_THAT(RecordJson(records[2]),
              EndsWith(",\"bay\":3,\"printer\":null,\"label_verified\":null}"));
  EXPECT_THAT(RecordCsvLine(records[2]), EndsWith(",3,,"));
  EXPECT_THAT(RecordCsvLine(records[3]), EndsWith(",,,"));

  // Not changed afterwards, on an open attempt either, and never 0 or below.
  EXPECT_THAT(Exec(db, "UPDATE records SET bay = 4 WHERE mac = '02A0C5000060'"), HasSubstr("never changed"));
  EXPECT_THAT(Exec(db, "UPDATE records SET bay = 1 WHERE mac = '02A0C5000061'"), HasSubstr("never changed"));
  JournalRecord zero = Attempt("02A0C5000062");
  zero.bay = 0;
  EXPECT_FALSE(journal->Append(zero).ok());
  std::optional<JournalRecord> read;
  ASSERT_TRUE(journal->ReadOne(on_bay.id, &read).ok());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->bay, 3);
  // Its outcome leaves the bay as it was.
  ASSERT_TRUE(journal->Finish(on_bay.id, {Outcome::kSuccess, 1765200004000, 900, 1500, true, 0}).ok());
  ASSERT_TRUE(journal->ReadOne(on_bay.id, &read).ok());
  EXPECT_EQ(read->bay, 3);
  EXPECT_EQ(read->outcome, Outcome::kSuccess);
}

// Version 4 to 5 builds the records table anew to take label records: every value of every row
// comes across as stored (its type too), the open attempt's claim still ends with its outcome,
// and the rebuilt table refuses changes and deletions as before, now for the new columns too.
TEST_F(SqliteJournalTest, AVersion4JournalTakesLabelRecordsAndKeepsEveryStoredValue) {
  const char* every_value =
      "SELECT quote(seq), quote(id), quote(station), quote(adapter), quote(kind), quote(mac), "
      "quote(unit_mac_before), quote(chip), quote(module_class), quote(firmware_version), "
      "quote(image_checksum), quote(outcome), quote(started), quote(finished), quote(committed), "
      "quote(burn_ms), quote(return_ms), quote(attempt), quote(config), quote(firmware_name), "
      "quote(firmware_size), quote(firmware_sha256), quote(reason), quote(verified), "
      "quote(other_bytes_changed), quote(bay) FROM records ORDER BY seq";
  const auto rows = [every_value](sqlite3* db) {
    SqliteStatement s;
    EXPECT_TRUE(s.Prepare(db, every_value));
    std::vector<std::string> all;
    while (s.Step() == SQLITE_ROW) {
      std::string row;
      for (int column = 0; column < 26; ++column) row += s.Text(column) + "|";
      all.push_back(row);
    }
    return all;
  };
  std::vector<std::string> before;
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open("journal.db", &raw), SQLITE_OK);
    SqliteDatabase old(raw);
    ASSERT_EQ(Exec(old.get(), kVersion1Journal), "");
    ASSERT_EQ(Exec(old.get(), kVersion1To3Steps), "");
    ASSERT_EQ(Exec(old.get(),
                   "ALTER TABLE records ADD COLUMN bay INTEGER CHECK (bay IS NULL OR bay > 0);"
                   "INSERT INTO records (id, station, kind, mac, started, attempt, bay, reason, "
                   "firmware_size) VALUES ('old-bay', 's2', 'burn', '02A0C5000042', 1765100020000, "
                   "1, 2, 'x''y', 7864);"
                   "INSERT INTO records (id, station, kind, mac, started, reason) VALUES "
                   "('old-scrap', 's2', 'scrap', '02A0C5000043', 1765100030000, 'torn');"
                   "PRAGMA user_version = 4;"),
              "");
    before = rows(old.get());
  }
  auto journal = Open();
  ASSERT_TRUE(journal);
  sqlite3* db = journal->database();
  EXPECT_EQ(rows(db), before);

  ASSERT_TRUE(journal->Finish("old-open", {Outcome::kSuccess, 1765100014000, 1000, 3000, true, 0}).ok());
  JournalRecord printed;
  printed.kind = RecordKind::kLabel;
  printed.station = "s1";
  printed.mac = "02A0C5000041";
  printed.printer = "dir:labels";
  printed.started = 1765100015000;
  printed.bay = 2;
  JournalRecord verified = printed;
  verified.label_verified = true;
  ASSERT_TRUE(journal->Append(printed).ok());
  ASSERT_TRUE(journal->Append(verified).ok());
  EXPECT_EQ(printed.attempt, 0);
  // The claim ended with the old attempt's outcome: the MAC is burned, not held.
  JournalRecord again = Attempt("02A0C5000041");
  EXPECT_THAT(journal->Append(again).refusal, HasSubstr("02A0C5000041"));
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journal->Read({"02A0C5000041", {}, {}, {}}, &records).ok());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].kind, RecordKind::kLabel);
  EXPECT_EQ(records[1].printer, "dir:labels");
  EXPECT_FALSE(records[1].label_verified);
  EXPECT_EQ(records[2].label_verified, true);
  EXPECT_THAT(RecordJson(records[2]), HasSubstr("\"kind\":\"label\""));
  EXPECT_THAT(RecordJson(records[2]), EndsWith(",\"bay\":2,\"printer\":\"dir:labels\",\"label_verified\":true}"));

  EXPECT_THAT(Exec(db, "UPDATE records SET printer = 'tcp://x' WHERE kind = 'label'"),
              HasSubstr("never changed"));
  EXPECT_THAT(Exec(db, "UPDATE records SET bay = 3 WHERE id = 'old-bay'"), HasSubstr("never changed"));
  EXPECT_THAT(Exec(db, "DELETE FROM records WHERE id = 'old-scrap'"), HasSubstr("never deleted"));
  EXPECT_THAT(Exec(db, "INSERT INTO records (id, station, kind, mac, started) VALUES "
                       "('k', 's', 'sticker', 'm', 1)"),
              HasSubstr("CHECK"));
}

}  // namespace
}  // namespace stampwright
