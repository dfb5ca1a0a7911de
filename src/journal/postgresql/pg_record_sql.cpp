#include "journal/postgresql/pg_record_sql.h"

namespace stampwright {
namespace {

// A bound value as the line's column takes it: a time from its UTC ms, others cast to their type.
std::string Bound(const std::string& parameter, const RecordField& field) {
  if (IsTime(field.type)) return "stampwright.from_ms(" + parameter + "::bigint)";
  if (field.line_type == "text") return parameter;
  return parameter + "::" + std::string(field.line_type);
}

// A batch member as the line's column takes it (see Bound).
std::string FromBatch(const RecordField& field) {
  if (IsTime(field.type)) return "stampwright.from_ms(" + std::string(field.name) + ")";
  return std::string(field.name);
}

// The fields kept in table, each written by format, joined by ", ".
template <typename Format>
std::string FieldList(bool (*keep)(const RecordField&), Format format) {
  std::string list;
  for (const RecordField& field : kRecordFields) {
    if (!keep(field)) continue;
    if (!list.empty()) list += ", ";
    list += format(field);
  }
  return list;
}

bool InRecords(const RecordField& field) { return field.line_table == LineTable::kRecords; }
bool InOutcomes(const RecordField& field) { return field.line_table == LineTable::kOutcomes; }
std::string Name(const RecordField& field) { return std::string(field.name); }
std::string Typed(const RecordField& field) {
  return std::string(field.name) + " " + std::string(field.line_type);
}

// The parameter number ("$5") of a field kept by keep, counting from first.
std::string ParameterOf(std::string_view name, bool (*keep)(const RecordField&), int first) {
  int number = first;
  for (const RecordField& field : kRecordFields) {
    if (field.name == name) break;
    if (keep(field)) ++number;
  }
  return "$" + std::to_string(number);
}

}  // namespace

bool PgGiven(const RecordField& field) {
  return field.line_table == LineTable::kRecords && field.type != FieldType::kAttempt;
}

std::string PgRecordSelectList() {
  return FieldList([](const RecordField&) { return true; }, [](const RecordField& field) {
    const char* alias = field.line_table == LineTable::kRecords   ? "r."
                        : field.line_table == LineTable::kCommits ? "c."
                                                                   : "o.";
    const std::string column = alias + std::string(field.name);
    return IsTime(field.type) ? "stampwright.to_ms(" + column + ")" : column;
  });
}

std::string PgInsertRecordSql() {
  const std::string kind = ParameterOf("kind", PgGiven, 1);
  const std::string mac = ParameterOf("mac", PgGiven, 1);
  int parameter = 1;
  const std::string values = FieldList(InRecords, [&](const RecordField& field) {
    if (field.type == FieldType::kAttempt) {
      return "CASE WHEN " + kind + " IN ('burn', 'firmware') THEN (SELECT count(*) + 1 FROM"
             " stampwright.records WHERE mac = " + mac + " AND kind = " + kind + ") END";
    }
    return Bound("$" + std::to_string(parameter++), field);
  });
  return "INSERT INTO stampwright.records (" + FieldList(InRecords, Name) + ") VALUES (" + values +
         ") ON CONFLICT (id) DO NOTHING";
}

std::string PgForwardRecordsSql() {
  const std::string values = FieldList(InRecords, [](const RecordField& field) {
    if (field.type == FieldType::kAttempt) {
      return std::string(
          "CASE WHEN kind IN ('burn', 'firmware') THEN (SELECT count(*) FROM stampwright.records r"
          " WHERE r.mac = fresh.mac AND r.kind = fresh.kind)"
          " + row_number() OVER (PARTITION BY mac, kind ORDER BY ord) END");
    }
    return FromBatch(field);
  });
  return "WITH x AS (SELECT * FROM json_to_recordset($1::json) AS x(ord int, " +
         FieldList(PgGiven, Typed) +
         ")), fresh AS (SELECT x.* FROM x WHERE NOT EXISTS"
         " (SELECT 1 FROM stampwright.records r WHERE r.id = x.id))"
         " INSERT INTO stampwright.records (" + FieldList(InRecords, Name) + ") SELECT " + values +
         " FROM fresh ORDER BY ord ON CONFLICT (id) DO NOTHING";
}

std::string PgInsertOutcomeSql() {
  int parameter = 2;
  const std::string values = FieldList(InOutcomes, [&](const RecordField& field) {
    return Bound("$" + std::to_string(parameter++), field);
  });
  const RecordField& finished = kRecordFields[FieldIndex("finished")];
  return "WITH o AS (INSERT INTO stampwright.outcomes (record_id, " + FieldList(InOutcomes, Name) +
         ") VALUES ($1::uuid, " + values + ") ON CONFLICT DO NOTHING RETURNING record_id),"
         " ended AS (UPDATE stampwright.claims c SET ended = " +
         Bound(ParameterOf("finished", InOutcomes, 2), finished) +
         ", outcome = " + ParameterOf("outcome", InOutcomes, 2) +
         " FROM o WHERE c.record_id = o.record_id AND c.ended IS NULL RETURNING 1)"
         " SELECT count(*) FROM o";
}

std::string PgForwardOutcomesSql() {
  return "INSERT INTO stampwright.outcomes (record_id, " + FieldList(InOutcomes, Name) +
         ") SELECT id, " + FieldList(InOutcomes, FromBatch) +
         " FROM json_to_recordset($1::json) AS x(id uuid, " + FieldList(InOutcomes, Typed) +
         ") WHERE outcome IS NOT NULL ON CONFLICT DO NOTHING";
}

}  // namespace stampwright
