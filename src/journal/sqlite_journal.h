#pragma once

#include <functional>
#include <memory>
#include <string>

#include "journal/journal.h"
#include "journal/sqlite_handle.h"

namespace stampwright {

// The schema version this program writes; a journal of a newer one is refused.
inline constexpr int kJournalSchemaVersion = 5;

// The journal of one station in one SQLite file: WAL with synchronous=FULL, so a record is on
// the disk when a call returns; append-only enforced by triggers in the file itself.
class SqliteJournal final : public Journal {
 public:
  // Opens (creating it if missing) and migrates the file at path; null with the reason else.
  // shown: the name the reason gives for the file (default: path), the one the operator typed.
  static std::unique_ptr<SqliteJournal> Open(const std::string& path, JournalStatus* status,
                                             const std::string& shown = {});

  // Whether a burn's claim checks that its MAC is not burned: always, but where a line's database
  // took the claim already and this file only keeps a copy.
  enum class ClaimCheck { kFull, kDecidedElsewhere };
  JournalStatus Append(JournalRecord& record) override { return Append(record, ClaimCheck::kFull); }
  JournalStatus Append(JournalRecord& record, ClaimCheck check);
  JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override;
  JournalStatus Finish(const std::string& id, const AttemptEnd& end) override;
  JournalStatus CloseInterrupted(const std::string& station, int64_t now, int* closed) override;
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) override;
  JournalStatus Read(const RecordFilter& filter, std::vector<JournalRecord>* records) override;
  JournalStatus ReadOne(const std::string& id, std::optional<JournalRecord>* record) override;

  SqliteJournal* LocalFile() override { return this; }

  sqlite3* database() const { return db_.get(); }
  // The connection itself, for tables kept beside the records in the same file (the outbox's).
  SqliteDatabase& connection() { return db_; }

  // Asked inside a claim's transaction when this file knows the MAC as unburned: what else knows
  // it burned (a line station's last copy of the central journal). Reads only.
  std::function<JournalStatus(const std::string& mac, std::optional<BurnedMac>* burned)>
      burned_elsewhere;

  // Told of each change inside the change's own transaction, before it commits, with the record
  // as it now stands: what the observer writes to this file (the MES outbox) commits or rolls
  // back with the change, and an error it returns fails the change. None: no transaction added.
  using ChangeObserver = std::function<JournalStatus(JournalChange change, const JournalRecord& record)>;
  void SetChangeObserver(ChangeObserver observer) { on_change_ = std::move(observer); }

 private:
  explicit SqliteJournal(SqliteDatabase db) : db_(std::move(db)) {}
  JournalStatus Prepare();
  JournalStatus Failed(const char* what) const;
  JournalStatus CheckClaim(const JournalRecord& record, ClaimCheck check);
  JournalStatus ReadRows(SqliteStatement& statement, std::vector<JournalRecord>* records);

  SqliteDatabase db_;
  SqliteStatement count_attempts_, insert_, open_claim_, insert_claim_, note_commit_, finish_, close_interrupted_;
  SqliteStatement last_commit_, release_after_, select_, select_by_mac_, select_one_;

  // The change observer's part (sqlite_journal_changes.cpp): the record as it now stands, told.
  JournalStatus TellChange(JournalChange change, const std::string& id);
  JournalStatus OpenAttempts(const std::string& station, std::vector<std::string>* ids);
  SqliteStatement open_attempts_;
  // Last, so that it goes first: what it holds may hold statements of this connection.
  ChangeObserver on_change_;
};

}  // namespace stampwright
