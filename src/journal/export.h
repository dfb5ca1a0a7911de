#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "journal/record.h"

namespace stampwright {

// One field of a record as every export shows it: absent, a text, a number or a yes/no.
using FieldValue = std::variant<std::monostate, std::string, int64_t, bool>;
using RecordFields = std::vector<std::pair<std::string_view, FieldValue>>;

// The record's fields in their fixed order, named as in every export; times as ISO 8601 UTC
// with milliseconds and "Z". Fields added later come last, so that a CSV reader that counts
// columns keeps working.
RecordFields ExportFields(const JournalRecord& record);

// One JSON object on one line.
std::string RecordJson(const JournalRecord& record);
// The CSV header line and one record's line (RFC 4180 quoting), without the line end.
std::string RecordCsvHeader();
std::string RecordCsvLine(const JournalRecord& record);

// A JSON string literal of text, quotes included.
std::string JsonString(std::string_view text);

}  // namespace stampwright
