#include "journal/postgresql/pg_rows.h"

#include <nlohmann/json.hpp>

#include "base/mac_address.h"
#include "journal/postgresql/pg_record_sql.h"
#include "journal/record_fields.h"

namespace stampwright {
namespace {

// Refusals that end an attempt before anything was claimed or sent.
bool ClaimsNothing(const JournalRecord& record) {
  if (record.kind != RecordKind::kBurn) return true;
  return record.outcome && IsRefusal(*record.outcome);
}

nlohmann::json JsonNumber(std::optional<int64_t> value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json JsonValue(const FieldValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<int64_t>(&value)) return *number;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag;
  return nullptr;
}

// A bound parameter: every value as text, NULL for the absent.
std::optional<std::string> PgValue(const FieldValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<int64_t>(&value)) return std::to_string(*number);
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  return std::nullopt;
}

FieldValue PgFieldValue(const PgResult& r, int row, int column, FieldType type) {
  if (r.IsNull(row, column)) return {};
  switch (StorageOf(type)) {
    case StoredAs::kText:
      return r.Text(row, column);
    case StoredAs::kFlag:
      return r.Text(row, column) == "t";
    case StoredAs::kInteger:
      break;
  }
  return static_cast<int64_t>(r.Integer(row, column));
}

}  // namespace

std::string PgText(int64_t value) { return std::to_string(value); }

std::optional<std::string> PgOptionalText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> PgOptionalText(std::optional<int64_t> value) {
  if (!value) return std::nullopt;
  return std::to_string(*value);
}

std::optional<int64_t> PgOptionalInteger(const PgResult& result, int row, int column) {
  if (result.IsNull(row, column)) return std::nullopt;
  return result.Integer(row, column);
}

std::optional<int64_t> MacNumber(const std::string& mac) {
  if (mac.size() != 12) return std::nullopt;
  const std::optional<MacAddress> parsed = MacAddress::Parse(mac);
  if (!parsed) return std::nullopt;
  return static_cast<int64_t>(parsed->ToNumber());
}

JournalRecord PgRowToRecord(const PgResult& r, int row) {
  JournalRecord record;
  for (size_t i = 0; i < kRecordFields.size(); ++i) {
    const RecordField& field = kRecordFields[i];
    LoadValue(field, PgFieldValue(r, row, static_cast<int>(i), field.type), &record);
  }
  return record;
}

MacLease PgRowToLease(const PgResult& r, int row) {
  return MacLease{r.Integer(row, 0), r.Text(row, 1), r.Integer(row, 2), r.Integer(row, 3),
                  PgOptionalInteger(r, row, 4), PgOptionalInteger(r, row, 5), r.Integer(row, 6)};
}

PgParams PgRecordParams(const JournalRecord& record) {
  PgParams params;
  for (const RecordField& field : kRecordFields) {
    if (PgGiven(field)) params.push_back(PgValue(StoredValue(field, record)));
  }
  return params;
}

PgParams PgEndParams(const std::string& id, const AttemptEnd& end) {
  const JournalRecord ended = EndedRecord(id, end);
  PgParams params{id};
  for (const RecordField& field : kRecordFields) {
    if (field.line_table == LineTable::kOutcomes) params.push_back(PgValue(StoredValue(field, ended)));
  }
  return params;
}

// The records of one forwarding batch, in order, with what each statement reads.
std::string PgBatchJson(const std::vector<JournalRecord>& records) {
  nlohmann::json rows = nlohmann::json::array();
  int ord = 0;
  for (const JournalRecord& r : records) {
    const std::optional<int64_t> mac = MacNumber(r.mac);
    nlohmann::json row = {{"ord", ord++}, {"macnum", JsonNumber(mac)},
                          {"claim", mac.has_value() && !ClaimsNothing(r)}};
    for (const RecordField& field : kRecordFields) {
      if (field.type == FieldType::kAttempt) continue;  // the line counts its own
      row[std::string(field.name)] = JsonValue(StoredValue(field, r));
    }
    // The line keeps an end time with every outcome: a record that came with its outcome but
    // without one ended as it started.
    row["finished"] =
        r.outcome ? nlohmann::json(r.finished.value_or(r.started)) : nlohmann::json(nullptr);
    rows.push_back(std::move(row));
  }
  // Invalid UTF-8 in a text (a station name typed on another code page) is replaced, not fatal.
  return rows.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}


}  // namespace stampwright
