#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/pg_connection.h"
#include "journal/sqlite_journal.h"

namespace stampwright {

// A MAC range a station holds, first and last inclusive, as 48-bit numbers.
struct MacLease {
  int64_t id = 0;
  std::string station;
  int64_t first = 0;
  int64_t last = 0;
  std::optional<int64_t> until;    // UTC ms; none: until revoked
  std::optional<int64_t> revoked;  // UTC ms
  int64_t granted = 0;
};

// The journal of a line of stations in one PostgreSQL database. The database decides: one open
// claim per MAC across the line, leases that never overlap, records appended and never changed.
//
// A station's journal also keeps a local SQLite outbox beside it: every record is written there
// first and forwarded in order, idempotently by its UUID, whenever the database answers; the
// station's live leases are kept there too, so that it keeps burning leased MACs while the
// database is away, also after a restart. Without the database, a MAC outside its leases is
// refused ("Journal unavailable: " and libpq's message): the station never burns what it cannot
// prove unique.
class PgJournal final : public Journal {
 public:
  // A station's journal. Opens even when the database cannot be reached; null only when the
  // outbox cannot be opened or the database's schema is missing or newer than this program's.
  static std::unique_ptr<PgJournal> OpenStation(const std::string& target, const std::string& station,
                                                const std::string& outbox_path,
                                                JournalStatus* status);
  // The database alone, for the tool: no outbox, and it must answer now.
  static std::unique_ptr<PgJournal> OpenDirect(const std::string& target, JournalStatus* status);

  ~PgJournal() override;

  JournalStatus Append(JournalRecord& record) override;
  JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override;
  JournalStatus Finish(const std::string& id, Outcome outcome, int64_t finished,
                       std::optional<int64_t> burn_ms, std::optional<int64_t> return_ms,
                       std::optional<bool> verified,
                       std::optional<int64_t> other_bytes_changed) override;
  JournalStatus CloseInterrupted(const std::string& station, int64_t now, int* closed) override;
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) override;
  JournalStatus Read(const RecordFilter& filter, std::vector<JournalRecord>* records) override;
  JournalStatus ReadOne(const std::string& id, std::optional<JournalRecord>* record) override;
  void Poll() override;
  void SetConnectionObserver(ConnectionObserver observer) override {
    observer_ = std::move(observer);
  }

  bool Connected() const { return connection_.Ok(); }
  // Records in the outbox not yet confirmed by the database.
  size_t Unforwarded() const { return queue_.size(); }
  // Forwards everything waiting, in order; false when the database did not take it all.
  bool ForwardAll();
  // This station's live leases as last fetched (kept in the outbox).
  std::vector<MacLease> LocalLeases();

  // Supervisor's work on the database (the tool).
  JournalStatus GrantLease(const std::string& station, int64_t first, int64_t count,
                           std::optional<int64_t> until, MacLease* granted);
  JournalStatus ListLeases(std::vector<MacLease>* leases);
  JournalStatus RevokeLease(int64_t id);

  JournalStatus ReadFlagged(std::vector<FlaggedRecord>* flagged) override;

  // Clock for lease expiry and reconnect pacing; tests may replace it.
  std::function<int64_t()> now = UtcNowMs;
  // Test seam: runs inside a forwarding transaction, its MACs locked, just before it commits.
  std::function<void()> forward_hook;

 private:
  PgJournal() = default;
  bool Reconnect();
  void Lost(const std::string& message);
  // The result of a statement on the database; a connection that broke under it is noted lost.
  PgResult Run(const PgStatement& statement, std::vector<std::optional<std::string>> params);
  JournalStatus Unavailable() const;
  JournalStatus ClaimOnline(const JournalRecord& record, int64_t mac);
  bool FetchLeases();
  bool Leased(int64_t mac);
  bool ForwardBatch(size_t limit);
  void PersistMarks();
  void LocalSync(bool full);
  JournalStatus StoreAndForward(const std::function<JournalStatus()>& write, const std::string& id);
  JournalStatus FinishDirect(const std::string& id, Outcome outcome, int64_t finished,
                             std::optional<int64_t> burn_ms, std::optional<int64_t> return_ms,
                             std::optional<bool> verified, std::optional<int64_t> other_bytes_changed);
  JournalStatus LeaseBurned(const std::string& mac, std::optional<BurnedMac>* burned);
  JournalStatus LocalFindBurned(const std::string& mac, std::optional<BurnedMac>* burned);
  JournalStatus ReadCentral(const RecordFilter& filter, std::vector<JournalRecord>* records);
  void Enqueue(const std::string& id);

  std::string target_;
  std::string station_;
  PgConnection connection_;
  std::string last_error_;
  bool announced_lost_ = false;
  int64_t last_attempt_ = 0;
  int64_t last_lease_fetch_ = 0;
  ConnectionObserver observer_;

  std::unique_ptr<SqliteJournal> outbox_;  // null for the tool
  bool local_full_ = true;                 // the outbox's synchronous setting (opened FULL)
  std::deque<std::string> queue_;          // record ids to forward, oldest first
  struct Mark {
    std::string id;
    bool committed, finished;
  };
  std::vector<Mark> unmarked_;  // forwarded, not yet noted in the outbox
};

}  // namespace stampwright
