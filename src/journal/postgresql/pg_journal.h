#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/lease_admin.h"
#include "journal/postgresql/pg_central.h"
#include "journal/postgresql/pg_client.h"
#include "journal/postgresql/pg_rows.h"
#include "journal/postgresql/pg_station_journal.h"

namespace stampwright {

// The journal of a line of stations in one PostgreSQL database. The database decides: one open
// claim per MAC across the line, leases that never overlap, records appended and never changed.
//
// A station's journal also keeps a local SQLite outbox beside it (PgStationJournal): every
// record is written there first and forwarded in order whenever the database answers, and its
// live leases keep it burning leased MACs while the database is away. Without the database, a
// MAC outside its leases is refused ("Journal unavailable: " and libpq's message): the station
// never burns what it cannot prove unique. The tool's journal is the database alone (PgCentral).
class PgJournal final : public Journal {
 public:
  // A station's journal. Opens even when the database cannot be reached; null only when the
  // outbox cannot be opened or the database's schema is missing or newer than this program's.
  static std::unique_ptr<PgJournal> OpenStation(const std::string& target, const std::string& station,
                                                const std::string& outbox_path,
                                                JournalStatus* status);
  // The database alone, for the tool: no outbox, and it must answer now.
  static std::unique_ptr<PgJournal> OpenDirect(const std::string& target, JournalStatus* status);

  JournalStatus Append(JournalRecord& record) override { return mode_->Append(record); }
  JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override {
    return mode_->NoteCommit(id, utc_ms);
  }
  JournalStatus Finish(const std::string& id, const AttemptEnd& end) override {
    return mode_->Finish(id, end);
  }
  JournalStatus CloseInterrupted(const std::string& station, int64_t now_ms, int* closed) override {
    return mode_->CloseInterrupted(station, now_ms, closed);
  }
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) override {
    return mode_->FindBurned(mac, burned);
  }
  JournalStatus Read(const RecordFilter& filter, std::vector<JournalRecord>* records) override {
    return mode_->Read(filter, records);
  }
  JournalStatus ReadOne(const std::string& id, std::optional<JournalRecord>* record) override {
    return mode_->ReadOne(id, record);
  }
  void Poll() override { mode_->Poll(); }
  JournalStatus ReadFlagged(std::vector<FlaggedRecord>* flagged) override {
    return mode_->ReadFlagged(flagged);
  }
  SqliteJournal* LocalFile() override { return mode_->LocalFile(); }
  JournalStatus LiveLeases(const std::string& station, int64_t at,
                           std::vector<std::pair<int64_t, int64_t>>* ranges) override;
  void SetConnectionObserver(ConnectionObserver observer) override {
    client_.SetObserver(std::move(observer));
  }

  bool Connected() const { return client_.Ok(); }
  // Records in the outbox not yet confirmed by the database (none for the tool).
  size_t Unforwarded() const { return station_ ? station_->Unforwarded() : 0; }
  // Forwards everything waiting, in order; false when the database did not take it all.
  bool ForwardAll() { return !station_ || station_->ForwardAll(); }
  // This station's live leases as last fetched (kept in the outbox).
  std::vector<MacLease> LocalLeases() {
    return station_ ? station_->LocalLeases() : std::vector<MacLease>{};
  }

  // Supervisor's work on the database (the tool).
  JournalStatus GrantLease(const std::string& station, int64_t first, int64_t count,
                           std::optional<int64_t> until, MacLease* granted) {
    return leases_.Grant(station, first, count, until, granted);
  }
  JournalStatus ListLeases(std::vector<MacLease>* leases) { return leases_.List(leases); }
  JournalStatus RevokeLease(int64_t id) { return leases_.Revoke(id); }

  // Clock for lease expiry and reconnect pacing; tests may replace it.
  std::function<int64_t()> now = UtcNowMs;
  // Test seam: runs inside a forwarding transaction, its MACs locked, just before it commits.
  std::function<void()> forward_hook;

 private:
  explicit PgJournal(const std::string& target)
      : client_(target, now), central_(client_), leases_(client_) {}

  PgClient client_;
  PgCentral central_;
  LeaseAdmin leases_;
  std::unique_ptr<PgStationJournal> station_;  // null for the tool
  // The one place the two modes part: the station's journal, or the database alone.
  Journal* mode_ = &central_;
};

}  // namespace stampwright
