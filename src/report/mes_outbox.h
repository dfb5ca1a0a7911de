#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/sqlite_handle.h"
#include "journal/sqlite_journal.h"
#include "report/cfx/envelope.h"
#include "report/mes_messages.h"

namespace stampwright {

// The MES outbox: CFX envelopes waiting for the broker, oldest first, in an SQLite file beside
// the records that caused them (the journal file of one station, the local outbox file of a
// line station). A message leaves it only when the broker has accepted it. Its tables carry their
// own schema version in a one-row table, migrated forward inside one transaction.
inline constexpr int kMesOutboxSchemaVersion = 1;

// Creates or migrates the outbox's tables on db; the error else (a newer layout is refused).
std::optional<std::string> MigrateMesOutbox(SqliteDatabase& db);

// Queues envelopes on one connection, inside whatever transaction the caller has open there (so
// that a message commits with the change that causes it), else as its own.
class MesOutboxWriter {
 public:
  // Migrates the tables and prepares the insert on db, which must outlive the writer.
  static std::unique_ptr<MesOutboxWriter> Open(SqliteDatabase& db, std::string* error);
  JournalStatus Queue(const cfx::Envelope& envelope);

 private:
  explicit MesOutboxWriter(SqliteDatabase& db) : db_(db) {}
  SqliteDatabase& db_;
  SqliteStatement insert_;
};

// A connection of its own to the outbox in the file at path, for messages no journal change
// causes (the endpoint's connected, heartbeat and shutting down).
struct MesOutboxFile {
  static std::unique_ptr<MesOutboxFile> Open(const std::string& path, std::string* error);
  SqliteDatabase db;
  std::unique_ptr<MesOutboxWriter> writer;
};

// Has every change of journal queue the messages it causes, in the change's own transaction:
// a message that cannot be queued fails the change (the journal is the gate). The journal holds
// the writer from then on.
std::optional<std::string> AttachMesOutbox(SqliteJournal& journal, MesEndpoint endpoint);

// One waiting message.
struct MesOutboxRow {
  int64_t seq = 0;
  std::string unique_id;
  std::string message_name;
  std::string source;  // the CFX handle that sent it
  int64_t created = 0;
  std::string envelope;  // the JSON text
};

// What `mes status` shows.
struct MesOutboxStatus {
  int64_t backlog = 0;
  std::optional<int64_t> oldest_waiting;  // the time of the first message waiting, UTC ms
  std::optional<int64_t> last_sent;       // accepted by the broker, UTC ms
  std::string last_sent_name;
  std::string last_error;
  std::optional<int64_t> last_error_at;
};

// The publisher's side, on a connection of its own: reads what waits and removes what the
// broker accepted. Its removals are written with synchronous=NORMAL: one lost in a power cut
// only sends that message again, and receivers know it by its UniqueID.
class MesOutboxReader {
 public:
  // Opens the existing file at path (migrating the outbox's tables); null with the reason else.
  static std::unique_ptr<MesOutboxReader> Open(const std::string& path, std::string* error);

  // Up to limit rows after seq, oldest first.
  std::optional<std::string> Next(int64_t after_seq, int limit, std::vector<MesOutboxRow>* rows);
  // Removes the rows the broker accepted, notes the last of them as sent at now.
  std::optional<std::string> Remove(const std::vector<int64_t>& seqs, const std::string& last_name,
                                    int64_t now);
  // Notes the last connection error; it stays, with its time, until another replaces it.
  std::optional<std::string> NoteError(const std::string& text, int64_t now);
  std::optional<std::string> Status(MesOutboxStatus* status);

 private:
  explicit MesOutboxReader(SqliteDatabase db) : db_(std::move(db)) {}
  SqliteDatabase db_;
  SqliteStatement next_, remove_, sent_, error_;
};

// Reads the status of the outbox in the file at path without changing anything; an error when
// the file has no MES outbox.
std::optional<std::string> ReadMesOutboxStatus(const std::string& path, MesOutboxStatus* status);

}  // namespace stampwright
