#include "journal/postgresql/pg_journal.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "base/mac_address.h"
#include "journal/guard.h"
#include "journal/postgresql/pg_schema.h"

namespace stampwright {
namespace {

using Params = std::vector<std::optional<std::string>>;

// How often a lost database is tried again, and how old the fetched leases may get.
constexpr int64_t kReconnectEveryMs = 2000;
constexpr int64_t kLeaseRefreshMs = 60000;
// Records forwarded per database transaction.
constexpr size_t kForwardBatch = 500;
constexpr int64_t kMacSpace = int64_t{1} << 48;

constexpr const char* kRecordColumns =
    "r.id, r.station, r.adapter, r.kind, r.mac, r.unit_mac_before, r.chip, r.module_class, "
    "r.firmware_version, r.image_checksum, o.outcome, stampwright.to_ms(r.started), "
    "stampwright.to_ms(o.finished), stampwright.to_ms(c.committed), o.burn_ms, o.return_ms, "
    "r.attempt, r.config, r.firmware_name, r.firmware_size, r.firmware_sha256, r.reason, "
    "o.verified, o.other_bytes_changed";
constexpr const char* kRecordJoins =
    " FROM stampwright.records r LEFT JOIN stampwright.commits c ON c.record_id = r.id"
    " LEFT JOIN stampwright.outcomes o ON o.record_id = r.id";

const std::string kSelectRecords =
    std::string("SELECT ") + kRecordColumns + kRecordJoins +
    " WHERE ($1::text IS NULL OR r.mac = $1) AND ($2::bigint IS NULL OR r.started >="
    " stampwright.from_ms($2)) AND ($3::bigint IS NULL OR r.started < stampwright.from_ms($3))"
    " AND ($4::text IS NULL OR r.station = $4) ORDER BY r.started, r.seq";
const std::string kSelectRecord =
    std::string("SELECT ") + kRecordColumns + kRecordJoins + " WHERE r.id = $1::uuid";

const PgStatement kSelectRecordsStatement{"select_records", kSelectRecords.c_str()};
const PgStatement kSelectRecordStatement{"select_record", kSelectRecord.c_str()};

// Every write that claims a MAC, notes its commit or ends its claim holds the MAC's advisory
// lock (its 48-bit number as the key; the schema's own lock lies above 2^48) until it commits. A
// claim takes the lock before its statement starts, so under READ COMMITTED the statement sees
// every transaction that ended a claim of that MAC, and with it the commit noted in the same or
// an earlier transaction: a station's commit always reaches the database before, or together
// with, the outcome that ends its claim (NoteCommit, then Finish; or one forwarded batch).
constexpr PgStatement kLockMac{"lock_mac", "SELECT pg_advisory_xact_lock($1::bigint)"};
// The same for every burn MAC of a forwarded batch, lowest first so two batches never deadlock.
constexpr PgStatement kLockBatchMacs{
    "lock_batch_macs",
    "SELECT pg_advisory_xact_lock(m) FROM (SELECT DISTINCT macnum AS m"
    "   FROM json_to_recordset($1::json) AS x(macnum bigint, kind text)"
    "   WHERE macnum IS NOT NULL AND kind = 'burn' ORDER BY m) s"};
constexpr PgStatement kLockStationClaims{
    "lock_station_claims",
    "SELECT pg_advisory_xact_lock(mac) FROM (SELECT mac FROM stampwright.claims"
    "   WHERE station = $1 AND ended IS NULL ORDER BY mac) s"};

// The claim: one statement under the MAC's lock, so the database alone decides. Nothing is
// inserted when the MAC is burned (a confirmed commit with no release after it; not asked for
// the rework of the unit that carries it, $6) or lies in another station's live lease; a unique
// violation when another attempt holds it open. The row says which: inserted, the burning
// station and its commit, the lease's station.
constexpr PgStatement kClaim{
    "claim",
    "WITH burned AS (SELECT r.station, stampwright.to_ms(c.committed) AS committed"
    "   FROM stampwright.records r JOIN stampwright.commits c ON c.record_id = r.id"
    "   WHERE NOT $6::boolean AND r.mac = $5 AND r.kind = 'burn'"
    "   AND NOT EXISTS (SELECT 1 FROM stampwright.records x WHERE x.mac = r.mac"
    "     AND x.kind = 'release' AND x.started > c.committed)"
    "   ORDER BY c.committed DESC LIMIT 1),"
    " leased AS (SELECT l.station FROM stampwright.leases l WHERE l.macs @> $2::bigint"
    "   AND l.station <> $3 AND l.granted <= now() AND l.revoked IS NULL"
    "   AND (l.until IS NULL OR l.until > now()) LIMIT 1),"
    " claimed AS (INSERT INTO stampwright.claims (record_id, mac, station, claimed)"
    "   SELECT $1::uuid, $2::bigint, $3, stampwright.from_ms($4)"
    "   WHERE NOT EXISTS (SELECT 1 FROM burned) AND NOT EXISTS (SELECT 1 FROM leased)"
    "   RETURNING 1)"
    " SELECT (SELECT count(*) FROM claimed), (SELECT station FROM burned),"
    "   (SELECT committed FROM burned), (SELECT station FROM leased)"};
constexpr PgStatement kOpenClaimHolder{
    "open_claim_holder",
    "SELECT station FROM stampwright.claims WHERE mac = $1::bigint AND ended IS NULL"};

// One record as it is given: by the claim's transaction, and for a supervisor's scrap or
// release. The attempt number counts the line's attempts of its MAC.
constexpr PgStatement kInsertRecord{
    "insert_record",
    "INSERT INTO stampwright.records (id, station, adapter, kind, mac, unit_mac_before, chip,"
    " module_class, firmware_version, image_checksum, started, attempt, config, firmware_name,"
    " firmware_size, firmware_sha256, reason)"
    " VALUES ($1::uuid, $2, $3, $4, $5, $6, $7, $8, $9, $10, stampwright.from_ms($11::bigint),"
    " CASE WHEN $4 IN ('burn', 'firmware') THEN (SELECT count(*) + 1 FROM stampwright.records"
    "   WHERE mac = $5 AND kind = $4) END,"
    " $12, $13, $14::bigint, $15, $16)"
    " ON CONFLICT (id) DO NOTHING"};

// Forwarding: a batch of records as one JSON array (see BatchJson); each statement does nothing
// for rows that are there already (the record's UUID), so a batch sent twice, after a lost
// answer or a restart, changes nothing. A record's attempt number counts the line's attempts of
// its MAC, those earlier in the same batch included.
constexpr PgStatement kForwardRecords{
    "forward_records",
    "WITH x AS (SELECT * FROM json_to_recordset($1::json) AS x(ord int, id uuid, station text,"
    "   adapter text, kind text, mac text, unit_mac_before text, chip text, module_class text,"
    "   firmware_version text, image_checksum text, started bigint, config text,"
    "   firmware_name text, firmware_size bigint, firmware_sha256 text, reason text)),"
    " fresh AS (SELECT x.* FROM x WHERE NOT EXISTS"
    "   (SELECT 1 FROM stampwright.records r WHERE r.id = x.id))"
    " INSERT INTO stampwright.records (id, station, adapter, kind, mac, unit_mac_before, chip,"
    "   module_class, firmware_version, image_checksum, started, attempt, config, firmware_name,"
    "   firmware_size, firmware_sha256, reason)"
    " SELECT id, station, adapter, kind, mac, unit_mac_before, chip, module_class,"
    "   firmware_version, image_checksum, stampwright.from_ms(started),"
    "   CASE WHEN kind IN ('burn', 'firmware') THEN (SELECT count(*) FROM stampwright.records r"
    "     WHERE r.mac = fresh.mac AND r.kind = fresh.kind)"
    "     + row_number() OVER (PARTITION BY mac, kind ORDER BY ord) END,"
    "   config, firmware_name, firmware_size, firmware_sha256, reason"
    " FROM fresh ORDER BY ord ON CONFLICT (id) DO NOTHING"};
// Claims of burns made in the outbox (leased MACs while the database was away), ended at once
// when the outcome is known. Never displaces an open claim of another attempt: that conflict,
// too, is left alone, and reconcile shows it.
constexpr PgStatement kForwardClaims{
    "forward_claims",
    "INSERT INTO stampwright.claims (record_id, mac, station, claimed, ended, outcome)"
    " SELECT id, macnum, station, stampwright.from_ms(started), stampwright.from_ms(finished),"
    "   outcome FROM json_to_recordset($1::json) AS x(ord int, id uuid, macnum bigint,"
    "   station text, started bigint, finished bigint, outcome text, claim boolean)"
    " WHERE claim ORDER BY ord ON CONFLICT DO NOTHING"};
// A burn committed from a lease while the database was away, of a MAC that another attempt's
// commit had burned with no release between the two: kept, and flagged for reconcile. Run before
// the batch's own commits go in; leases that never overlap keep this from happening.
constexpr PgStatement kFlagBurnedTwice{
    "flag_burned_twice",
    "INSERT INTO stampwright.flagged (record_id, reason)"
    " SELECT x.id, 'MAC ' || x.mac || ' was already burned by station ' || b.station || ' at '"
    "   || to_char(b.committed AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS') || ' UTC'"
    " FROM json_to_recordset($1::json) AS x(id uuid, kind text, mac text, unit_mac_before text,"
    "   committed bigint)"
    " CROSS JOIN LATERAL (SELECT r.station, c.committed FROM stampwright.records r"
    "   JOIN stampwright.commits c ON c.record_id = r.id"
    "   WHERE r.mac = x.mac AND r.kind = 'burn' AND r.id <> x.id"
    "   AND NOT EXISTS (SELECT 1 FROM stampwright.records rel WHERE rel.mac = x.mac"
    "     AND rel.kind = 'release'"
    "     AND rel.started > LEAST(c.committed, stampwright.from_ms(x.committed))"
    "     AND rel.started < GREATEST(c.committed, stampwright.from_ms(x.committed)))"
    "   ORDER BY c.committed DESC LIMIT 1) b"
    " WHERE x.kind = 'burn' AND x.committed IS NOT NULL"
    "   AND x.unit_mac_before IS DISTINCT FROM x.mac"
    "   AND NOT EXISTS (SELECT 1 FROM stampwright.commits own WHERE own.record_id = x.id)"
    " ON CONFLICT DO NOTHING"};
constexpr PgStatement kFlagged{
    "flagged",
    "SELECT f.record_id, r.mac, r.station, f.reason FROM stampwright.flagged f"
    " JOIN stampwright.records r ON r.id = f.record_id ORDER BY f.flagged, r.seq"};

// The tool's burns go straight to the database: the commit, then the outcome with the claim's
// end in one transaction under the MAC's lock.
constexpr PgStatement kInsertCommit{
    "insert_commit",
    "INSERT INTO stampwright.commits (record_id, committed)"
    " SELECT id, stampwright.from_ms($2::bigint) FROM stampwright.records"
    " WHERE id = $1::uuid AND NOT EXISTS (SELECT 1 FROM stampwright.outcomes o"
    "   WHERE o.record_id = $1::uuid)"
    " ON CONFLICT DO NOTHING RETURNING 1"};
constexpr PgStatement kLockRecordMac{
    "lock_record_mac",
    "SELECT pg_advisory_xact_lock(mac) FROM stampwright.claims WHERE record_id = $1::uuid"};
constexpr PgStatement kInsertOutcome{
    "insert_outcome",
    "WITH o AS (INSERT INTO stampwright.outcomes (record_id, outcome, finished, burn_ms,"
    "   return_ms, verified, other_bytes_changed)"
    "   VALUES ($1::uuid, $2, stampwright.from_ms($3::bigint), $4::bigint, $5::bigint,"
    "   $6::boolean, $7::bigint) ON CONFLICT DO NOTHING RETURNING record_id),"
    " ended AS (UPDATE stampwright.claims c SET ended = stampwright.from_ms($3::bigint),"
    "   outcome = $2 FROM o WHERE c.record_id = o.record_id AND c.ended IS NULL RETURNING 1)"
    " SELECT count(*) FROM o"};

constexpr PgStatement kForwardCommits{
    "forward_commits",
    "INSERT INTO stampwright.commits (record_id, committed)"
    " SELECT id, stampwright.from_ms(committed)"
    " FROM json_to_recordset($1::json) AS x(id uuid, committed bigint)"
    " WHERE committed IS NOT NULL ON CONFLICT DO NOTHING"};
constexpr PgStatement kForwardOutcomes{
    "forward_outcomes",
    "INSERT INTO stampwright.outcomes (record_id, outcome, finished, burn_ms, return_ms,"
    "   verified, other_bytes_changed)"
    " SELECT id, outcome, stampwright.from_ms(finished), burn_ms, return_ms, verified,"
    "   other_bytes_changed"
    " FROM json_to_recordset($1::json) AS x(id uuid, outcome text, finished bigint,"
    "   burn_ms bigint, return_ms bigint, verified boolean, other_bytes_changed bigint)"
    " WHERE outcome IS NOT NULL ON CONFLICT DO NOTHING"};
constexpr PgStatement kForwardEndClaims{
    "forward_end_claims",
    "UPDATE stampwright.claims c SET ended = stampwright.from_ms(x.finished), outcome = x.outcome"
    " FROM json_to_recordset($1::json) AS x(id uuid, outcome text, finished bigint)"
    " WHERE c.record_id = x.id AND c.ended IS NULL AND x.outcome IS NOT NULL"};

constexpr PgStatement kLastCommit{
    "last_commit",
    "SELECT r.station, stampwright.to_ms(c.committed), EXISTS (SELECT 1 FROM stampwright.records x"
    "   WHERE x.mac = r.mac AND x.kind = 'release' AND x.started > c.committed)"
    " FROM stampwright.records r JOIN stampwright.commits c ON c.record_id = r.id"
    " WHERE r.mac = $1 AND r.kind = 'burn' ORDER BY c.committed DESC LIMIT 1"};

// Attempts of a station that the database holds without an outcome and the outbox does not
// know (its outbox was lost): closed as "interrupted", and their claims ended.
constexpr PgStatement kCloseInterruptedCentral{
    "close_interrupted",
    "WITH open AS (SELECT r.id FROM stampwright.records r WHERE r.station = $1"
    "   AND r.kind IN ('burn', 'firmware')"
    "   AND NOT EXISTS (SELECT 1 FROM stampwright.outcomes o WHERE o.record_id = r.id)),"
    " closed AS (INSERT INTO stampwright.outcomes (record_id, outcome, finished)"
    "   SELECT id, 'interrupted', stampwright.from_ms($2) FROM open RETURNING record_id)"
    " SELECT count(*) FROM closed"};
constexpr PgStatement kEndStationClaims{
    "end_station_claims",
    "UPDATE stampwright.claims SET ended = stampwright.from_ms($2), outcome = 'interrupted'"
    " WHERE station = $1 AND ended IS NULL"};

constexpr PgStatement kLiveLeases{
    "live_leases",
    "SELECT id, station, lower(macs), upper(macs) - 1, stampwright.to_ms(until),"
    " stampwright.to_ms(revoked), stampwright.to_ms(granted) FROM stampwright.leases"
    " WHERE station = $1 AND revoked IS NULL AND (until IS NULL OR until > now())"
    " AND granted <= now() ORDER BY lower(macs)"};
// What the line burned inside this station's leases, for its guard while the database is away.
constexpr PgStatement kBurnedInLeases{
    "burned_in_leases",
    "SELECT DISTINCT ON (r.mac) r.mac, r.station, stampwright.to_ms(c.committed)"
    " FROM stampwright.records r JOIN stampwright.commits c ON c.record_id = r.id"
    " JOIN stampwright.leases l ON l.station = $1 AND l.revoked IS NULL"
    "   AND (l.until IS NULL OR l.until > now())"
    "   AND r.mac ~ '^[0-9A-F]{12}$' AND l.macs @> ('x' || lpad(r.mac, 16, '0'))::bit(64)::bigint"
    " WHERE r.kind = 'burn' AND NOT EXISTS (SELECT 1 FROM stampwright.records x"
    "   WHERE x.mac = r.mac AND x.kind = 'release' AND x.started > c.committed)"
    " ORDER BY r.mac, c.committed DESC"};

constexpr PgStatement kGrantLease{
    "grant_lease",
    "INSERT INTO stampwright.leases (station, macs, until)"
    " VALUES ($1, int8range($2::bigint, $3::bigint), stampwright.from_ms($4::bigint))"
    " RETURNING id, stampwright.to_ms(granted)"};
constexpr PgStatement kAllLeases{
    "all_leases",
    "SELECT id, station, lower(macs), upper(macs) - 1, stampwright.to_ms(until),"
    " stampwright.to_ms(revoked), stampwright.to_ms(granted) FROM stampwright.leases"
    " ORDER BY lower(macs), granted"};
constexpr PgStatement kRevokeLease{
    "revoke_lease",
    "UPDATE stampwright.leases SET revoked = greatest(now(), granted)"
    " WHERE id = $1::bigint AND revoked IS NULL RETURNING id"};

// The outbox's own tables, beside the records the SQLite journal keeps.
constexpr const char* kOutboxTables = R"sql(
CREATE TABLE IF NOT EXISTS outbox_forwarded (id TEXT PRIMARY KEY, committed INTEGER NOT NULL,
                                             finished INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS outbox_leases (id INTEGER PRIMARY KEY, first INTEGER NOT NULL,
                                          last INTEGER NOT NULL, until INTEGER);
CREATE TABLE IF NOT EXISTS outbox_lease_burned (mac TEXT PRIMARY KEY, station TEXT NOT NULL,
                                                committed INTEGER NOT NULL);
)sql";

// Statements without parameters on the outbox; the library's message, or nothing.
std::optional<std::string> Execute(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return std::nullopt;
  std::string text = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return text;
}

std::string Text(int64_t value) { return std::to_string(value); }

std::optional<std::string> OptionalText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> OptionalText(std::optional<int64_t> value) {
  if (!value) return std::nullopt;
  return std::to_string(*value);
}

std::optional<int64_t> OptionalInteger(const PgResult& result, int row, int column) {
  if (result.IsNull(row, column)) return std::nullopt;
  return result.Integer(row, column);
}

// 12 hex digits, any case, as the 48-bit number the leases and claims use.
std::optional<int64_t> MacNumber(const std::string& mac) {
  if (mac.size() != 12) return std::nullopt;
  const std::optional<MacAddress> parsed = MacAddress::Parse(mac);
  if (!parsed) return std::nullopt;
  return static_cast<int64_t>(parsed->ToNumber());
}

JournalRecord RowToRecord(const PgResult& r, int row) {
  JournalRecord record;
  record.id = r.Text(row, 0);
  record.station = r.Text(row, 1);
  record.adapter = r.Text(row, 2);
  record.kind = ParseRecordKind(r.Text(row, 3)).value_or(RecordKind::kBurn);
  record.mac = r.Text(row, 4);
  record.unit_mac_before = r.Text(row, 5);
  record.chip = r.Text(row, 6);
  record.module_class = r.Text(row, 7);
  record.firmware_version = r.Text(row, 8);
  record.image_checksum = r.Text(row, 9);
  if (!r.IsNull(row, 10)) record.outcome = ParseOutcome(r.Text(row, 10));
  record.started = r.Integer(row, 11);
  record.finished = OptionalInteger(r, row, 12);
  record.committed = OptionalInteger(r, row, 13);
  record.burn_ms = OptionalInteger(r, row, 14);
  record.return_ms = OptionalInteger(r, row, 15);
  record.attempt = r.Integer(row, 16);
  record.config = r.Text(row, 17);
  record.firmware_name = r.Text(row, 18);
  record.firmware_size = OptionalInteger(r, row, 19);
  record.firmware_sha256 = r.Text(row, 20);
  record.reason = r.Text(row, 21);
  if (!r.IsNull(row, 22)) record.verified = r.Text(row, 22) == "t";
  record.other_bytes_changed = OptionalInteger(r, row, 23);
  return record;
}

MacLease RowToLease(const PgResult& r, int row) {
  return MacLease{r.Integer(row, 0), r.Text(row, 1), r.Integer(row, 2), r.Integer(row, 3),
                  OptionalInteger(r, row, 4), OptionalInteger(r, row, 5), r.Integer(row, 6)};
}

Params RecordParams(const JournalRecord& r) {
  return {r.id, r.station, OptionalText(r.adapter), std::string(RecordKindName(r.kind)), r.mac,
          OptionalText(r.unit_mac_before), OptionalText(r.chip), OptionalText(r.module_class),
          OptionalText(r.firmware_version), OptionalText(r.image_checksum), Text(r.started),
          OptionalText(r.config), OptionalText(r.firmware_name), OptionalText(r.firmware_size),
          OptionalText(r.firmware_sha256), OptionalText(r.reason)};
}

// Refusals that end an attempt before anything was claimed or sent.
bool ClaimsNothing(const JournalRecord& record) {
  if (record.kind != RecordKind::kBurn) return true;
  return record.outcome && IsRefusal(*record.outcome);
}

nlohmann::json JsonText(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

nlohmann::json JsonNumber(std::optional<int64_t> value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The records of one forwarding batch, in order, with what each statement reads.
std::string BatchJson(const std::vector<JournalRecord>& records) {
  nlohmann::json rows = nlohmann::json::array();
  int ord = 0;
  for (const JournalRecord& r : records) {
    const std::optional<int64_t> mac = MacNumber(r.mac);
    rows.push_back({
        {"ord", ord++},
        {"id", r.id},
        {"station", r.station},
        {"adapter", JsonText(r.adapter)},
        {"kind", std::string(RecordKindName(r.kind))},
        {"mac", r.mac},
        {"macnum", JsonNumber(mac)},
        {"claim", mac.has_value() && !ClaimsNothing(r)},
        {"unit_mac_before", JsonText(r.unit_mac_before)},
        {"chip", JsonText(r.chip)},
        {"module_class", JsonText(r.module_class)},
        {"firmware_version", JsonText(r.firmware_version)},
        {"image_checksum", JsonText(r.image_checksum)},
        {"started", r.started},
        {"config", JsonText(r.config)},
        {"firmware_name", JsonText(r.firmware_name)},
        {"firmware_size", JsonNumber(r.firmware_size)},
        {"firmware_sha256", JsonText(r.firmware_sha256)},
        {"reason", JsonText(r.reason)},
        {"committed", JsonNumber(r.committed)},
        {"outcome", r.outcome ? nlohmann::json(std::string(OutcomeName(*r.outcome))) : nlohmann::json(nullptr)},
        {"finished", r.outcome ? nlohmann::json(r.finished.value_or(r.started)) : nlohmann::json(nullptr)},
        {"burn_ms", JsonNumber(r.burn_ms)},
        {"return_ms", JsonNumber(r.return_ms)},
        {"verified", r.verified ? nlohmann::json(*r.verified) : nlohmann::json(nullptr)},
        {"other_bytes_changed", JsonNumber(r.other_bytes_changed)},
    });
  }
  // Invalid UTF-8 in a text (a station name typed on another code page) is replaced, not fatal.
  return rows.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::unique_ptr<PgJournal> PgJournal::OpenDirect(const std::string& target, JournalStatus* status) {
  std::unique_ptr<PgJournal> journal(new PgJournal());
  journal->target_ = target;
  journal->connection_ = PgConnection::Connect(target);
  if (!journal->connection_.Ok()) {
    *status = {journal->connection_.Error(), true, {}};
    return nullptr;
  }
  std::string error;
  std::optional<int> version = ReadPgSchemaVersion(journal->connection_, &error);
  if (!version) {
    *status = {"reading the schema version: " + error};
    return nullptr;
  }
  if (*version != kPgSchemaVersion) {
    *status = {*version == 0 ? std::string("the database holds no journal yet; run "
                                           "\"stampwright-tool journal init --journal TARGET\"")
                             : "the journal's schema version " + std::to_string(*version) +
                                   " is not this program's (" + std::to_string(kPgSchemaVersion) +
                                   ")"};
    return nullptr;
  }
  return journal;
}

std::unique_ptr<PgJournal> PgJournal::OpenStation(const std::string& target,
                                                  const std::string& station,
                                                  const std::string& outbox_path,
                                                  JournalStatus* status) {
  std::unique_ptr<PgJournal> journal(new PgJournal());
  journal->target_ = target;
  journal->station_ = station;
  journal->outbox_ = SqliteJournal::Open(outbox_path, status);
  if (!journal->outbox_) return nullptr;
  sqlite3* db = journal->outbox_->database();
  if (auto error = Execute(db, kOutboxTables)) {
    *status = {"outbox '" + outbox_path + "': " + *error};
    return nullptr;
  }
  // A claim taken in the outbox (a leased MAC, the database away) also refuses what the last
  // central copy knows burned.
  PgJournal* self = journal.get();
  journal->outbox_->burned_elsewhere = [self](const std::string& mac,
                                              std::optional<BurnedMac>* burned) {
    return self->LeaseBurned(mac, burned);
  };
  // Everything the database has not confirmed, oldest first: after a restart too.
  SqliteStatement pending;
  if (!pending.Prepare(db,
                       "SELECT r.id FROM records r LEFT JOIN outbox_forwarded f ON f.id = r.id"
                       " WHERE f.id IS NULL OR (r.committed IS NOT NULL AND f.committed = 0)"
                       " OR (r.outcome IS NOT NULL AND f.finished = 0) ORDER BY r.seq")) {
    *status = {"outbox '" + outbox_path + "': " + std::string(sqlite3_errmsg(db))};
    return nullptr;
  }
  while (pending.Step() == SQLITE_ROW) journal->queue_.push_back(pending.Text(0));

  journal->last_attempt_ = journal->now();
  journal->connection_ = PgConnection::Connect(target);
  if (journal->connection_.Ok()) {
    std::string error;
    std::optional<int> version = ReadPgSchemaVersion(journal->connection_, &error);
    if (version && *version != kPgSchemaVersion) {
      *status = {*version == 0 ? std::string("the database holds no journal yet; run "
                                             "\"stampwright-tool journal init --journal TARGET\"")
                               : "the journal's schema version " + std::to_string(*version) +
                                     " is not this program's (" +
                                     std::to_string(kPgSchemaVersion) + ")"};
      return nullptr;
    }
    journal->FetchLeases();
    journal->ForwardAll();
  } else {
    journal->last_error_ = journal->connection_.Error();
    journal->announced_lost_ = true;
    std::fprintf(stderr, "journal: %s unavailable at start: %s\n",
                 DescribePgTarget(target).c_str(), journal->last_error_.c_str());
  }
  *status = {};
  return journal;
}

void PgJournal::Lost(const std::string& message) {
  last_error_ = message;
  connection_ = PgConnection();
  if (announced_lost_) return;
  announced_lost_ = true;
  if (observer_) observer_(false, message);
}

bool PgJournal::Reconnect() {
  if (connection_.Ok()) return true;
  const int64_t t = now();
  if (t - last_attempt_ < kReconnectEveryMs && t >= last_attempt_) return false;
  last_attempt_ = t;
  PgConnection fresh = PgConnection::Connect(target_);
  if (!fresh.Ok()) {
    Lost(fresh.Error());
    return false;
  }
  connection_ = std::move(fresh);
  if (announced_lost_) {
    announced_lost_ = false;
    if (observer_) observer_(true, DescribePgTarget(target_));
  }
  FetchLeases();
  return connection_.Ok();
}

PgResult PgJournal::Run(const PgStatement& statement, std::vector<std::optional<std::string>> params) {
  if (!connection_.Ok()) return PgResult();
  PgResult result = connection_.Exec(statement, params);
  if (!result.Ok() && !connection_.Ok()) Lost(connection_.Error());
  return result;
}

JournalStatus PgJournal::Unavailable() const {
  return {last_error_.empty() ? std::string("no connection to the database") : last_error_, true,
          {}};
}

void PgJournal::Poll() {
  if (connection_.Ok()) {
    // An idle station notices a lost database on the tick, not only at the next Burn.
    PgResult alive = connection_.Exec("SELECT 1");
    if (!alive.Ok() && !connection_.Ok()) Lost(connection_.Error());
  }
  if (!connection_.Ok()) {
    if (!Reconnect()) return;
  } else if (now() - last_lease_fetch_ >= kLeaseRefreshMs) {
    FetchLeases();
  }
  if (!queue_.empty()) ForwardAll();
  PersistMarks();
}

bool PgJournal::FetchLeases() {
  if (!outbox_ || !connection_.Ok()) return false;
  PgResult live = Run(kLiveLeases, {station_});
  if (!live.Ok()) return false;
  PgResult burned = Run(kBurnedInLeases, {station_});
  if (!burned.Ok()) return false;
  sqlite3* db = outbox_->database();
  if (Execute(db, "BEGIN IMMEDIATE")) return false;
  bool ok = !Execute(db, "DELETE FROM outbox_leases") &&
            !Execute(db, "DELETE FROM outbox_lease_burned");
  SqliteStatement insert_lease, insert_burned;
  ok = ok &&
       insert_lease.Prepare(db,
                            "INSERT INTO outbox_leases (id, first, last, until) VALUES (?1, ?2, ?3, ?4)") &&
       insert_burned.Prepare(db,
                             "INSERT INTO outbox_lease_burned (mac, station, committed) VALUES (?1, ?2, ?3)");
  for (int row = 0; ok && row < live.Rows(); ++row) {
    MacLease lease = RowToLease(live, row);
    insert_lease.BindInt(1, lease.id);
    insert_lease.BindInt(2, lease.first);
    insert_lease.BindInt(3, lease.last);
    insert_lease.BindInt(4, lease.until);
    ok = insert_lease.Step() == SQLITE_DONE;
    insert_lease.Reset();
  }
  for (int row = 0; ok && row < burned.Rows(); ++row) {
    insert_burned.BindText(1, burned.Text(row, 0));
    insert_burned.BindText(2, burned.Text(row, 1));
    insert_burned.BindInt(3, burned.Integer(row, 2));
    ok = insert_burned.Step() == SQLITE_DONE;
    insert_burned.Reset();
  }
  if (!ok || Execute(db, "COMMIT")) {
    Execute(db, "ROLLBACK");
    return false;
  }
  last_lease_fetch_ = now();
  return true;
}

std::vector<MacLease> PgJournal::LocalLeases() {
  std::vector<MacLease> leases;
  if (!outbox_) return leases;
  SqliteStatement select;
  if (!select.Prepare(outbox_->database(),
                      "SELECT id, first, last, until FROM outbox_leases ORDER BY first")) {
    return leases;
  }
  while (select.Step() == SQLITE_ROW) {
    leases.push_back(MacLease{select.Int(0), station_, select.Int(1), select.Int(2),
                              select.OptionalInt(3), std::nullopt, 0});
  }
  return leases;
}

bool PgJournal::Leased(int64_t mac) {
  const int64_t t = now();
  for (const MacLease& lease : LocalLeases()) {
    if (mac >= lease.first && mac <= lease.last && (!lease.until || *lease.until > t)) return true;
  }
  return false;
}

JournalStatus PgJournal::ClaimOnline(const JournalRecord& record, int64_t mac) {
  // The claim and the attempt's record in one transaction: one round to the disk.
  if (!connection_.Exec("BEGIN").Ok()) {
    if (!connection_.Ok()) Lost(connection_.Error());
    return Unavailable();
  }
  const std::string station = outbox_ ? station_ : record.station;
  const bool rework = !record.unit_mac_before.empty() && record.unit_mac_before == record.mac;
  PgResult claimed = Run(kLockMac, {Text(mac)});
  if (claimed.Ok()) {
    claimed = Run(kClaim, {record.id, Text(mac), station, Text(record.started), record.mac,
                           rework ? "true" : "false"});
  }
  const bool inserted_claim = claimed.Ok() && claimed.Rows() == 1 && claimed.Integer(0, 0) == 1;
  if (inserted_claim) {
    PgResult inserted = Run(kInsertRecord, RecordParams(record));
    if (inserted.Ok()) {
      PgResult committed = connection_.Exec("COMMIT");
      if (committed.Ok()) return {};
      claimed = std::move(committed);
    } else {
      claimed = std::move(inserted);
    }
  }
  if (!connection_.Ok()) {
    Lost(connection_.Error());
    return Unavailable();
  }
  connection_.Exec("ROLLBACK");
  if (claimed.Ok() && !inserted_claim && claimed.Rows() == 1) {
    if (!claimed.IsNull(0, 1)) {
      const BurnedMac burned{claimed.Text(0, 1), claimed.Integer(0, 2)};
      return {{}, false, AlreadyBurnedText(record.mac, burned), burned};
    }
    const std::string who = claimed.IsNull(0, 3) ? "?" : claimed.Text(0, 3);
    return {{}, false, "MAC " + record.mac + " is leased to station " + who + "."};
  }
  if (claimed.SqlState() == kSqlStateUniqueViolation &&
      claimed.ConstraintName() == "claims_one_open_per_mac") {
    PgResult holder = Run(kOpenClaimHolder, {Text(mac)});
    const std::string who = holder.Ok() && holder.Rows() > 0 ? holder.Text(0, 0) : "?";
    return {{}, false, "MAC " + record.mac + " is being burned by station " + who + "."};
  }
  return {"claiming MAC " + record.mac + ": " + claimed.Error()};
}

void PgJournal::Enqueue(const std::string& id) { queue_.push_back(id); }

JournalStatus PgJournal::Append(JournalRecord& record) {
  if (record.id.empty()) record.id = NewRecordId();
  const bool claims = record.kind == RecordKind::kBurn && !record.outcome;
  if (!outbox_ && claims) {
    // The tool's burn claims its MAC like a station's, and only while the database answers.
    const std::optional<int64_t> mac = MacNumber(record.mac);
    if (!mac) return {"the MAC '" + record.mac + "' is not 12 hex digits"};
    if (!connection_.Ok()) return Unavailable();
    return ClaimOnline(record, *mac);
  }
  if (!outbox_ || record.kind == RecordKind::kScrap || record.kind == RecordKind::kRelease) {
    // Scraps and releases are a supervisor's word, given to the database itself, never queued.
    if (!connection_.Ok()) return Unavailable();
    PgResult inserted = Run(kInsertRecord, RecordParams(record));
    if (!inserted.Ok()) {
      if (!connection_.Ok()) return Unavailable();
      return {inserted.Error()};
    }
    return {};
  }
  // A burn about to send its first module frame claims its MAC first: in the database while it
  // answers, else in the outbox when the MAC is this station's by lease; else refused.
  if (claims) {
    const std::optional<int64_t> mac = MacNumber(record.mac);
    if (!mac) return {"the MAC '" + record.mac + "' is not 12 hex digits"};
    if (!connection_.Ok()) Reconnect();
    // Older records first, so that the database receives them in order.
    if (connection_.Ok() && ForwardAll()) {
      JournalStatus claim = ClaimOnline(record, *mac);
      if (!claim.ok() && !claim.unavailable) return claim;
      if (claim.unavailable && !Leased(*mac)) return claim;
      if (claim.ok()) {
        // In the database already: the outbox keeps its copy, with nothing left to send, and
        // need not wait for the disk.
        LocalSync(false);
        JournalStatus stored = outbox_->Append(record, SqliteJournal::ClaimCheck::kDecidedElsewhere);
        if (stored.ok()) unmarked_.push_back({record.id, false, false});
        return stored;
      }
    } else if (!Leased(*mac)) {
      return Unavailable();
    }
  }
  return StoreAndForward([&] { return outbox_->Append(record); }, record.id);
}

void PgJournal::LocalSync(bool full) {
  if (local_full_ == full) return;
  Execute(outbox_->database(), full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
  local_full_ = full;
}

// While the database answers, a record it takes at once is durable there, and the outbox's copy
// need not wait for the disk; when it did not take it, the outbox is made durable before the
// call returns (a checkpoint syncs the log). Without the database, every write waits for the
// disk.
JournalStatus PgJournal::StoreAndForward(const std::function<JournalStatus()>& write,
                                         const std::string& id) {
  LocalSync(!connection_.Ok());
  JournalStatus stored = write();
  if (!stored.ok()) return stored;
  Enqueue(id);
  if (!ForwardAll() && !local_full_) {
    if (auto error = Execute(outbox_->database(), "PRAGMA wal_checkpoint(FULL)")) {
      return {"writing the outbox: " + *error};
    }
  }
  return {};
}

JournalStatus PgJournal::NoteCommit(const std::string& id, int64_t utc_ms) {
  if (!outbox_) {
    // Its own transaction, before the outcome's that ends the claim.
    PgResult noted = Run(kInsertCommit, {id, Text(utc_ms)});
    if (!noted.Ok()) return connection_.Ok() ? JournalStatus{noted.Error()} : Unavailable();
    if (noted.Rows() != 1) return {"writing the journal: no open attempt " + id};
    return {};
  }
  // Durable here: the commit note reaches the database only with the outcome.
  LocalSync(true);
  JournalStatus stored = outbox_->NoteCommit(id, utc_ms);
  if (!stored.ok()) return stored;
  // The commit travels with the outcome: until then the attempt's open claim keeps every other
  // station off the MAC, and a restart forwards it from the outbox.
  Enqueue(id);
  return {};
}

JournalStatus PgJournal::Finish(const std::string& id, Outcome outcome, int64_t finished,
                                std::optional<int64_t> burn_ms, std::optional<int64_t> return_ms,
                                std::optional<bool> verified,
                                std::optional<int64_t> other_bytes_changed) {
  if (!outbox_) {
    return FinishDirect(id, outcome, finished, burn_ms, return_ms, verified, other_bytes_changed);
  }
  return StoreAndForward(
      [&] {
        return outbox_->Finish(id, outcome, finished, burn_ms, return_ms, verified,
                               other_bytes_changed);
      },
      id);
}

JournalStatus PgJournal::FinishDirect(const std::string& id, Outcome outcome, int64_t finished,
                                      std::optional<int64_t> burn_ms,
                                      std::optional<int64_t> return_ms,
                                      std::optional<bool> verified,
                                      std::optional<int64_t> other_bytes_changed) {
  if (!connection_.Ok() || !connection_.Exec("BEGIN").Ok()) {
    if (!connection_.Ok()) Lost(connection_.Error());
    return Unavailable();
  }
  PgResult done = Run(kLockRecordMac, {id});
  if (done.Ok()) {
    done = Run(kInsertOutcome,
               {id, std::string(OutcomeName(outcome)), Text(finished), OptionalText(burn_ms),
                OptionalText(return_ms),
                verified ? std::optional<std::string>(*verified ? "true" : "false") : std::nullopt,
                OptionalText(other_bytes_changed)});
  }
  if (done.Ok() && done.Integer(0, 0) == 1 && connection_.Exec("COMMIT").Ok()) return {};
  if (!connection_.Ok()) {
    Lost(connection_.Error());
    return Unavailable();
  }
  connection_.Exec("ROLLBACK");
  if (done.Ok()) return {"writing the journal: no open attempt " + id};
  return {"writing the journal: " + done.Error()};
}

JournalStatus PgJournal::CloseInterrupted(const std::string& station, int64_t now_ms, int* closed) {
  if (!outbox_) return {"the tool closes no attempts"};
  // The outbox first: a station restarted during an outage closes what it knows of.
  std::vector<JournalRecord> open;
  RecordFilter mine;
  mine.station = station;
  JournalStatus read = outbox_->Read(mine, &open);
  if (!read.ok()) return read;
  LocalSync(true);
  JournalStatus status = outbox_->CloseInterrupted(station, now_ms, closed);
  if (!status.ok()) return status;
  for (const JournalRecord& record : open) {
    if (!record.outcome && (record.kind == RecordKind::kBurn || record.kind == RecordKind::kFirmware)) {
      Enqueue(record.id);
    }
  }
  // Then what only the database still holds open, once everything local is there.
  if (ForwardAll() && connection_.Exec("BEGIN").Ok()) {
    bool done = Run(kLockStationClaims, {station}).Ok();
    PgResult central;
    if (done) central = Run(kCloseInterruptedCentral, {station, Text(now_ms)});
    done = done && central.Ok() && Run(kEndStationClaims, {station, Text(now_ms)}).Ok() &&
           connection_.Exec("COMMIT").Ok();
    if (done && closed) *closed += static_cast<int>(central.Integer(0, 0));
    if (!done && connection_.Ok()) connection_.Exec("ROLLBACK");
  }
  return {};
}

bool PgJournal::ForwardAll() {
  if (!outbox_) return true;
  while (!queue_.empty()) {
    if (!connection_.Ok()) return false;
    if (!ForwardBatch(kForwardBatch)) return false;
  }
  return true;
}

bool PgJournal::ForwardBatch(size_t limit) {
  // One batch: the first distinct ids of the queue, each sent whole (record, commit, outcome).
  std::vector<std::string> ids;
  std::unordered_set<std::string> seen;
  size_t taken = 0;
  for (; taken < queue_.size() && ids.size() < limit; ++taken) {
    if (seen.insert(queue_[taken]).second) ids.push_back(queue_[taken]);
  }
  std::vector<JournalRecord> records;
  for (const std::string& id : ids) {
    std::optional<JournalRecord> record;
    if (!outbox_->ReadOne(id, &record).ok()) return false;
    if (record) records.push_back(std::move(*record));
  }
  if (!connection_.Exec("BEGIN").Ok()) {
    if (!connection_.Ok()) Lost(connection_.Error());
    return false;
  }
  // A refusal that is not a lost connection: the batch is sent again one record at a time, and a
  // record the database refuses on its own is set aside (it stays in the outbox, and stderr says
  // so) instead of holding up every record after it.
  auto failed = [&](const PgResult& result) {
    if (!connection_.Ok()) return false;
    const std::string message = result.Error();
    connection_.Exec("ROLLBACK");
    if (records.size() > 1 || limit > 1) return ForwardBatch(1);
    std::fprintf(stderr, "journal: the database refused record %s: %s; it stays in the outbox\n",
                 ids.front().c_str(), message.c_str());
    for (const JournalRecord& r : records) unmarked_.push_back({r.id, true, true});
    PersistMarks();
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(taken));
    return true;
  };
  // The whole batch as one JSON parameter, read by each statement: a few round trips per batch
  // instead of several per record.
  const std::string batch = BatchJson(records);
  for (const PgStatement* statement :
       {&kLockBatchMacs, &kForwardRecords, &kForwardClaims, &kFlagBurnedTwice, &kForwardCommits,
        &kForwardOutcomes, &kForwardEndClaims}) {
    PgResult done = Run(*statement, {batch});
    if (!done.Ok()) return failed(done);
  }
  if (forward_hook) forward_hook();
  if (!connection_.Exec("COMMIT").Ok()) {
    if (!connection_.Ok()) Lost(connection_.Error());
    return false;
  }
  for (const JournalRecord& r : records) {
    unmarked_.push_back({r.id, r.committed.has_value(), r.outcome.has_value()});
  }
  if (unmarked_.size() >= kForwardBatch) PersistMarks();
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(taken));
  return true;
}

void PgJournal::PersistMarks() {
  // What the database has (or refused for good) is noted in the outbox now and then, not after
  // every record: a restart before the note sends those records again, which changes nothing.
  if (!outbox_ || unmarked_.empty()) return;
  sqlite3* db = outbox_->database();
  SqliteStatement mark;
  if (Execute(db, "BEGIN IMMEDIATE")) return;
  if (mark.Prepare(db, "INSERT OR REPLACE INTO outbox_forwarded (id, committed, finished)"
                       " VALUES (?1, ?2, ?3)")) {
    for (const Mark& m : unmarked_) {
      mark.BindText(1, m.id);
      mark.BindInt(2, int64_t{m.committed});
      mark.BindInt(3, int64_t{m.finished});
      mark.Step();
      mark.Reset();
    }
  }
  if (!Execute(db, "COMMIT")) unmarked_.clear();
}

PgJournal::~PgJournal() { PersistMarks(); }

JournalStatus PgJournal::LeaseBurned(const std::string& mac, std::optional<BurnedMac>* burned) {
  SqliteStatement select;
  if (!select.Prepare(outbox_->database(),
                      "SELECT station, committed FROM outbox_lease_burned WHERE mac = ?1")) {
    return {"reading the outbox: " + std::string(sqlite3_errmsg(outbox_->database()))};
  }
  select.BindText(1, mac);
  if (select.Step() == SQLITE_ROW) {
    BurnedMac central{select.Text(0), select.Int(1)};
    if (!*burned || (*burned)->committed < central.committed) *burned = central;
  }
  return {};
}

JournalStatus PgJournal::LocalFindBurned(const std::string& mac, std::optional<BurnedMac>* burned) {
  JournalStatus status = outbox_->FindBurned(mac, burned);
  if (!status.ok()) return status;
  return LeaseBurned(mac, burned);
}

JournalStatus PgJournal::FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) {
  burned->reset();
  if (outbox_) {
    if (!connection_.Ok()) Reconnect();
    // The station's own records reach the database before it is asked.
    if (!ForwardAll()) {
      const std::optional<int64_t> number = MacNumber(mac);
      if (number && Leased(*number)) return LocalFindBurned(mac, burned);
      return Unavailable();
    }
  }
  PgResult last = Run(kLastCommit, {mac});
  if (!last.Ok()) {
    if (!connection_.Ok()) {
      const std::optional<int64_t> number = MacNumber(mac);
      if (outbox_ && number && Leased(*number)) return LocalFindBurned(mac, burned);
      return Unavailable();
    }
    return {"reading the journal: " + last.Error()};
  }
  if (last.Rows() == 1 && last.Text(0, 2) != "t") {
    *burned = BurnedMac{last.Text(0, 0), last.Integer(0, 1)};
  }
  return {};
}

JournalStatus PgJournal::ReadCentral(const RecordFilter& filter, std::vector<JournalRecord>* records) {
  PgResult rows = Run(kSelectRecordsStatement, {OptionalText(filter.mac), OptionalText(filter.since),
                                                OptionalText(filter.until),
                                                OptionalText(filter.station)});
  if (!rows.Ok()) {
    if (!connection_.Ok()) return Unavailable();
    return {"reading the journal: " + rows.Error()};
  }
  for (int row = 0; row < rows.Rows(); ++row) records->push_back(RowToRecord(rows, row));
  return {};
}

JournalStatus PgJournal::Read(const RecordFilter& filter, std::vector<JournalRecord>* records) {
  if (outbox_) {
    if (!connection_.Ok()) Reconnect();
    // While the database is away the station reads what it knows: its own outbox.
    if (!ForwardAll()) return outbox_->Read(filter, records);
    const size_t before = records->size();
    JournalStatus status = ReadCentral(filter, records);
    if (status.unavailable) {
      records->resize(before);
      return outbox_->Read(filter, records);
    }
    return status;
  }
  return ReadCentral(filter, records);
}

JournalStatus PgJournal::ReadOne(const std::string& id, std::optional<JournalRecord>* record) {
  record->reset();
  if (outbox_) {
    JournalStatus local = outbox_->ReadOne(id, record);
    if (!local.ok() || *record) return local;
  }
  PgResult rows = Run(kSelectRecordStatement, {id});
  if (!rows.Ok()) return connection_.Ok() ? JournalStatus{rows.Error()} : Unavailable();
  if (rows.Rows() == 1) *record = RowToRecord(rows, 0);
  return {};
}

JournalStatus PgJournal::GrantLease(const std::string& station, int64_t first, int64_t count,
                                    std::optional<int64_t> until, MacLease* granted) {
  if (count < 1 || first < 0 || first >= kMacSpace || count > kMacSpace - first) {
    return {"a lease covers 1 or more MACs inside the 48-bit space"};
  }
  PgResult made = Run(kGrantLease, {station, Text(first), Text(first + count), OptionalText(until)});
  if (!made.Ok()) {
    if (!connection_.Ok()) return Unavailable();
    if (made.SqlState() == kSqlStateExclusionViolation) {
      return {"the range overlaps a live lease; the database refused it"};
    }
    return {made.Error()};
  }
  if (granted) {
    *granted = MacLease{made.Integer(0, 0), station, first, first + count - 1, until,
                        std::nullopt, made.Integer(0, 1)};
  }
  return {};
}

JournalStatus PgJournal::ListLeases(std::vector<MacLease>* leases) {
  PgResult rows = Run(kAllLeases, {});
  if (!rows.Ok()) return connection_.Ok() ? JournalStatus{rows.Error()} : Unavailable();
  for (int row = 0; row < rows.Rows(); ++row) leases->push_back(RowToLease(rows, row));
  return {};
}

JournalStatus PgJournal::RevokeLease(int64_t id) {
  PgResult revoked = Run(kRevokeLease, {Text(id)});
  if (!revoked.Ok()) return connection_.Ok() ? JournalStatus{revoked.Error()} : Unavailable();
  if (revoked.Rows() != 1) return {"no live lease " + std::to_string(id)};
  return {};
}

JournalStatus PgJournal::ReadFlagged(std::vector<FlaggedRecord>* flagged) {
  flagged->clear();
  if (outbox_ && !connection_.Ok()) Reconnect();
  PgResult rows = Run(kFlagged, {});
  if (!rows.Ok()) return connection_.Ok() ? JournalStatus{rows.Error()} : Unavailable();
  for (int row = 0; row < rows.Rows(); ++row) {
    flagged->push_back({rows.Text(row, 0), rows.Text(row, 1), rows.Text(row, 2), rows.Text(row, 3)});
  }
  return {};
}

}  // namespace stampwright
