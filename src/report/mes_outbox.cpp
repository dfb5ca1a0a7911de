#include "report/mes_outbox.h"

#include <array>

#include "journal/transaction.h"

namespace stampwright {
namespace {

// One step per version. seq never goes back (AUTOINCREMENT): the order of sending survives the
// removal of what was sent. unique_id has no index: nothing looks a message up by it, and an
// index would be one more page for each burn's journal write to sync.
constexpr std::array<const char*, kMesOutboxSchemaVersion> kMigrations = {
    R"sql(
CREATE TABLE mes_outbox (
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  unique_id TEXT NOT NULL,
  message_name TEXT NOT NULL,
  source TEXT NOT NULL,
  created INTEGER NOT NULL,
  envelope TEXT NOT NULL
);
CREATE TABLE mes_outbox_state (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  last_sent INTEGER,
  last_sent_name TEXT,
  last_error TEXT,
  last_error_at INTEGER
);
INSERT INTO mes_outbox_state (id) VALUES (1);
)sql",
};

constexpr const char* kVersionTable = "CREATE TABLE IF NOT EXISTS mes_outbox_schema (version INTEGER NOT NULL)";

std::optional<std::string> QueryStatus(sqlite3* db, MesOutboxStatus* status) {
  *status = {};
  SqliteStatement waiting, state;
  if (!waiting.Prepare(db, "SELECT count(*), (SELECT created FROM mes_outbox ORDER BY seq LIMIT 1) FROM mes_outbox") ||
      !state.Prepare(db, "SELECT last_sent, last_sent_name, last_error, last_error_at FROM mes_outbox_state")) {
    return sqlite3_errmsg(db);
  }
  if (waiting.Step() != SQLITE_ROW) return sqlite3_errmsg(db);
  status->backlog = waiting.Int(0);
  status->oldest_waiting = waiting.OptionalInt(1);
  if (state.Step() == SQLITE_ROW) {
    status->last_sent = state.OptionalInt(0);
    status->last_sent_name = state.Text(1);
    status->last_error = state.Text(2);
    status->last_error_at = state.OptionalInt(3);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> MigrateMesOutbox(SqliteDatabase& database) {
  sqlite3* db = database.get();
  Transaction transaction(database, "BEGIN IMMEDIATE");
  if (auto error = transaction.Begin()) return error;
  if (auto error = database.Execute(kVersionTable)) return error;
  int version = 0;
  {
    SqliteStatement query;
    if (!query.Prepare(db, "SELECT max(version) FROM mes_outbox_schema")) return sqlite3_errmsg(db);
    if (query.Step() == SQLITE_ROW) version = static_cast<int>(query.OptionalInt(0).value_or(0));
  }
  if (version > kMesOutboxSchemaVersion) {
    return "MES outbox schema version " + std::to_string(version) + ", newer than this program's " +
           std::to_string(kMesOutboxSchemaVersion) + "; use a newer program";
  }
  for (int step = version; step < kMesOutboxSchemaVersion; ++step) {
    if (auto error = database.Execute(kMigrations[static_cast<size_t>(step)])) {
      return "migrating the MES outbox to version " + std::to_string(step + 1) + ": " + *error;
    }
  }
  if (version != kMesOutboxSchemaVersion) {
    const std::string set = "DELETE FROM mes_outbox_schema; INSERT INTO mes_outbox_schema (version) VALUES (" +
                            std::to_string(kMesOutboxSchemaVersion) + ")";
    if (auto error = database.Execute(set.c_str())) return error;
  }
  return transaction.Commit();
}

std::unique_ptr<MesOutboxWriter> MesOutboxWriter::Open(SqliteDatabase& db, std::string* error) {
  if (auto failed = MigrateMesOutbox(db)) {
    *error = *failed;
    return nullptr;
  }
  std::unique_ptr<MesOutboxWriter> writer(new MesOutboxWriter(db));
  if (!writer->insert_.Prepare(db.get(), "INSERT INTO mes_outbox (unique_id, message_name, source, "
                                         "created, envelope) VALUES (?1, ?2, ?3, ?4, ?5)")) {
    *error = db.Message();
    return nullptr;
  }
  return writer;
}

JournalStatus MesOutboxWriter::Queue(const cfx::Envelope& envelope) {
  const std::string text = cfx::EnvelopeText(envelope);
  insert_.BindText(1, envelope.unique_id);
  insert_.BindText(2, envelope.message_name);
  insert_.BindText(3, envelope.source);
  insert_.BindInt(4, envelope.time_ms);
  insert_.BindText(5, text);
  const int step = insert_.Step();
  insert_.Reset();
  if (step != SQLITE_DONE) return JournalStatus::Error("queuing a message for the MES: " + db_.Message());
  return {};
}

std::optional<std::string> AttachMesOutbox(SqliteJournal& journal, MesEndpoint endpoint) {
  std::string error;
  std::shared_ptr<MesOutboxWriter> writer = MesOutboxWriter::Open(journal.connection(), &error);
  if (!writer) return "MES outbox: " + error;
  journal.SetChangeObserver([writer, endpoint = std::move(endpoint)](JournalChange change,
                                                                     const JournalRecord& record) {
    for (const cfx::Envelope& envelope : MessagesForChange(change, record, endpoint)) {
      if (JournalStatus status = writer->Queue(envelope); !status.ok()) return status;
    }
    return JournalStatus{};
  });
  return std::nullopt;
}

std::unique_ptr<MesOutboxFile> MesOutboxFile::Open(const std::string& path, std::string* error) {
  sqlite3* raw = nullptr;
  // Made here when the station starts before its journal has a file.
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                     nullptr);
  auto file = std::make_unique<MesOutboxFile>();
  file->db = SqliteDatabase(raw);
  if (opened != SQLITE_OK) {
    *error = "cannot open '" + path + "': " + file->db.Message();
    return nullptr;
  }
  // The journal's own writes hold the file for a moment at a time.
  sqlite3_busy_timeout(file->db.get(), 5000);
  if (auto failed = file->db.Execute("PRAGMA journal_mode=WAL")) {
    *error = "'" + path + "': " + *failed;
    return nullptr;
  }
  file->writer = MesOutboxWriter::Open(file->db, error);
  if (!file->writer) return nullptr;
  return file;
}

std::unique_ptr<MesOutboxReader> MesOutboxReader::Open(const std::string& path, std::string* error) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteDatabase db(raw);
  if (opened != SQLITE_OK) {
    *error = "cannot open '" + path + "': " + db.Message();
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), 2000);
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
    if (auto failed = db.Execute(pragma)) {
      *error = "'" + path + "': " + *failed;
      return nullptr;
    }
  }
  if (auto failed = MigrateMesOutbox(db)) {
    *error = "'" + path + "': " + *failed;
    return nullptr;
  }
  std::unique_ptr<MesOutboxReader> reader(new MesOutboxReader(std::move(db)));
  sqlite3* handle = reader->db_.get();
  const bool prepared =
      reader->next_.Prepare(handle, "SELECT seq, unique_id, message_name, source, created, envelope FROM "
                                    "mes_outbox WHERE seq > ?1 ORDER BY seq LIMIT ?2") &&
      reader->remove_.Prepare(handle, "DELETE FROM mes_outbox WHERE seq = ?1") &&
      reader->sent_.Prepare(handle, "UPDATE mes_outbox_state SET last_sent = ?1, last_sent_name = ?2") &&
      reader->error_.Prepare(handle, "UPDATE mes_outbox_state SET last_error = ?1, last_error_at = ?2");
  if (!prepared) {
    *error = "'" + path + "': " + reader->db_.Message();
    return nullptr;
  }
  return reader;
}

std::optional<std::string> MesOutboxReader::Next(int64_t after_seq, int limit, std::vector<MesOutboxRow>* rows) {
  rows->clear();
  next_.BindInt(1, after_seq);
  next_.BindInt(2, int64_t{limit});
  int step;
  while ((step = next_.Step()) == SQLITE_ROW) {
    rows->push_back({next_.Int(0), next_.Text(1), next_.Text(2), next_.Text(3), next_.Int(4), next_.Text(5)});
  }
  next_.Reset();
  if (step != SQLITE_DONE) return db_.Message();
  return std::nullopt;
}

std::optional<std::string> MesOutboxReader::Remove(const std::vector<int64_t>& seqs,
                                                   const std::string& last_name, int64_t now) {
  if (seqs.empty()) return std::nullopt;
  // One transaction for a batch: one write to the disk, not one per message.
  Transaction transaction(db_, "BEGIN IMMEDIATE");
  if (auto error = transaction.Begin()) return error;
  for (int64_t seq : seqs) {
    remove_.BindInt(1, seq);
    const int step = remove_.Step();
    remove_.Reset();
    if (step != SQLITE_DONE) return db_.Message();
  }
  sent_.BindInt(1, now);
  sent_.BindText(2, last_name);
  const int step = sent_.Step();
  sent_.Reset();
  if (step != SQLITE_DONE) return db_.Message();
  return transaction.Commit();
}

std::optional<std::string> MesOutboxReader::NoteError(const std::string& text, int64_t now) {
  error_.BindText(1, text);
  error_.BindInt(2, text.empty() ? std::nullopt : std::optional<int64_t>(now));
  const int step = error_.Step();
  error_.Reset();
  if (step != SQLITE_DONE) return db_.Message();
  return std::nullopt;
}

std::optional<std::string> MesOutboxReader::Status(MesOutboxStatus* status) {
  return QueryStatus(db_.get(), status);
}

std::optional<std::string> ReadMesOutboxStatus(const std::string& path, MesOutboxStatus* status) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  SqliteDatabase db(raw);
  if (opened != SQLITE_OK) return "cannot open '" + path + "': " + db.Message();
  sqlite3_busy_timeout(db.get(), 2000);
  SqliteStatement probe;
  if (!probe.Prepare(db.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'mes_outbox'")) {
    return "'" + path + "': " + db.Message();
  }
  if (probe.Step() != SQLITE_ROW) return "'" + path + "' has no MES outbox";
  if (auto error = QueryStatus(db.get(), status)) return "'" + path + "': " + *error;
  return std::nullopt;
}

}  // namespace stampwright
