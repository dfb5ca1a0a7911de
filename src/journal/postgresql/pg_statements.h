#pragma once

// The statements a line's journal runs on its database. SQL text only as written here or, for
// the parts that list a record's fields, as pg_record_sql.cpp builds it once from the fields'
// table; every value a bound parameter.

#include <string>

#include "journal/postgresql/pg_connection.h"
#include "journal/postgresql/pg_record_sql.h"

namespace stampwright::pg_statements {

// "r.id, r.station, ..., o.outcome, stampwright.to_ms(r.started), ...": every field of a record.
inline const std::string kRecordColumns = PgRecordSelectList();
inline constexpr const char* kRecordJoins =
    " FROM stampwright.records r LEFT JOIN stampwright.commits c ON c.record_id = r.id"
    " LEFT JOIN stampwright.outcomes o ON o.record_id = r.id";

inline const std::string kSelectRecords =
    "SELECT " + kRecordColumns + kRecordJoins +
    " WHERE ($1::text IS NULL OR r.mac = $1) AND ($2::bigint IS NULL OR r.started >="
    " stampwright.from_ms($2)) AND ($3::bigint IS NULL OR r.started < stampwright.from_ms($3))"
    " AND ($4::text IS NULL OR r.station = $4) ORDER BY r.started, r.seq";
inline const std::string kSelectRecord =
    "SELECT " + kRecordColumns + kRecordJoins + " WHERE r.id = $1::uuid";

inline const PgStatement kSelectRecordsStatement{"select_records", kSelectRecords.c_str()};
inline const PgStatement kSelectRecordStatement{"select_record", kSelectRecord.c_str()};

// Every write that claims a MAC, notes its commit or ends its claim holds the MAC's advisory
// lock (its 48-bit number as the key; the schema's own lock lies above 2^48) until it commits. A
// claim takes the lock before its statement starts, so under READ COMMITTED the statement sees
// every transaction that ended a claim of that MAC, and with it the commit noted in the same or
// an earlier transaction: a station's commit always reaches the database before, or together
// with, the outcome that ends its claim (NoteCommit, then Finish; or one forwarded batch).
inline constexpr PgStatement kLockMac{"lock_mac", "SELECT pg_advisory_xact_lock($1::bigint)"};
// The same for every burn MAC of a forwarded batch, lowest first so two batches never deadlock.
inline constexpr PgStatement kLockBatchMacs{
    "lock_batch_macs",
    "SELECT pg_advisory_xact_lock(m) FROM (SELECT DISTINCT macnum AS m"
    "   FROM json_to_recordset($1::json) AS x(macnum bigint, kind text)"
    "   WHERE macnum IS NOT NULL AND kind = 'burn' ORDER BY m) s"};
inline constexpr PgStatement kLockStationClaims{
    "lock_station_claims",
    "SELECT pg_advisory_xact_lock(mac) FROM (SELECT mac FROM stampwright.claims"
    "   WHERE station = $1 AND ended IS NULL ORDER BY mac) s"};

// The claim: one statement under the MAC's lock, so the database alone decides. Nothing is
// inserted when the MAC is burned (a confirmed commit with no release after it; not asked for
// the rework of the unit that carries it, $6) or lies in another station's live lease; a unique
// violation when another attempt holds it open. The row says which: inserted, the burning
// station and its commit, the lease's station.
inline constexpr PgStatement kClaim{
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
inline constexpr PgStatement kOpenClaimHolder{
    "open_claim_holder",
    "SELECT station FROM stampwright.claims WHERE mac = $1::bigint AND ended IS NULL"};

// One record as it is given: by the claim's transaction, and for a supervisor's scrap or
// release. The attempt number counts the line's attempts of its MAC. "INSERT INTO
// stampwright.records (id, ..., started, attempt, ...) VALUES ($1::uuid, ...,
// stampwright.from_ms($11::bigint), CASE WHEN $4 IN ('burn', 'firmware') THEN ... END, ...)
// ON CONFLICT (id) DO NOTHING", its parameters as PgRecordParams gives them.
inline const std::string kInsertRecordSql = PgInsertRecordSql();
inline const PgStatement kInsertRecord{"insert_record", kInsertRecordSql.c_str()};

// Forwarding: a batch of records as one JSON array (see PgBatchJson); each statement does nothing
// for rows that are there already (the record's UUID), so a batch sent twice, after a lost
// answer or a restart, changes nothing. A record's attempt number counts the line's attempts of
// its MAC, those earlier in the same batch included.
inline const std::string kForwardRecordsSql = PgForwardRecordsSql();
inline const PgStatement kForwardRecords{"forward_records", kForwardRecordsSql.c_str()};
// Claims of burns made in the outbox (leased MACs while the database was away), ended at once
// when the outcome is known. Never displaces an open claim of another attempt: that conflict,
// too, is left alone, and reconcile shows it.
inline constexpr PgStatement kForwardClaims{
    "forward_claims",
    "INSERT INTO stampwright.claims (record_id, mac, station, claimed, ended, outcome)"
    " SELECT id, macnum, station, stampwright.from_ms(started), stampwright.from_ms(finished),"
    "   outcome FROM json_to_recordset($1::json) AS x(ord int, id uuid, macnum bigint,"
    "   station text, started bigint, finished bigint, outcome text, claim boolean)"
    " WHERE claim ORDER BY ord ON CONFLICT DO NOTHING"};
// A burn committed from a lease while the database was away, of a MAC that another attempt's
// commit had burned with no release between the two: kept, and flagged for reconcile. Run before
// the batch's own commits go in; leases that never overlap keep this from happening.
inline constexpr PgStatement kFlagBurnedTwice{
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
inline constexpr PgStatement kFlagged{
    "flagged",
    "SELECT f.record_id, r.mac, r.station, f.reason FROM stampwright.flagged f"
    " JOIN stampwright.records r ON r.id = f.record_id ORDER BY f.flagged, r.seq"};

// The tool's burns go straight to the database: the commit, then the outcome with the claim's
// end in one transaction under the MAC's lock.
inline constexpr PgStatement kInsertCommit{
    "insert_commit",
    "INSERT INTO stampwright.commits (record_id, committed)"
    " SELECT id, stampwright.from_ms($2::bigint) FROM stampwright.records"
    " WHERE id = $1::uuid AND NOT EXISTS (SELECT 1 FROM stampwright.outcomes o"
    "   WHERE o.record_id = $1::uuid)"
    " ON CONFLICT DO NOTHING RETURNING 1"};
inline constexpr PgStatement kLockRecordMac{
    "lock_record_mac",
    "SELECT pg_advisory_xact_lock(mac) FROM stampwright.claims WHERE record_id = $1::uuid"};
// The outcome and what the attempt learnt, with its claim's end.
inline const std::string kInsertOutcomeSql = PgInsertOutcomeSql();
inline const PgStatement kInsertOutcome{"insert_outcome", kInsertOutcomeSql.c_str()};

inline constexpr PgStatement kForwardCommits{
    "forward_commits",
    "INSERT INTO stampwright.commits (record_id, committed)"
    " SELECT id, stampwright.from_ms(committed)"
    " FROM json_to_recordset($1::json) AS x(id uuid, committed bigint)"
    " WHERE committed IS NOT NULL ON CONFLICT DO NOTHING"};
inline const std::string kForwardOutcomesSql = PgForwardOutcomesSql();
inline const PgStatement kForwardOutcomes{"forward_outcomes", kForwardOutcomesSql.c_str()};
inline constexpr PgStatement kForwardEndClaims{
    "forward_end_claims",
    "UPDATE stampwright.claims c SET ended = stampwright.from_ms(x.finished), outcome = x.outcome"
    " FROM json_to_recordset($1::json) AS x(id uuid, outcome text, finished bigint)"
    " WHERE c.record_id = x.id AND c.ended IS NULL AND x.outcome IS NOT NULL"};

inline constexpr PgStatement kLastCommit{
    "last_commit",
    "SELECT r.station, stampwright.to_ms(c.committed), EXISTS (SELECT 1 FROM stampwright.records x"
    "   WHERE x.mac = r.mac AND x.kind = 'release' AND x.started > c.committed)"
    " FROM stampwright.records r JOIN stampwright.commits c ON c.record_id = r.id"
    " WHERE r.mac = $1 AND r.kind = 'burn' ORDER BY c.committed DESC LIMIT 1"};

// Attempts of a station that the database holds without an outcome and the outbox does not
// know (its outbox was lost): closed as "interrupted", and their claims ended.
inline constexpr PgStatement kCloseInterruptedCentral{
    "close_interrupted",
    "WITH open AS (SELECT r.id FROM stampwright.records r WHERE r.station = $1"
    "   AND r.kind IN ('burn', 'firmware')"
    "   AND NOT EXISTS (SELECT 1 FROM stampwright.outcomes o WHERE o.record_id = r.id)),"
    " closed AS (INSERT INTO stampwright.outcomes (record_id, outcome, finished)"
    "   SELECT id, 'interrupted', stampwright.from_ms($2) FROM open RETURNING record_id)"
    " SELECT count(*) FROM closed"};
inline constexpr PgStatement kEndStationClaims{
    "end_station_claims",
    "UPDATE stampwright.claims SET ended = stampwright.from_ms($2), outcome = 'interrupted'"
    " WHERE station = $1 AND ended IS NULL"};

inline constexpr PgStatement kLiveLeases{
    "live_leases",
    "SELECT id, station, lower(macs), upper(macs) - 1, stampwright.to_ms(until),"
    " stampwright.to_ms(revoked), stampwright.to_ms(granted) FROM stampwright.leases"
    " WHERE station = $1 AND revoked IS NULL AND (until IS NULL OR until > now())"
    " AND granted <= now() ORDER BY lower(macs)"};
// What the line burned inside this station's leases, for its guard while the database is away.
inline constexpr PgStatement kBurnedInLeases{
    "burned_in_leases",
    "SELECT DISTINCT ON (r.mac) r.mac, r.station, stampwright.to_ms(c.committed)"
    " FROM stampwright.records r JOIN stampwright.commits c ON c.record_id = r.id"
    " JOIN stampwright.leases l ON l.station = $1 AND l.revoked IS NULL"
    "   AND (l.until IS NULL OR l.until > now())"
    "   AND r.mac ~ '^[0-9A-F]{12}$' AND l.macs @> ('x' || lpad(r.mac, 16, '0'))::bit(64)::bigint"
    " WHERE r.kind = 'burn' AND NOT EXISTS (SELECT 1 FROM stampwright.records x"
    "   WHERE x.mac = r.mac AND x.kind = 'release' AND x.started > c.committed)"
    " ORDER BY r.mac, c.committed DESC"};

}  // namespace stampwright::pg_statements
