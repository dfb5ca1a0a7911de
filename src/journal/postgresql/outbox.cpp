#include "journal/postgresql/outbox.h"

#include <array>

#include "journal/transaction.h"

namespace stampwright {
namespace {

// The outbox's own tables, one step per version, beside the records the SQLite journal keeps.
// The first step is the layout written before the version existed, so such files migrate to it
// unchanged.
constexpr std::array<const char*, Outbox::kSchemaVersion> kMigrations = {
    R"sql(
CREATE TABLE IF NOT EXISTS outbox_forwarded (id TEXT PRIMARY KEY, committed INTEGER NOT NULL,
                                             finished INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS outbox_leases (id INTEGER PRIMARY KEY, first INTEGER NOT NULL,
                                          last INTEGER NOT NULL, until INTEGER);
CREATE TABLE IF NOT EXISTS outbox_lease_burned (mac TEXT PRIMARY KEY, station TEXT NOT NULL,
                                                committed INTEGER NOT NULL);
)sql",
};

// The records' schema owns user_version; the outbox's tables keep theirs in a one-row table.
constexpr const char* kVersionTable =
    "CREATE TABLE IF NOT EXISTS outbox_schema (version INTEGER NOT NULL)";

std::optional<std::string> Migrate(SqliteDatabase& database) {
  sqlite3* db = database.get();
  Transaction transaction(database, "BEGIN IMMEDIATE");
  if (auto error = transaction.Begin()) return error;
  if (auto error = database.Execute(kVersionTable)) return error;
  int version = 0;
  {
    SqliteStatement query;
    if (!query.Prepare(db, "SELECT max(version) FROM outbox_schema")) return database.Message();
    if (query.Step() == SQLITE_ROW) version = static_cast<int>(query.OptionalInt(0).value_or(0));
  }
  if (version > Outbox::kSchemaVersion) {
    return "schema version " + std::to_string(version) + ", newer than this program's " +
           std::to_string(Outbox::kSchemaVersion) + "; use a newer program";
  }
  for (int step = version; step < Outbox::kSchemaVersion; ++step) {
    if (auto error = database.Execute(kMigrations[static_cast<size_t>(step)])) {
      return "migrating to version " + std::to_string(step + 1) + ": " + *error;
    }
  }
  if (version != Outbox::kSchemaVersion) {
    const std::string set = "DELETE FROM outbox_schema; INSERT INTO outbox_schema (version) VALUES (" +
                            std::to_string(Outbox::kSchemaVersion) + ")";
    if (auto error = database.Execute(set.c_str())) return error;
  }
  return transaction.Commit();
}

}  // namespace

std::unique_ptr<Outbox> Outbox::Open(const std::string& path, JournalStatus* status) {
  std::unique_ptr<SqliteJournal> records = SqliteJournal::Open(path, status);
  if (!records) return nullptr;
  std::unique_ptr<Outbox> outbox(new Outbox(std::move(records)));
  if (auto error = Migrate(outbox->connection())) {
    *status = JournalStatus::Error("outbox '" + path + "': " + *error);
    return nullptr;
  }
  // A claim taken in the outbox (a leased MAC, the database away) also refuses what the last
  // central copy knows burned.
  Outbox* self = outbox.get();
  outbox->records_->burned_elsewhere = [self](const std::string& mac,
                                              std::optional<BurnedMac>* burned) {
    return self->LeaseBurned(mac, burned);
  };
  // Everything the database has not confirmed, oldest first: after a restart too.
  SqliteStatement pending;
  if (!pending.Prepare(outbox->db(),
                       "SELECT r.id FROM records r LEFT JOIN outbox_forwarded f ON f.id = r.id"
                       " WHERE f.id IS NULL OR (r.committed IS NOT NULL AND f.committed = 0)"
                       " OR (r.outcome IS NOT NULL AND f.finished = 0) ORDER BY r.seq")) {
    *status = JournalStatus::Error("outbox '" + path + "': " + outbox->connection().Message());
    return nullptr;
  }
  while (pending.Step() == SQLITE_ROW) outbox->queue_.push_back(pending.Text(0));
  *status = {};
  return outbox;
}

Outbox::~Outbox() { PersistMarks(); }

void Outbox::Dequeue(size_t count) {
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
}

void Outbox::Mark(const std::string& id, bool committed, bool finished) {
  unmarked_.push_back({id, committed, finished});
}

void Outbox::PersistMarks() {
  if (unmarked_.empty()) return;
  SqliteDatabase& database = connection();
  Transaction transaction(database, "BEGIN IMMEDIATE");
  if (transaction.Begin()) return;
  SqliteStatement mark;
  if (mark.Prepare(db(), "INSERT OR REPLACE INTO outbox_forwarded (id, committed, finished)"
                         " VALUES (?1, ?2, ?3)")) {
    for (const MarkRow& m : unmarked_) {
      mark.BindText(1, m.id);
      mark.BindInt(2, int64_t{m.committed});
      mark.BindInt(3, int64_t{m.finished});
      mark.Step();
      mark.Reset();
    }
  }
  if (!transaction.Commit()) unmarked_.clear();
}

void Outbox::Sync(bool full) {
  if (full_ == full) return;
  connection().Execute(full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
  full_ = full;
}

std::optional<std::string> Outbox::Checkpoint() {
  return connection().Execute("PRAGMA wal_checkpoint(FULL)");
}

bool Outbox::StoreLeases(const std::vector<MacLease>& leases,
                         const std::vector<LeaseBurnedMac>& burned) {
  SqliteDatabase& database = connection();
  Transaction transaction(database, "BEGIN IMMEDIATE");
  if (transaction.Begin()) return false;
  bool ok = !database.Execute("DELETE FROM outbox_leases") &&
            !database.Execute("DELETE FROM outbox_lease_burned");
  SqliteStatement insert_lease, insert_burned;
  ok = ok &&
       insert_lease.Prepare(db(), "INSERT INTO outbox_leases (id, first, last, until)"
                                  " VALUES (?1, ?2, ?3, ?4)") &&
       insert_burned.Prepare(db(), "INSERT INTO outbox_lease_burned (mac, station, committed)"
                                   " VALUES (?1, ?2, ?3)");
  for (size_t i = 0; ok && i < leases.size(); ++i) {
    insert_lease.BindInt(1, leases[i].id);
    insert_lease.BindInt(2, leases[i].first);
    insert_lease.BindInt(3, leases[i].last);
    insert_lease.BindInt(4, leases[i].until);
    ok = insert_lease.Step() == SQLITE_DONE;
    insert_lease.Reset();
  }
  for (size_t i = 0; ok && i < burned.size(); ++i) {
    insert_burned.BindText(1, burned[i].mac);
    insert_burned.BindText(2, burned[i].burned.station);
    insert_burned.BindInt(3, burned[i].burned.committed);
    ok = insert_burned.Step() == SQLITE_DONE;
    insert_burned.Reset();
  }
  return ok && !transaction.Commit();
}

std::vector<MacLease> Outbox::Leases(const std::string& station) {
  std::vector<MacLease> leases;
  SqliteStatement select;
  if (!select.Prepare(db(), "SELECT id, first, last, until FROM outbox_leases ORDER BY first")) {
    return leases;
  }
  while (select.Step() == SQLITE_ROW) {
    leases.push_back(MacLease{select.Int(0), station, select.Int(1), select.Int(2),
                              select.OptionalInt(3), std::nullopt, 0});
  }
  return leases;
}

bool Outbox::Leased(int64_t mac, int64_t now) {
  for (const MacLease& lease : Leases({})) {
    if (mac >= lease.first && mac <= lease.last && (!lease.until || *lease.until > now)) return true;
  }
  return false;
}

JournalStatus Outbox::LeaseBurned(const std::string& mac, std::optional<BurnedMac>* burned) {
  SqliteStatement select;
  if (!select.Prepare(db(), "SELECT station, committed FROM outbox_lease_burned WHERE mac = ?1")) {
    return JournalStatus::Error("reading the outbox: " + connection().Message());
  }
  select.BindText(1, mac);
  if (select.Step() == SQLITE_ROW) {
    BurnedMac central{select.Text(0), select.Int(1)};
    if (!*burned || (*burned)->committed < central.committed) *burned = central;
  }
  return {};
}

JournalStatus Outbox::FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) {
  JournalStatus status = records_->FindBurned(mac, burned);
  if (!status.ok()) return status;
  return LeaseBurned(mac, burned);
}

}  // namespace stampwright
