#include "journal/record_fields.h"

namespace stampwright {
namespace {

bool IsAttempt(RecordKind kind) { return kind == RecordKind::kBurn || kind == RecordKind::kFirmware; }

FieldValue Store(FieldType type, const std::string& text, const JournalRecord&) {
  if (text.empty() && type != FieldType::kRequiredText) return {};
  return text;
}
FieldValue Store(FieldType, RecordKind kind, const JournalRecord&) {
  return std::string(RecordKindName(kind));
}
FieldValue Store(FieldType, const std::optional<Outcome>& outcome, const JournalRecord&) {
  if (!outcome) return {};
  return std::string(OutcomeName(*outcome));
}
FieldValue Store(FieldType type, int64_t number, const JournalRecord& record) {
  // Scraps and releases are no attempts: their attempt number is absent, not 0.
  if (type == FieldType::kAttempt && !IsAttempt(record.kind)) return {};
  return number;
}
FieldValue Store(FieldType, const std::optional<int64_t>& number, const JournalRecord&) {
  if (!number) return {};
  return *number;
}
FieldValue Store(FieldType, const std::optional<bool>& flag, const JournalRecord&) {
  if (!flag) return {};
  return *flag;
}

void Load(const FieldValue& value, std::string* text) {
  const auto* stored = std::get_if<std::string>(&value);
  *text = stored != nullptr ? *stored : std::string();
}
void Load(const FieldValue& value, RecordKind* kind) {
  const auto* stored = std::get_if<std::string>(&value);
  *kind = ParseRecordKind(stored != nullptr ? *stored : std::string()).value_or(RecordKind::kBurn);
}
void Load(const FieldValue& value, std::optional<Outcome>* outcome) {
  const auto* stored = std::get_if<std::string>(&value);
  *outcome = stored != nullptr && !stored->empty() ? ParseOutcome(*stored) : std::nullopt;
}
void Load(const FieldValue& value, int64_t* number) {
  const auto* stored = std::get_if<int64_t>(&value);
  *number = stored != nullptr ? *stored : 0;
}
void Load(const FieldValue& value, std::optional<int64_t>* number) {
  const auto* stored = std::get_if<int64_t>(&value);
  *number = stored != nullptr ? std::optional<int64_t>(*stored) : std::nullopt;
}
void Load(const FieldValue& value, std::optional<bool>* flag) {
  const auto* stored = std::get_if<bool>(&value);
  *flag = stored != nullptr ? std::optional<bool>(*stored) : std::nullopt;
}

}  // namespace

FieldValue StoredValue(const RecordField& field, const JournalRecord& record) {
  return std::visit([&](auto member) { return Store(field.type, record.*member, record); },
                    field.member);
}

void LoadValue(const RecordField& field, const FieldValue& value, JournalRecord* record) {
  std::visit([&](auto member) { Load(value, &(record->*member)); }, field.member);
}

FieldValue ExportValue(const RecordField& field, const JournalRecord& record) {
  FieldValue value = StoredValue(field, record);
  if (const auto* utc_ms = std::get_if<int64_t>(&value); utc_ms && IsTime(field.type)) {
    return FormatIso8601(*utc_ms);
  }
  if (const auto* text = std::get_if<std::string>(&value); text && text->empty()) return {};
  return value;
}

JournalRecord EndedRecord(const std::string& id, const AttemptEnd& end) {
  JournalRecord record;
  record.id = id;
  record.outcome = end.outcome;
  record.finished = end.finished;
  record.burn_ms = end.burn_ms;
  record.return_ms = end.return_ms;
  record.verified = end.verified;
  record.other_bytes_changed = end.other_bytes_changed;
  return record;
}

}  // namespace stampwright
