#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "journal/record.h"
#include "journal/record_fields.h"

namespace stampwright {

using RecordFields = std::vector<std::pair<std::string_view, FieldValue>>;

// The record's fields in their fixed order, named as in every export; times as ISO 8601 UTC
// with milliseconds and "Z". Fields added later come last, so that a CSV reader that counts
// columns keeps working.
RecordFields ExportFields(const JournalRecord& record);

// The record as a JSON object: its fields in order, null for the absent.
nlohmann::ordered_json RecordObject(const JournalRecord& record);
// That object on one line, as WriteJson writes it.
std::string RecordJson(const JournalRecord& record);
// The CSV header line and one record's line (RFC 4180 quoting), without the line end.
std::string RecordCsvHeader();
std::string RecordCsvLine(const JournalRecord& record);

// The journal's JSON texts (the export, the tool's report and reconcile) are built as
// nlohmann::ordered_json and written here: one line, members in the order they were added, no
// spaces, numbers and literals as the library writes them. Two things are written the way
// readers of these texts have always had them, where the library's dump would differ:
// - strings: quote, backslash and control bytes escaped, control bytes always as \u00xx (the
//   library writes \n, \t ...), every other byte as it is, UTF-8 or not (the library refuses or
//   replaces bytes that are not UTF-8; a station name or a file name may hold any);
// - members named in fixed_decimals hold a number already formatted with a fixed count of
//   decimals ("0.6000"), written bare: the library would write 0.6.
std::string WriteJson(const nlohmann::ordered_json& value,
                      std::initializer_list<std::string_view> fixed_decimals = {});

}  // namespace stampwright
