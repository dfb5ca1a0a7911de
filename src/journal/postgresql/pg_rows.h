#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/pg_connection.h"
#include "journal/record.h"

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

// A MAC the line burned inside a station's leases.
struct LeaseBurnedMac {
  std::string mac;
  BurnedMac burned;
};

// What the line's statements bind and read: every value as text, nullopt for SQL NULL.
using PgParams = std::vector<std::optional<std::string>>;

std::string PgText(int64_t value);
// An empty text or an absent number is NULL.
std::optional<std::string> PgOptionalText(const std::string& text);
std::optional<std::string> PgOptionalText(std::optional<int64_t> value);
std::optional<int64_t> PgOptionalInteger(const PgResult& result, int row, int column);

// 12 hex digits, any case, as the 48-bit number the leases and claims use.
std::optional<int64_t> MacNumber(const std::string& mac);

// A row of PgRecordSelectList() (pg_record_sql.h).
JournalRecord PgRowToRecord(const PgResult& result, int row);
// A row of id, station, first, last, until, revoked, granted.
MacLease PgRowToLease(const PgResult& result, int row);
// The parameters of PgInsertRecordSql(): the fields a station gives with the record.
PgParams PgRecordParams(const JournalRecord& record);
// The parameters of PgInsertOutcomeSql(): the record's id, then its end.
PgParams PgEndParams(const std::string& id, const AttemptEnd& end);

// The records of one forwarding batch as the JSON array the forward statements read.
std::string PgBatchJson(const std::vector<JournalRecord>& records);

}  // namespace stampwright
