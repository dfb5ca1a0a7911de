#include "journal/postgresql/pg_station_journal.h"

#include <cstdio>
#include <unordered_set>

#include "journal/guard.h"

namespace stampwright {
namespace {

// How old the fetched leases may get.
constexpr int64_t kLeaseRefreshMs = 60000;
// Records forwarded per database transaction.
constexpr size_t kForwardBatch = 500;

}  // namespace

PgStationJournal::PgStationJournal(PgClient& client, PgCentral& central,
                                   std::unique_ptr<Outbox> outbox, std::string station,
                                   const std::function<int64_t()>& now,
                                   const std::function<void()>& forward_hook)
    : client_(client),
      central_(central),
      outbox_(std::move(outbox)),
      station_(std::move(station)),
      now_(now),
      forward_hook_(forward_hook) {}

void PgStationJournal::Poll() {
  // The liveness probe and the reconnect; a reconnect fetches the leases itself.
  central_.Poll();
  if (!client_.Ok()) return;
  if (now_() - last_lease_fetch_ >= kLeaseRefreshMs) FetchLeases();
  if (!outbox_->queue().empty()) ForwardAll();
  outbox_->PersistMarks();
}

bool PgStationJournal::FetchLeases() {
  std::vector<MacLease> leases;
  std::vector<LeaseBurnedMac> burned;
  if (!central_.FetchLeases(station_, &leases, &burned)) return false;
  if (!outbox_->StoreLeases(leases, burned)) return false;
  last_lease_fetch_ = now_();
  return true;
}

JournalStatus PgStationJournal::Append(JournalRecord& record) {
  if (record.id.empty()) record.id = NewRecordId();
  // Scraps and releases are a supervisor's word, given to the database itself, never queued.
  if (record.kind == RecordKind::kScrap || record.kind == RecordKind::kRelease) {
    return central_.Insert(record);
  }
  // A burn about to send its first module frame claims its MAC first: in the database while it
  // answers, else in the outbox when the MAC is this station's by lease; else refused.
  if (record.kind == RecordKind::kBurn && !record.outcome) {
    const std::optional<int64_t> mac = MacNumber(record.mac);
    if (!mac) return JournalStatus::Error("the MAC '" + record.mac + "' is not 12 hex digits");
    if (!client_.Ok()) client_.Reconnect();
    // Older records first, so that the database receives them in order.
    if (client_.Ok() && ForwardAll()) {
      JournalStatus claim = central_.Claim(record, *mac, station_);
      if (!claim.ok() && !claim.unavailable) return claim;
      if (claim.unavailable && !Leased(*mac)) return claim;
      if (claim.ok()) {
        // In the database already: the outbox keeps its copy, with nothing left to send, and
        // need not wait for the disk.
        outbox_->Sync(false);
        JournalStatus stored =
            outbox_->records().Append(record, SqliteJournal::ClaimCheck::kDecidedElsewhere);
        if (stored.ok()) outbox_->Mark(record.id, false, false);
        return stored;
      }
    } else if (!Leased(*mac)) {
      return client_.Unavailable();
    }
  }
  return StoreAndForward([&] { return outbox_->records().Append(record); }, record.id);
}

// While the database answers, a record it takes at once is durable there, and the outbox's copy
// need not wait for the disk; when it did not take it, the outbox is made durable before the
// call returns (a checkpoint syncs the log). Without the database, every write waits for the
// disk.
JournalStatus PgStationJournal::StoreAndForward(const std::function<JournalStatus()>& write,
                                                const std::string& id) {
  outbox_->Sync(!client_.Ok());
  JournalStatus stored = write();
  if (!stored.ok()) return stored;
  outbox_->Enqueue(id);
  if (!ForwardAll() && !outbox_->SyncedFully()) {
    if (auto error = outbox_->Checkpoint()) {
      return JournalStatus::Error("writing the outbox: " + *error);
    }
  }
  return {};
}

JournalStatus PgStationJournal::NoteCommit(const std::string& id, int64_t utc_ms) {
  // Durable here: the commit note reaches the database only with the outcome.
  outbox_->Sync(true);
  JournalStatus stored = outbox_->records().NoteCommit(id, utc_ms);
  if (!stored.ok()) return stored;
  // The commit travels with the outcome: until then the attempt's open claim keeps every other
  // station off the MAC, and a restart forwards it from the outbox.
  outbox_->Enqueue(id);
  return {};
}

JournalStatus PgStationJournal::Finish(const std::string& id, const AttemptEnd& end) {
  return StoreAndForward(
      [&] {
        return outbox_->records().Finish(id, end);
      },
      id);
}

JournalStatus PgStationJournal::CloseInterrupted(const std::string& station, int64_t now,
                                                 int* closed) {
  // The outbox first: a station restarted during an outage closes what it knows of.
  std::vector<JournalRecord> open;
  RecordFilter mine;
  mine.station = station;
  JournalStatus read = outbox_->records().Read(mine, &open);
  if (!read.ok()) return read;
  outbox_->Sync(true);
  JournalStatus status = outbox_->records().CloseInterrupted(station, now, closed);
  if (!status.ok()) return status;
  for (const JournalRecord& record : open) {
    if (!record.outcome && (record.kind == RecordKind::kBurn || record.kind == RecordKind::kFirmware)) {
      outbox_->Enqueue(record.id);
    }
  }
  // Then what only the database still holds open, once everything local is there.
  if (ForwardAll()) central_.CloseInterruptedOf(station, now, closed);
  return {};
}

bool PgStationJournal::ForwardAll() {
  while (!outbox_->queue().empty()) {
    if (!client_.Ok()) return false;
    if (!ForwardBatch(kForwardBatch)) return false;
  }
  return true;
}

bool PgStationJournal::ForwardBatch(size_t limit) {
  // One batch: the first distinct ids of the queue, each sent whole (record, commit, outcome).
  const std::deque<std::string>& queue = outbox_->queue();
  std::vector<std::string> ids;
  std::unordered_set<std::string> seen;
  size_t taken = 0;
  for (; taken < queue.size() && ids.size() < limit; ++taken) {
    if (seen.insert(queue[taken]).second) ids.push_back(queue[taken]);
  }
  std::vector<JournalRecord> records;
  for (const std::string& id : ids) {
    std::optional<JournalRecord> record;
    if (!outbox_->records().ReadOne(id, &record).ok()) return false;
    if (record) records.push_back(std::move(*record));
  }
  std::string refusal;
  switch (central_.Forward(records, forward_hook_, &refusal)) {
    case PgCentral::Sent::kNothing:
      return false;
    case PgCentral::Sent::kRefused:
      // Not a lost connection: the batch is sent again one record at a time, and a record the
      // database refuses on its own is set aside (it stays in the outbox, and stderr says so)
      // instead of holding up every record after it.
      if (records.size() > 1 || limit > 1) return ForwardBatch(1);
      std::fprintf(stderr, "journal: the database refused record %s: %s; it stays in the outbox\n",
                   ids.front().c_str(), refusal.c_str());
      for (const JournalRecord& r : records) outbox_->Mark(r.id, true, true);
      outbox_->PersistMarks();
      outbox_->Dequeue(taken);
      return true;
    case PgCentral::Sent::kAll:
      break;
  }
  for (const JournalRecord& r : records) {
    outbox_->Mark(r.id, r.committed.has_value(), r.outcome.has_value());
  }
  if (outbox_->Unmarked() >= kForwardBatch) outbox_->PersistMarks();
  outbox_->Dequeue(taken);
  return true;
}

JournalStatus PgStationJournal::FindBurned(const std::string& mac,
                                           std::optional<BurnedMac>* burned) {
  burned->reset();
  if (!client_.Ok()) client_.Reconnect();
  // The station's own records reach the database before it is asked; while it is away, a MAC
  // of the station's leases is answered from the outbox.
  JournalStatus status = ForwardAll() ? central_.FindBurned(mac, burned) : client_.Unavailable();
  if (!status.unavailable) return status;
  const std::optional<int64_t> number = MacNumber(mac);
  if (number && Leased(*number)) return outbox_->FindBurned(mac, burned);
  return status;
}

JournalStatus PgStationJournal::Read(const RecordFilter& filter,
                                     std::vector<JournalRecord>* records) {
  if (!client_.Ok()) client_.Reconnect();
  // While the database is away the station reads what it knows: its own outbox.
  if (!ForwardAll()) return outbox_->records().Read(filter, records);
  const size_t before = records->size();
  JournalStatus status = central_.Read(filter, records);
  if (status.unavailable) {
    records->resize(before);
    return outbox_->records().Read(filter, records);
  }
  return status;
}

JournalStatus PgStationJournal::ReadOne(const std::string& id,
                                        std::optional<JournalRecord>* record) {
  record->reset();
  JournalStatus local = outbox_->records().ReadOne(id, record);
  if (!local.ok() || *record) return local;
  return central_.ReadOne(id, record);
}

JournalStatus PgStationJournal::ReadFlagged(std::vector<FlaggedRecord>* flagged) {
  if (!client_.Ok()) client_.Reconnect();
  return central_.ReadFlagged(flagged);
}

}  // namespace stampwright
