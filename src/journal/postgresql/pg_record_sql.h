#pragma once

// The line's statements that list a record's fields, built once from the fields' table: a field
// added there reaches every one of them, in its place (see pg_statements.h for the statements).

#include <string>

#include "journal/record_fields.h"

namespace stampwright {

// The fields a station gives with a record (all of the records table but the attempt number,
// which the line counts itself), in the order PgRecordParams binds them.
bool PgGiven(const RecordField& field);

// Every field, as read from the records (r), commits (c) and outcomes (o) joined, times as UTC ms.
std::string PgRecordSelectList();
// One record as given, $1... in PgGiven order, with its attempt number counted by the line.
std::string PgInsertRecordSql();
// The records of a forwarding batch (PgBatchJson), numbered as PgInsertRecordSql numbers one.
std::string PgForwardRecordsSql();
// An attempt's end: $1 the record's id, then the outcome table's fields in order; ends its claim.
std::string PgInsertOutcomeSql();
// The ends of a forwarding batch's records.
std::string PgForwardOutcomesSql();

}  // namespace stampwright
