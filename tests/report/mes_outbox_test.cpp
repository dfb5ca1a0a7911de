#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal/sqlite_journal.h"
#include "report/mes_outbox.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

class MesOutboxTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    JournalStatus status;
    journal_ = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(journal_) << status.error;
    MesEndpoint endpoint;
    endpoint.handle = "Stampwright.Station.T1";
    ASSERT_FALSE(AttachMesOutbox(*journal_, endpoint));
    std::string error;
    reader_ = MesOutboxReader::Open("journal.db", &error);
    ASSERT_TRUE(reader_) << error;
  }

  JournalRecord Attempt(const std::string& mac) {
    JournalRecord record;
    record.station = "T1";
    record.mac = mac;
    record.started = 1'765'000'000'000;
    EXPECT_TRUE(journal_->Append(record).ok());
    return record;
  }

  std::vector<std::string> Waiting() {
    std::vector<MesOutboxRow> rows;
    EXPECT_FALSE(reader_->Next(0, 1000, &rows));
    std::vector<std::string> names;
    for (const auto& row : rows) names.push_back(row.message_name.substr(row.message_name.rfind('.') + 1));
    return names;
  }

  std::unique_ptr<SqliteJournal> journal_;
  std::unique_ptr<MesOutboxReader> reader_;
};

// Each change queues its messages with itself; the publisher's side reads them in order, removes
// what was accepted and keeps the rest.
TEST_F(MesOutboxTest, ChangesQueueTheirMessagesInOrderUntilRemoved) {
  const JournalRecord burn = Attempt("02A0C5100001");
  ASSERT_TRUE(journal_->NoteCommit(burn.id, burn.started + 400).ok());
  ASSERT_TRUE(journal_->Finish(burn.id, {Outcome::kSuccess, burn.started + 3000, 400, 2600, true, 0}).ok());
  const JournalRecord open = Attempt("02A0C5100002");
  int closed = 0;
  ASSERT_TRUE(journal_->CloseInterrupted("T1", burn.started + 5000, &closed).ok());
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(Waiting(), (std::vector<std::string>{"WorkStarted", "UnitsPersonalized", "UnitsTested",
                                                 "WorkCompleted", "WorkStarted", "UnitsTested",
                                                 "WorkCompleted"}));
  std::vector<MesOutboxRow> rows;
  ASSERT_FALSE(reader_->Next(0, 10, &rows));
  EXPECT_NE(rows.back().envelope.find("\"Result\":\"Aborted\""), std::string::npos);
  EXPECT_NE(rows.back().envelope.find(open.id), std::string::npos);

  ASSERT_FALSE(reader_->Remove({rows[0].seq, rows[1].seq}, rows[1].message_name, 1'765'000'009'000));
  ASSERT_FALSE(reader_->NoteError("amqp:unauthorized-access: Authentication failed", 1'765'000'009'500));
  EXPECT_EQ(Waiting().size(), 5u);
  std::vector<MesOutboxRow> after;
  ASSERT_FALSE(reader_->Next(rows[1].seq, 10, &after));
  EXPECT_EQ(after.front().seq, rows[2].seq);
  MesOutboxStatus status;
  ASSERT_FALSE(ReadMesOutboxStatus("journal.db", &status));
  EXPECT_EQ(status.backlog, 5);
  EXPECT_EQ(status.oldest_waiting, rows[2].created);
  EXPECT_EQ(status.last_sent, 1'765'000'009'000);
  EXPECT_EQ(status.last_sent_name, "CFX.Production.Assembly.UnitsPersonalized");
  EXPECT_EQ(status.last_error, "amqp:unauthorized-access: Authentication failed");
}

// A message that cannot be queued fails the change that causes it: neither is written.
TEST_F(MesOutboxTest, AChangeWhoseMessageCannotBeQueuedIsNotWritten) {
  const JournalRecord burn = Attempt("02A0C5100001");
  ASSERT_FALSE(journal_->connection().Execute(
      "CREATE TRIGGER refuse BEFORE INSERT ON mes_outbox BEGIN SELECT RAISE(ABORT, 'disk says no'); END"));
  const JournalStatus noted = journal_->NoteCommit(burn.id, burn.started + 400);
  EXPECT_NE(noted.error.find("disk says no"), std::string::npos) << noted.error;
  JournalRecord other;
  other.station = "T1";
  other.mac = "02A0C5100003";
  other.started = burn.started;
  EXPECT_FALSE(journal_->Append(other).ok());
  std::optional<JournalRecord> read;
  ASSERT_TRUE(journal_->ReadOne(burn.id, &read).ok());
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->committed);
  ASSERT_TRUE(journal_->ReadOne(other.id, &read).ok());
  EXPECT_FALSE(read);
  EXPECT_EQ(Waiting(), std::vector<std::string>{"WorkStarted"});
}

TEST_F(MesOutboxTest, ANewerOutboxLayoutIsRefused) {
  ASSERT_FALSE(journal_->connection().Execute("UPDATE mes_outbox_schema SET version = 99"));
  std::string error;
  EXPECT_FALSE(MesOutboxReader::Open("journal.db", &error));
  EXPECT_NE(error.find("newer than this program's"), std::string::npos) << error;
  MesOutboxStatus status;
  EXPECT_TRUE(ReadMesOutboxStatus("missing.db", &status));
}

}  // namespace
}  // namespace stampwright
