#include "journal/postgresql/outbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "journal/old_journal_files.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The outbox's tables exactly as stations wrote them before they carried a version.
constexpr const char* kUnversionedTables = R"sql(
CREATE TABLE outbox_forwarded (id TEXT PRIMARY KEY, committed INTEGER NOT NULL,
                               finished INTEGER NOT NULL);
CREATE TABLE outbox_leases (id INTEGER PRIMARY KEY, first INTEGER NOT NULL,
                            last INTEGER NOT NULL, until INTEGER);
CREATE TABLE outbox_lease_burned (mac TEXT PRIMARY KEY, station TEXT NOT NULL,
                                  committed INTEGER NOT NULL);
)sql";

JournalRecord Burn(const std::string& mac, int64_t started) {
  JournalRecord record;
  record.station = "line-1";
  record.kind = RecordKind::kBurn;
  record.mac = mac;
  record.started = started;
  return record;
}

std::vector<std::string> Ids(const std::deque<std::string>& queue) { return {queue.begin(), queue.end()}; }

using OutboxTest = InTempDir;

TEST_F(OutboxTest, AnUnversionedOutboxMigratesKeepingItsQueueMarksAndLeases) {
  std::string sent_id, open_id, committed_id;
  {
    // Today's layout: the records journal, the three tables, one record the database has whole,
    // one it has without the commit noted since, one it never saw.
    JournalStatus status;
    auto records = SqliteJournal::Open("outbox.db", &status);
    ASSERT_TRUE(records) << status.error;
    char* message = nullptr;
    ASSERT_EQ(sqlite3_exec(records->database(), kUnversionedTables, nullptr, nullptr, &message),
              SQLITE_OK)
        << (message ? message : "");
    JournalRecord sent = Burn("02A0C5100001", 1000), committed = Burn("02A0C5100002", 2000),
                  open = Burn("02A0C5100003", 3000);
    ASSERT_TRUE(records->Append(sent).ok());
    ASSERT_TRUE(records->Finish(sent.id, {Outcome::kSuccess, 1500, {}, {}, {}, {}}).ok());
    ASSERT_TRUE(records->Append(committed).ok());
    ASSERT_TRUE(records->NoteCommit(committed.id, 2500).ok());
    ASSERT_TRUE(records->Append(open).ok());
    const std::string marks = "INSERT INTO outbox_forwarded VALUES ('" + sent.id + "', 0, 1), ('" +
                              committed.id + "', 0, 0);"
                              " INSERT INTO outbox_leases VALUES (7, 100, 199, NULL);"
                              " INSERT INTO outbox_lease_burned VALUES ('000000000096', 'line-2', 42)";
    ASSERT_EQ(sqlite3_exec(records->database(), marks.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sent_id = sent.id;
    committed_id = committed.id;
    open_id = open.id;
  }

  for (int opening = 0; opening < 2; ++opening) {  // the migration, then a plain reopen
    JournalStatus status;
    auto outbox = Outbox::Open("outbox.db", &status);
    ASSERT_TRUE(outbox) << status.error;
    EXPECT_THAT(Ids(outbox->queue()), ElementsAre(committed_id, open_id));
    const std::vector<MacLease> leases = outbox->Leases("line-1");
    ASSERT_EQ(leases.size(), 1u);
    EXPECT_EQ(leases[0].id, 7);
    EXPECT_TRUE(outbox->Leased(150, 0));
    EXPECT_FALSE(outbox->Leased(200, 0));
    std::optional<BurnedMac> burned;
    ASSERT_TRUE(outbox->FindBurned("000000000096", &burned).ok());
    ASSERT_TRUE(burned);
    EXPECT_EQ(burned->station, "line-2");
    // The records' own schema version is untouched by the outbox's.
    SqliteStatement versions;
    ASSERT_TRUE(versions.Prepare(outbox->records().database(),
                                 "SELECT (SELECT user_version FROM pragma_user_version),"
                                 " (SELECT group_concat(version) FROM outbox_schema)"));
    ASSERT_EQ(versions.Step(), SQLITE_ROW);
    EXPECT_EQ(versions.Int(0), kJournalSchemaVersion);
    EXPECT_EQ(versions.Text(1), std::to_string(Outbox::kSchemaVersion));
  }
}

// An outbox whose records are at version 3 (its own tables at version 1): the records gain the
// bay, what the database has not confirmed stays queued, and a new record keeps its bay.
TEST_F(OutboxTest, AVersion3OutboxGainsTheBayAndKeepsItsQueue) {
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open("outbox.db", &raw), SQLITE_OK);
    SqliteDatabase old(raw);
    for (const char* sql : {kVersion1Journal, kVersion1To3Steps, kUnversionedTables,
                            "CREATE TABLE outbox_schema (version INTEGER NOT NULL);"
                            " INSERT INTO outbox_schema VALUES (1);"
                            " INSERT INTO outbox_forwarded VALUES ('old-done', 1, 1)"}) {
      ASSERT_FALSE(old.Execute(sql)) << sql;
    }
  }
  JournalStatus status;
  auto outbox = Outbox::Open("outbox.db", &status);
  ASSERT_TRUE(outbox) << status.error;
  EXPECT_THAT(Ids(outbox->queue()), ElementsAre("old-open"));
  JournalRecord burn = Burn("02A0C5100010", 1765200000000);  // after the old ones
  burn.bay = 2;
  ASSERT_TRUE(outbox->records().Append(burn).ok());
  std::vector<JournalRecord> records;
  ASSERT_TRUE(outbox->records().Read({}, &records).ok());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_FALSE(records[1].bay);
  EXPECT_EQ(records[2].bay, 2);
  SqliteStatement versions;
  ASSERT_TRUE(versions.Prepare(outbox->records().database(),
                               "SELECT (SELECT user_version FROM pragma_user_version),"
                               " (SELECT group_concat(version) FROM outbox_schema)"));
  ASSERT_EQ(versions.Step(), SQLITE_ROW);
  EXPECT_EQ(versions.Int(0), kJournalSchemaVersion);
  EXPECT_EQ(versions.Text(1), std::to_string(Outbox::kSchemaVersion));
}

TEST_F(OutboxTest, MarksAndLeasesPersistAndANewerLayoutIsRefused) {
  std::string id;
  {
    JournalStatus status;
    auto outbox = Outbox::Open("outbox.db", &status);
    ASSERT_TRUE(outbox) << status.error;
    JournalRecord burn = Burn("02A0C5100001", 1000);
    ASSERT_TRUE(outbox->records().Append(burn).ok());
    id = burn.id;
    outbox->Enqueue(id);
    ASSERT_TRUE(outbox->StoreLeases({MacLease{3, "line-1", 10, 20, 5000, std::nullopt, 1}},
                                    {LeaseBurnedMac{"00000000000F", BurnedMac{"line-9", 77}}}));
    // A lease that has run out no longer counts.
    EXPECT_TRUE(outbox->Leased(15, 4999));
    EXPECT_FALSE(outbox->Leased(15, 5000));
    // The claim in the outbox refuses what the lease copy knows burned.
    JournalRecord burned_elsewhere = Burn("00000000000F", 2000);
    JournalStatus refused = outbox->records().Append(burned_elsewhere);
    EXPECT_THAT(refused.refusal, HasSubstr("line-9"));
    outbox->Mark(id, false, false);
  }  // closing notes the mark
  {
    JournalStatus status;
    auto outbox = Outbox::Open("outbox.db", &status);
    ASSERT_TRUE(outbox) << status.error;
    EXPECT_TRUE(outbox->queue().empty());
    EXPECT_EQ(outbox->Leases("line-1").size(), 1u);
    ASSERT_EQ(sqlite3_exec(outbox->records().database(), "UPDATE outbox_schema SET version = 99",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  JournalStatus status;
  EXPECT_FALSE(Outbox::Open("outbox.db", &status));
  EXPECT_THAT(status.error, HasSubstr("newer"));
}

}  // namespace
}  // namespace stampwright
