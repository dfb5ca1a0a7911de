#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/outbox.h"
#include "journal/postgresql/pg_central.h"
#include "journal/postgresql/pg_client.h"

namespace stampwright {

// A station's journal on a line: every record is written to the outbox first and forwarded in
// order, idempotently by its UUID, whenever the database answers; the station's live leases are
// kept there too, so that it keeps burning leased MACs while the database is away, also after a
// restart. Without the database, a MAC outside its leases is refused.
class PgStationJournal final : public Journal {
 public:
  // now and forward_hook are read at each use: they must outlive this journal.
  PgStationJournal(PgClient& client, PgCentral& central, std::unique_ptr<Outbox> outbox,
                   std::string station, const std::function<int64_t()>& now,
                   const std::function<void()>& forward_hook);

  JournalStatus Append(JournalRecord& record) override;
  JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override;
  JournalStatus Finish(const std::string& id, const AttemptEnd& end) override;
  JournalStatus CloseInterrupted(const std::string& station, int64_t now, int* closed) override;
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) override;
  JournalStatus Read(const RecordFilter& filter, std::vector<JournalRecord>* records) override;
  JournalStatus ReadOne(const std::string& id, std::optional<JournalRecord>* record) override;
  void Poll() override;
  JournalStatus ReadFlagged(std::vector<FlaggedRecord>* flagged) override;

  // The outbox's records: every change passes through them first, in a transaction of its own.
  SqliteJournal* LocalFile() override { return &outbox_->records(); }

  size_t Unforwarded() const { return outbox_->queue().size(); }
  bool ForwardAll();
  std::vector<MacLease> LocalLeases() { return outbox_->Leases(station_); }
  // Copies the station's live leases into the outbox; false when not done.
  bool FetchLeases();

 private:
  bool ForwardBatch(size_t limit);
  bool Leased(int64_t mac) { return outbox_->Leased(mac, now_()); }
  JournalStatus StoreAndForward(const std::function<JournalStatus()>& write, const std::string& id);

  PgClient& client_;
  PgCentral& central_;
  std::unique_ptr<Outbox> outbox_;
  std::string station_;
  const std::function<int64_t()>& now_;
  const std::function<void()>& forward_hook_;
  int64_t last_lease_fetch_ = 0;
};

}  // namespace stampwright
