#pragma once

// The fields of a journal record, listed once. Both databases bind and read them from this table,
// the statements take their column lists from it, and the exports write it in order; a new field
// is one more row (at the end: CSV readers count columns) plus its migration in each schema.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "journal/journal.h"
#include "journal/record.h"

namespace stampwright {

// How a field's value is kept, and what an absent one is.
enum class FieldType {
  kText,          // empty is absent (NULL)
  kRequiredText,  // its column is NOT NULL: kept as given, even empty
  kKind,          // RecordKind, by name
  kOutcome,       // by name; absent while the attempt is open
  kTime,          // UTC ms, always there
  kOptionalTime,  // UTC ms or absent
  kNumber,        // a number or absent
  kAttempt,       // a number, kept for burn and firmware records only
  kFlag,          // yes, no or absent
};

// Where the line's database keeps a field: with the record as it is given (the attempt number
// there is counted by the database itself), with its confirmed commit, or with its outcome.
enum class LineTable { kRecords, kCommits, kOutcomes };

using RecordMember =
    std::variant<std::string JournalRecord::*, RecordKind JournalRecord::*,
                 std::optional<Outcome> JournalRecord::*, int64_t JournalRecord::*,
                 std::optional<int64_t> JournalRecord::*, std::optional<bool> JournalRecord::*>;

struct RecordField {
  // The column in both databases, the JSON member and the CSV header: one name everywhere.
  std::string_view name;
  FieldType type;
  LineTable line_table;
  // The line's SQL type for a bound value (a time travels as its UTC ms).
  std::string_view line_type;
  RecordMember member;
};

// A field's value as the databases and the exports take it: absent, a text, a number, a yes/no.
using FieldValue = std::variant<std::monostate, std::string, int64_t, bool>;

inline constexpr std::array<RecordField, 27> kRecordFields = {{
    {"id", FieldType::kRequiredText, LineTable::kRecords, "uuid", &JournalRecord::id},
    {"station", FieldType::kRequiredText, LineTable::kRecords, "text", &JournalRecord::station},
    {"adapter", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::adapter},
    {"kind", FieldType::kKind, LineTable::kRecords, "text", &JournalRecord::kind},
    {"mac", FieldType::kRequiredText, LineTable::kRecords, "text", &JournalRecord::mac},
    {"unit_mac_before", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::unit_mac_before},
    {"chip", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::chip},
    {"module_class", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::module_class},
    {"firmware_version", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::firmware_version},
    {"image_checksum", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::image_checksum},
    {"outcome", FieldType::kOutcome, LineTable::kOutcomes, "text", &JournalRecord::outcome},
    {"started", FieldType::kTime, LineTable::kRecords, "bigint", &JournalRecord::started},
    {"finished", FieldType::kOptionalTime, LineTable::kOutcomes, "bigint", &JournalRecord::finished},
    {"committed", FieldType::kOptionalTime, LineTable::kCommits, "bigint", &JournalRecord::committed},
    {"burn_ms", FieldType::kNumber, LineTable::kOutcomes, "bigint", &JournalRecord::burn_ms},
    {"return_ms", FieldType::kNumber, LineTable::kOutcomes, "bigint", &JournalRecord::return_ms},
    {"attempt", FieldType::kAttempt, LineTable::kRecords, "integer", &JournalRecord::attempt},
    {"config", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::config},
    {"firmware_name", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::firmware_name},
    {"firmware_size", FieldType::kNumber, LineTable::kRecords, "bigint", &JournalRecord::firmware_size},
    {"firmware_sha256", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::firmware_sha256},
    {"reason", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::reason},
    {"verified", FieldType::kFlag, LineTable::kOutcomes, "boolean", &JournalRecord::verified},
    {"other_bytes_changed", FieldType::kNumber, LineTable::kOutcomes, "bigint",
     &JournalRecord::other_bytes_changed},
    {"bay", FieldType::kNumber, LineTable::kRecords, "integer", &JournalRecord::bay},
    {"printer", FieldType::kText, LineTable::kRecords, "text", &JournalRecord::printer},
    {"label_verified", FieldType::kFlag, LineTable::kRecords, "boolean",
     &JournalRecord::label_verified},
}};

constexpr bool IsTime(FieldType type) { return type == FieldType::kTime || type == FieldType::kOptionalTime; }

// How both databases hold a field: as a text, an integer or a yes/no.
enum class StoredAs { kText, kInteger, kFlag };
constexpr StoredAs StorageOf(FieldType type) {
  switch (type) {
    case FieldType::kText:
    case FieldType::kRequiredText:
    case FieldType::kKind:
    case FieldType::kOutcome:
      return StoredAs::kText;
    case FieldType::kFlag:
      return StoredAs::kFlag;
    default:
      return StoredAs::kInteger;
  }
}

// The position of the field named name in kRecordFields; a name not there does not compile.
consteval size_t FieldIndex(std::string_view name) {
  for (size_t i = 0; i < kRecordFields.size(); ++i) {
    if (kRecordFields[i].name == name) return i;
  }
  throw "no such record field";
}

namespace record_fields_detail {
// Each row's type matches its member's, so that a row copied with the wrong member (a time as a
// text, a flag as a number) does not compile.
consteval bool Matches(const RecordField& field) {
  const size_t member = field.member.index();
  switch (field.type) {
    case FieldType::kText:
    case FieldType::kRequiredText:
      return member == 0;
    case FieldType::kKind:
      return member == 1;
    case FieldType::kOutcome:
      return member == 2;
    case FieldType::kTime:
    case FieldType::kAttempt:
      return member == 3;
    case FieldType::kOptionalTime:
    case FieldType::kNumber:
      return member == 4;
    case FieldType::kFlag:
      return member == 5;
  }
  return false;
}
consteval bool AllMatch() {
  for (const RecordField& field : kRecordFields) {
    if (!Matches(field)) return false;
    for (const RecordField& other : kRecordFields) {
      if (&other != &field && other.name == field.name) return false;
    }
  }
  return true;
}
}  // namespace record_fields_detail
static_assert(record_fields_detail::AllMatch(), "a record field's type and member disagree");

// The field's value as the databases keep it: an absent one as std::monostate, a kind or an
// outcome by name, a time as UTC ms.
FieldValue StoredValue(const RecordField& field, const JournalRecord& record);
// Sets the field of record from a value read back (std::monostate: absent, or its default).
void LoadValue(const RecordField& field, const FieldValue& value, JournalRecord* record);

// The field's value in the exports: as stored, but a time in ISO 8601 and an empty text absent.
FieldValue ExportValue(const RecordField& field, const JournalRecord& record);

// The record's fields as the attempt's end sets them; its outcome table's fields are exactly those.
JournalRecord EndedRecord(const std::string& id, const AttemptEnd& end);

}  // namespace stampwright
