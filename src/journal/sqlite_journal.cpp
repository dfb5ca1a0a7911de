#include "journal/sqlite_journal.h"

#include <array>

#include "base/text.h"
#include "base/work_directory.h"
#include "journal/guard.h"
#include "journal/postgresql/pg_connection.h"
#include "journal/postgresql/pg_journal.h"
#include "journal/record_fields.h"
#include "journal/transaction.h"

namespace stampwright {
namespace {

// The schema, one step per version, applied in order inside one transaction on open.
constexpr std::array<const char*, kJournalSchemaVersion> kMigrations = {
    R"sql(
CREATE TABLE records (
  seq INTEGER PRIMARY KEY,
  id TEXT NOT NULL UNIQUE,
  station TEXT NOT NULL,
  adapter TEXT,
  kind TEXT NOT NULL CHECK (kind IN ('burn', 'firmware', 'scrap', 'release')),
  mac TEXT NOT NULL,
  unit_mac_before TEXT,
  chip TEXT,
  module_class TEXT,
  firmware_version TEXT,
  image_checksum TEXT,
  outcome TEXT,
  started INTEGER NOT NULL,
  finished INTEGER,
  committed INTEGER,
  burn_ms INTEGER,
  return_ms INTEGER,
  attempt INTEGER,
  config TEXT,
  firmware_name TEXT,
  firmware_size INTEGER,
  firmware_sha256 TEXT,
  reason TEXT
);
CREATE INDEX records_by_mac ON records (mac, kind, committed);
CREATE INDEX records_by_start ON records (started);
CREATE INDEX records_open ON records (station) WHERE outcome IS NULL;
CREATE TRIGGER records_never_deleted BEFORE DELETE ON records
BEGIN SELECT RAISE(ABORT, 'journal records are never deleted'); END;
CREATE TRIGGER records_never_changed BEFORE UPDATE ON records
WHEN OLD.outcome IS NOT NULL
  OR (OLD.committed IS NOT NULL AND NEW.committed IS NOT OLD.committed)
  OR NEW.seq IS NOT OLD.seq OR NEW.id IS NOT OLD.id OR NEW.station IS NOT OLD.station
  OR NEW.adapter IS NOT OLD.adapter OR NEW.kind IS NOT OLD.kind OR NEW.mac IS NOT OLD.mac
  OR NEW.unit_mac_before IS NOT OLD.unit_mac_before OR NEW.chip IS NOT OLD.chip
  OR NEW.module_class IS NOT OLD.module_class OR NEW.firmware_version IS NOT OLD.firmware_version
  OR NEW.image_checksum IS NOT OLD.image_checksum OR NEW.started IS NOT OLD.started
  OR NEW.attempt IS NOT OLD.attempt OR NEW.config IS NOT OLD.config
  OR NEW.firmware_name IS NOT OLD.firmware_name OR NEW.firmware_size IS NOT OLD.firmware_size
  OR NEW.firmware_sha256 IS NOT OLD.firmware_sha256 OR NEW.reason IS NOT OLD.reason
BEGIN SELECT RAISE(ABORT, 'journal records are never changed'); END;
)sql",
    // What reading the returned unit back showed. Set by the same write as the outcome: never
    // without one (the checks), never after it (records_never_changed refuses any change to a
    // record that has its outcome).
    R"sql(
ALTER TABLE records ADD COLUMN verified INTEGER
  CHECK (verified IS NULL OR (verified IN (0, 1) AND outcome IS NOT NULL));
ALTER TABLE records ADD COLUMN other_bytes_changed INTEGER
  CHECK (other_bytes_changed IS NULL OR (other_bytes_changed >= 0 AND outcome IS NOT NULL));
)sql",
    // A burn attempt's claim on its MAC, from before its first module frame to its outcome. The
    // index keeps one open claim per MAC whoever writes the file (the station, the tool, a second
    // copy); the claim ends in the same write as the attempt's outcome, and a confirmed commit is
    // noted before that (a separate, earlier write), so a MAC is never unclaimed and unburned at
    // once between its commit and its outcome.
    R"sql(
CREATE TABLE claims (
  record_id TEXT PRIMARY KEY REFERENCES records (id),
  mac TEXT NOT NULL,
  station TEXT NOT NULL,
  ended INTEGER
);
CREATE UNIQUE INDEX claims_one_open_per_mac ON claims (mac) WHERE ended IS NULL;
CREATE TRIGGER claims_end_with_outcome AFTER UPDATE OF outcome ON records
WHEN OLD.outcome IS NULL AND NEW.outcome IS NOT NULL
BEGIN UPDATE claims SET ended = coalesce(NEW.finished, NEW.started) WHERE record_id = NEW.id AND ended IS NULL; END;
CREATE TRIGGER claims_never_deleted BEFORE DELETE ON claims
BEGIN SELECT RAISE(ABORT, 'claims are never deleted'); END;
)sql",
    // The bay a record was made on, in gang mode. Given with the record and kept as given: the
    // older trigger lists its columns by name, so this one guards the new column.
    R"sql(
ALTER TABLE records ADD COLUMN bay INTEGER CHECK (bay IS NULL OR bay > 0);
CREATE TRIGGER records_bay_never_changed BEFORE UPDATE OF bay ON records
WHEN NEW.bay IS NOT OLD.bay
BEGIN SELECT RAISE(ABORT, 'journal records are never changed'); END;
)sql",
    // Labels printed at the station are records of their own kind, with the printer they went
    // to and, for a scanned-back label, whether it matched. A kind is checked by the table's
    // CHECK, which SQLite changes only by building the table anew: every row is copied with its
    // seq and each value as stored, and the indexes and triggers are made again, the guard on
    // changes now naming every column.
    R"sql(
CREATE TABLE records_v5 (
  seq INTEGER PRIMARY KEY,
  id TEXT NOT NULL UNIQUE,
  station TEXT NOT NULL,
  adapter TEXT,
  kind TEXT NOT NULL CHECK (kind IN ('burn', 'firmware', 'scrap', 'release', 'label')),
  mac TEXT NOT NULL,
  unit_mac_before TEXT,
  chip TEXT,
  module_class TEXT,
  firmware_version TEXT,
  image_checksum TEXT,
  outcome TEXT,
  started INTEGER NOT NULL,
  finished INTEGER,
  committed INTEGER,
  burn_ms INTEGER,
  return_ms INTEGER,
  attempt INTEGER,
  config TEXT,
  firmware_name TEXT,
  firmware_size INTEGER,
  firmware_sha256 TEXT,
  reason TEXT,
  verified INTEGER
    CHECK (verified IS NULL OR (verified IN (0, 1) AND outcome IS NOT NULL)),
  other_bytes_changed INTEGER
    CHECK (other_bytes_changed IS NULL OR (other_bytes_changed >= 0 AND outcome IS NOT NULL)),
  bay INTEGER CHECK (bay IS NULL OR bay > 0),
  printer TEXT,
  label_verified INTEGER CHECK (label_verified IS NULL OR label_verified IN (0, 1))
);
INSERT INTO records_v5 (seq, id, station, adapter, kind, mac, unit_mac_before, chip, module_class,
  firmware_version, image_checksum, outcome, started, finished, committed, burn_ms, return_ms,
  attempt, config, firmware_name, firmware_size, firmware_sha256, reason, verified,
  other_bytes_changed, bay)
SELECT seq, id, station, adapter, kind, mac, unit_mac_before, chip, module_class,
  firmware_version, image_checksum, outcome, started, finished, committed, burn_ms, return_ms,
  attempt, config, firmware_name, firmware_size, firmware_sha256, reason, verified,
  other_bytes_changed, bay
FROM records ORDER BY seq;
DROP TABLE records;
ALTER TABLE records_v5 RENAME TO records;
CREATE INDEX records_by_mac ON records (mac, kind, committed);
CREATE INDEX records_by_start ON records (started);
CREATE INDEX records_open ON records (station) WHERE outcome IS NULL;
CREATE TRIGGER records_never_deleted BEFORE DELETE ON records
BEGIN SELECT RAISE(ABORT, 'journal records are never deleted'); END;
CREATE TRIGGER records_never_changed BEFORE UPDATE ON records
WHEN OLD.outcome IS NOT NULL
  OR (OLD.committed IS NOT NULL AND NEW.committed IS NOT OLD.committed)
  OR NEW.seq IS NOT OLD.seq OR NEW.id IS NOT OLD.id OR NEW.station IS NOT OLD.station
  OR NEW.adapter IS NOT OLD.adapter OR NEW.kind IS NOT OLD.kind OR NEW.mac IS NOT OLD.mac
  OR NEW.unit_mac_before IS NOT OLD.unit_mac_before OR NEW.chip IS NOT OLD.chip
  OR NEW.module_class IS NOT OLD.module_class OR NEW.firmware_version IS NOT OLD.firmware_version
  OR NEW.image_checksum IS NOT OLD.image_checksum OR NEW.started IS NOT OLD.started
  OR NEW.attempt IS NOT OLD.attempt OR NEW.config IS NOT OLD.config
  OR NEW.firmware_name IS NOT OLD.firmware_name OR NEW.firmware_size IS NOT OLD.firmware_size
  OR NEW.firmware_sha256 IS NOT OLD.firmware_sha256 OR NEW.reason IS NOT OLD.reason
  OR NEW.bay IS NOT OLD.bay OR NEW.printer IS NOT OLD.printer
  OR NEW.label_verified IS NOT OLD.label_verified
BEGIN SELECT RAISE(ABORT, 'journal records are never changed'); END;
CREATE TRIGGER claims_end_with_outcome AFTER UPDATE OF outcome ON records
WHEN OLD.outcome IS NULL AND NEW.outcome IS NOT NULL
BEGIN UPDATE claims SET ended = coalesce(NEW.finished, NEW.started) WHERE record_id = NEW.id AND ended IS NULL; END;
)sql",
};

// The fields' columns in the table's order, which is the order statements bind and rows read.
std::string ColumnList() {
  std::string columns;
  for (const RecordField& field : kRecordFields) {
    if (!columns.empty()) columns += ", ";
    columns += field.name;
  }
  return columns;
}

// "?1, ?2, ..." for every field.
std::string ParameterList() {
  std::string parameters;
  for (size_t i = 1; i <= kRecordFields.size(); ++i) {
    if (i > 1) parameters += ", ";
    parameters += "?" + std::to_string(i);
  }
  return parameters;
}

// "outcome = ?2, finished = ?3, ...": what an attempt's end writes (the fields the line keeps
// with the outcome), after the record's id as ?1.
std::string EndAssignments() {
  std::string assignments;
  int index = 2;
  for (const RecordField& field : kRecordFields) {
    if (field.line_table != LineTable::kOutcomes) continue;
    if (!assignments.empty()) assignments += ", ";
    assignments += std::string(field.name) + " = ?" + std::to_string(index++);
  }
  return assignments;
}

// An absent value binds NULL, a text as it is (even empty), a yes/no as 1 or 0.
void BindValue(SqliteStatement& s, int index, const FieldValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    sqlite3_bind_text(s.get(), index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
  } else if (const auto* number = std::get_if<int64_t>(&value)) {
    s.BindInt(index, *number);
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    s.BindInt(index, int64_t{*flag ? 1 : 0});
  } else {
    sqlite3_bind_null(s.get(), index);
  }
}

FieldValue ColumnValue(const SqliteStatement& s, int column, FieldType type) {
  if (sqlite3_column_type(s.get(), column) == SQLITE_NULL) return {};
  switch (StorageOf(type)) {
    case StoredAs::kText:
      return s.Text(column);
    case StoredAs::kFlag:
      return s.Int(column) != 0;
    case StoredAs::kInteger:
      break;
  }
  return s.Int(column);
}

// A row of ColumnList().
JournalRecord RowToRecord(const SqliteStatement& s) {
  JournalRecord record;
  for (size_t i = 0; i < kRecordFields.size(); ++i) {
    const RecordField& field = kRecordFields[i];
    LoadValue(field, ColumnValue(s, static_cast<int>(i), field.type), &record);
  }
  return record;
}

bool IsAttempt(RecordKind kind) { return kind == RecordKind::kBurn || kind == RecordKind::kFirmware; }

}  // namespace

std::unique_ptr<SqliteJournal> SqliteJournal::Open(const std::string& path, JournalStatus* status,
                                                   const std::string& shown) {
  const std::string& name = shown.empty() ? path : shown;
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  SqliteDatabase db(raw);
  if (opened != SQLITE_OK) {
    *status = JournalStatus::Error("cannot open journal '" + name + "': " + db.Message());
    return nullptr;
  }
  sqlite3_extended_result_codes(db.get(), 1);
  // Another station program or the tool may hold the lock for a moment; a lock held longer is
  // an error, not a hang.
  sqlite3_busy_timeout(db.get(), 2000);
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
    if (auto error = db.Execute(pragma)) {
      *status = JournalStatus::Error("journal '" + name + "': " + *error);
      return nullptr;
    }
  }
  // The write lock taken here also proves, at start, that the journal can be written.
  Transaction transaction(db, "BEGIN IMMEDIATE");
  if (auto error = transaction.Begin()) {
    *status = JournalStatus::Error("journal '" + name + "': " + *error);
    return nullptr;
  }
  int version = 0;
  {
    SqliteStatement query;
    if (!query.Prepare(db.get(), "PRAGMA user_version") || query.Step() != SQLITE_ROW) {
      *status = JournalStatus::Error("journal '" + name + "': " + db.Message());
      return nullptr;
    }
    version = static_cast<int>(query.Int(0));
  }
  if (version > kJournalSchemaVersion) {
    *status = JournalStatus::Error("journal '" + name + "' has schema version " +
                                   std::to_string(version) + ", newer than this program's " +
                                   std::to_string(kJournalSchemaVersion) + "; use a newer program");
    return nullptr;
  }
  for (int step = version; step < kJournalSchemaVersion; ++step) {
    if (auto error = db.Execute(kMigrations[static_cast<size_t>(step)])) {
      *status = JournalStatus::Error("journal '" + name + "': migrating to version " +
                                     std::to_string(step + 1) + ": " + *error);
      return nullptr;
    }
  }
  if (version != kJournalSchemaVersion) {
    const std::string set = "PRAGMA user_version=" + std::to_string(kJournalSchemaVersion);
    if (auto error = db.Execute(set.c_str())) {
      *status = JournalStatus::Error("journal '" + name + "': " + *error);
      return nullptr;
    }
  }
  if (auto error = transaction.Commit()) {
    *status = JournalStatus::Error("journal '" + name + "': " + *error);
    return nullptr;
  }
  std::unique_ptr<SqliteJournal> journal(new SqliteJournal(std::move(db)));
  *status = journal->Prepare();
  if (!status->ok()) return nullptr;
  return journal;
}

JournalStatus SqliteJournal::Failed(const char* what) const {
  return JournalStatus::Error(std::string(what) + ": " + db_.Message());
}

JournalStatus SqliteJournal::Prepare() {
  static const std::string columns = ColumnList();
  static const std::string insert =
      "INSERT INTO records (" + columns + ") VALUES (" + ParameterList() + ")";
  static const std::string finish =
      "UPDATE records SET " + EndAssignments() + " WHERE id = ?1 AND outcome IS NULL";
  const std::string select = "SELECT " + columns +
                             " FROM records WHERE ?1 IS NULL AND started >= coalesce(?2, "
                             "-9223372036854775808) AND started < coalesce(?3, 9223372036854775807) "
                             "AND (?4 IS NULL OR station = ?4) ORDER BY started, seq";
  // Both go through an index (time window, or one MAC's history): a window's counts or one
  // label's history never scan millions of records.
  const std::string select_by_mac = "SELECT " + columns +
                                    " FROM records WHERE mac = ?1 AND (?2 IS NULL OR started >= ?2) "
                                    "AND (?3 IS NULL OR started < ?3) AND (?4 IS NULL OR station = "
                                    "?4) ORDER BY started, seq";
  const std::string select_one = "SELECT " + columns + " FROM records WHERE id = ?1";
  const bool prepared =
      count_attempts_.Prepare(db_.get(), "SELECT COUNT(*) FROM records WHERE mac = ?1 AND kind = ?2") &&
      insert_.Prepare(db_.get(), insert.c_str()) &&
      note_commit_.Prepare(db_.get(),
                           "UPDATE records SET committed = ?2 WHERE id = ?1 AND committed IS NULL "
                           "AND outcome IS NULL") &&
      finish_.Prepare(db_.get(), finish.c_str()) &&
      close_interrupted_.Prepare(db_.get(),
                                 "UPDATE records SET outcome = 'interrupted', finished = ?2 WHERE "
                                 "station = ?1 AND outcome IS NULL AND kind IN ('burn', 'firmware')") &&
      open_claim_.Prepare(db_.get(), "SELECT claims.station, records.bay FROM claims JOIN records ON records.id = "
                         "claims.record_id WHERE claims.mac = ?1 AND claims.ended IS NULL") &&
      insert_claim_.Prepare(db_.get(),
                            "INSERT INTO claims (record_id, mac, station) VALUES (?1, ?2, ?3)") &&
      last_commit_.Prepare(db_.get(),
                           "SELECT station, committed FROM records WHERE mac = ?1 AND kind = 'burn' "
                           "AND committed IS NOT NULL ORDER BY committed DESC LIMIT 1") &&
      release_after_.Prepare(db_.get(),
                             "SELECT 1 FROM records WHERE mac = ?1 AND kind = 'release' AND started "
                             "> ?2 LIMIT 1") &&
      select_.Prepare(db_.get(), select.c_str()) &&
      select_by_mac_.Prepare(db_.get(), select_by_mac.c_str()) && select_one_.Prepare(db_.get(), select_one.c_str());
  return prepared ? JournalStatus{} : Failed("preparing the journal's statements");
}

JournalStatus SqliteJournal::Append(JournalRecord& record, ClaimCheck check) {
  if (record.id.empty()) record.id = NewRecordId();
  // BEGIN IMMEDIATE takes the file's write lock first: the claim's checks below read what every
  // other writer has committed, and nobody writes between them and the insert.
  Transaction transaction(db_, "BEGIN IMMEDIATE");
  if (auto error = transaction.Begin()) {
    return JournalStatus::Error("writing the journal: " + *error);
  }
  const bool claims = record.kind == RecordKind::kBurn && !record.outcome;
  if (claims) {
    if (JournalStatus refused = CheckClaim(record, check); !refused.ok()) return refused;
  }
  const std::string kind(RecordKindName(record.kind));
  if (IsAttempt(record.kind)) {
    count_attempts_.BindText(1, record.mac);
    count_attempts_.BindText(2, kind);
    const int step = count_attempts_.Step();
    const int64_t before = count_attempts_.Int(0);
    count_attempts_.Reset();
    if (step != SQLITE_ROW) return Failed("writing the journal");
    record.attempt = before + 1;
  }
  SqliteStatement& s = insert_;
  // Texts the table keeps as given are bound so: an empty New MAC refused by the lookup is
  // recorded as typed, since as NULL it would break the column's NOT NULL, and the record, never
  // written, would hold up every one after it.
  for (size_t i = 0; i < kRecordFields.size(); ++i) {
    BindValue(s, static_cast<int>(i + 1), StoredValue(kRecordFields[i], record));
  }
  // A record without its station's name is kept under "?".
  if (record.station.empty()) s.BindText(static_cast<int>(FieldIndex("station")) + 1, "?");
  const int step = s.Step();
  s.Reset();
  if (step != SQLITE_DONE) return Failed("writing the journal");
  if (claims) {
    insert_claim_.BindText(1, record.id);
    insert_claim_.BindText(2, record.mac);
    insert_claim_.BindText(3, record.station.empty() ? std::string("?") : record.station);
    const int claimed = insert_claim_.Step();
    insert_claim_.Reset();
    if (claimed != SQLITE_DONE) return Failed("claiming the MAC");
  }
  if (on_change_) {
    if (JournalStatus status = on_change_(JournalChange::kAppended, record); !status.ok()) return status;
  }
  if (auto error = transaction.Commit()) return JournalStatus::Error("writing the journal: " + *error);
  return {};
}

JournalStatus SqliteJournal::CheckClaim(const JournalRecord& record, ClaimCheck check) {
  open_claim_.BindText(1, record.mac);
  const int step = open_claim_.Step();
  const std::string holder = step == SQLITE_ROW ? open_claim_.Text(0) : std::string();
  const std::optional<int64_t> holder_bay =
      step == SQLITE_ROW ? open_claim_.OptionalInt(1) : std::nullopt;
  open_claim_.Reset();
  if (step != SQLITE_ROW && step != SQLITE_DONE) return Failed("claiming the MAC");
  if (step == SQLITE_ROW) {
    // Another bay of this station: the operator is told which one.
    if (holder_bay && record.bay && holder == record.station) {
      return JournalStatus::Refused(FormatText("MAC %s is being burned on bay %d.",
                                               record.mac.c_str(), static_cast<int>(*holder_bay)));
    }
    return JournalStatus::Refused("MAC " + record.mac + " is being burned by station " + holder +
                                  ".");
  }
  // The rework of the unit that already carries the MAC is allowed again; so is a MAC whose
  // claim was decided elsewhere (a line's database).
  if (check == ClaimCheck::kDecidedElsewhere || record.unit_mac_before == record.mac) return {};
  std::optional<BurnedMac> burned;
  if (JournalStatus status = FindBurned(record.mac, &burned); !status.ok()) return status;
  if (!burned && burned_elsewhere) {
    if (JournalStatus status = burned_elsewhere(record.mac, &burned); !status.ok()) return status;
  }
  if (!burned) return {};
  return JournalStatus::Refused(AlreadyBurnedText(record.mac, *burned), burned);
}

JournalStatus SqliteJournal::NoteCommit(const std::string& id, int64_t utc_ms) {
  // One statement is its own transaction; an observer's writes join it in one.
  Transaction transaction(db_, "BEGIN IMMEDIATE");
  if (on_change_) {
    if (auto error = transaction.Begin()) return JournalStatus::Error("writing the journal: " + *error);
  }
  note_commit_.BindText(1, id);
  note_commit_.BindInt(2, utc_ms);
  const int step = note_commit_.Step();
  note_commit_.Reset();
  if (step != SQLITE_DONE) return Failed("writing the journal");
  if (sqlite3_changes(db_.get()) != 1) {
    return JournalStatus::Error("writing the journal: no open attempt " + id);
  }
  if (!on_change_) return {};
  if (JournalStatus status = TellChange(JournalChange::kCommitNoted, id); !status.ok()) return status;
  if (auto error = transaction.Commit()) return JournalStatus::Error("writing the journal: " + *error);
  return {};
}

JournalStatus SqliteJournal::Finish(const std::string& id, const AttemptEnd& end) {
  const JournalRecord ended = EndedRecord(id, end);
  Transaction transaction(db_, "BEGIN IMMEDIATE");
  if (on_change_) {
    if (auto error = transaction.Begin()) return JournalStatus::Error("writing the journal: " + *error);
  }
  finish_.BindText(1, id);
  int index = 2;
  for (const RecordField& field : kRecordFields) {
    if (field.line_table == LineTable::kOutcomes) BindValue(finish_, index++, StoredValue(field, ended));
  }
  const int step = finish_.Step();
  finish_.Reset();
  if (step != SQLITE_DONE) return Failed("writing the journal");
  if (sqlite3_changes(db_.get()) != 1) {
    return JournalStatus::Error("writing the journal: no open attempt " + id);
  }
  if (!on_change_) return {};
  if (JournalStatus status = TellChange(JournalChange::kFinished, id); !status.ok()) return status;
  if (auto error = transaction.Commit()) return JournalStatus::Error("writing the journal: " + *error);
  return {};
}

JournalStatus SqliteJournal::CloseInterrupted(const std::string& station, int64_t now, int* closed) {
  Transaction transaction(db_, "BEGIN IMMEDIATE");
  std::vector<std::string> ids;
  if (on_change_) {
    if (auto error = transaction.Begin()) return JournalStatus::Error("writing the journal: " + *error);
    if (JournalStatus status = OpenAttempts(station, &ids); !status.ok()) return status;
  }
  close_interrupted_.BindText(1, station);
  close_interrupted_.BindInt(2, now);
  const int step = close_interrupted_.Step();
  close_interrupted_.Reset();
  if (step != SQLITE_DONE) return Failed("writing the journal");
  if (closed != nullptr) *closed = sqlite3_changes(db_.get());
  if (!on_change_) return {};
  for (const std::string& id : ids) {
    if (JournalStatus status = TellChange(JournalChange::kFinished, id); !status.ok()) return status;
  }
  if (auto error = transaction.Commit()) return JournalStatus::Error("writing the journal: " + *error);
  return {};
}

JournalStatus SqliteJournal::FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) {
  burned->reset();
  last_commit_.BindText(1, mac);
  const int step = last_commit_.Step();
  if (step == SQLITE_ROW) *burned = BurnedMac{last_commit_.Text(0), last_commit_.Int(1)};
  last_commit_.Reset();
  if (step != SQLITE_ROW && step != SQLITE_DONE) return Failed("reading the journal");
  if (!*burned) return {};
  release_after_.BindText(1, mac);
  release_after_.BindInt(2, (*burned)->committed);
  const int released = release_after_.Step();
  release_after_.Reset();
  if (released == SQLITE_ROW) burned->reset();
  if (released != SQLITE_ROW && released != SQLITE_DONE) return Failed("reading the journal");
  return {};
}

JournalStatus SqliteJournal::ReadRows(SqliteStatement& statement, std::vector<JournalRecord>* records) {
  int step;
  while ((step = statement.Step()) == SQLITE_ROW) records->push_back(RowToRecord(statement));
  statement.Reset();
  return step == SQLITE_DONE ? JournalStatus{} : Failed("reading the journal");
}

JournalStatus SqliteJournal::Read(const RecordFilter& filter, std::vector<JournalRecord>* records) {
  SqliteStatement& select = filter.mac.empty() ? select_ : select_by_mac_;
  select.BindText(1, filter.mac);
  select.BindInt(2, filter.since);
  select.BindInt(3, filter.until);
  select.BindText(4, filter.station);
  return ReadRows(select, records);
}

JournalStatus SqliteJournal::ReadOne(const std::string& id, std::optional<JournalRecord>* record) {
  std::vector<JournalRecord> rows;
  select_one_.BindText(1, id);
  JournalStatus status = ReadRows(select_one_, &rows);
  record->reset();
  if (!rows.empty()) *record = std::move(rows.front());
  return status;
}

OpenedJournal OpenJournal(const std::string& target, const std::string& station,
                          const std::string& directory) {
  OpenedJournal opened;
  if (target == kNoJournalTarget) return opened;
  if (IsPgTarget(target)) {
    if (station.empty()) {
      opened.journal = PgJournal::OpenDirect(target, &opened.status);
    } else {
      opened.journal = PgJournal::OpenStation(target, station, InDirectory(directory, kPgOutboxFile),
                                              &opened.status);
    }
    return opened;
  }
  opened.journal = SqliteJournal::Open(InDirectory(directory, target), &opened.status, target);
  return opened;
}

}  // namespace stampwright
