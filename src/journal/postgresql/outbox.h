#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/pg_rows.h"
#include "journal/sqlite_journal.h"

namespace stampwright {

// A line station's local SQLite file: its records (an SqliteJournal), the queue of records the
// database has not confirmed, the marks of what it has, and the last copy of the station's
// leases with what the line burned inside them. Its own tables carry their own schema version
// (the records keep theirs in user_version), migrated forward on open.
class Outbox {
 public:
  static constexpr int kSchemaVersion = 1;

  // Opens or creates the file at path; null with the reason else (a newer layout is refused).
  static std::unique_ptr<Outbox> Open(const std::string& path, JournalStatus* status);

  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;
  ~Outbox();

  SqliteJournal& records() { return *records_; }

  // Record ids waiting for the database, oldest first (an id may repeat).
  const std::deque<std::string>& queue() const { return queue_; }
  void Enqueue(const std::string& id) { queue_.push_back(id); }
  void Dequeue(size_t count);

  // The database has the record (with its commit, its outcome as flagged), or refused it for
  // good: noted in the file now and then, not after every record (a restart before the note
  // sends those records again, which changes nothing).
  void Mark(const std::string& id, bool committed, bool finished);
  size_t Unmarked() const { return unmarked_.size(); }
  void PersistMarks();

  // synchronous=FULL or NORMAL (opened FULL); a checkpoint makes a NORMAL write durable.
  void Sync(bool full);
  bool SyncedFully() const { return full_; }
  std::optional<std::string> Checkpoint();

  // Replaces the lease copy in one transaction; false when it was not written.
  bool StoreLeases(const std::vector<MacLease>& leases, const std::vector<LeaseBurnedMac>& burned);
  // The stored leases, for station.
  std::vector<MacLease> Leases(const std::string& station);
  // mac lies in a stored lease that has not run out at now.
  bool Leased(int64_t mac, int64_t now);
  // Keeps in *burned the later of it and what the lease copy knows burned.
  JournalStatus LeaseBurned(const std::string& mac, std::optional<BurnedMac>* burned);
  // The outbox's own records, then the lease copy.
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned);

 private:
  explicit Outbox(std::unique_ptr<SqliteJournal> records) : records_(std::move(records)) {}
  sqlite3* db() const { return records_->database(); }
  SqliteDatabase& connection() { return records_->connection(); }

  std::unique_ptr<SqliteJournal> records_;
  std::deque<std::string> queue_;
  struct MarkRow {
    std::string id;
    bool committed, finished;
  };
  std::vector<MarkRow> unmarked_;
  bool full_ = true;
};

}  // namespace stampwright
