#include "journal/export.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

namespace stampwright {
namespace {

std::string CsvCell(const FieldValue& value) {
  if (std::holds_alternative<std::monostate>(value)) return "";
  if (const auto* number = std::get_if<int64_t>(&value)) return std::to_string(*number);
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  std::string text = std::get<std::string>(value);
  // A spreadsheet runs a cell that starts like this as a formula; a reason or a station name
  // is typed by people, so it is shown as text instead.
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    text.insert(0, 1, '\'');
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

RecordFields ExportFields(const JournalRecord& record) {
  RecordFields fields;
  fields.reserve(kRecordFields.size());
  for (const RecordField& field : kRecordFields) fields.emplace_back(field.name, ExportValue(field, record));
  return fields;
}

namespace {

void AppendString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendJson(std::string& out, const nlohmann::ordered_json& value,
                std::initializer_list<std::string_view> fixed_decimals) {
  if (value.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& member : value.items()) {
      if (!first) out += ',';
      first = false;
      AppendString(out, member.key());
      out += ':';
      const bool fixed = std::find(fixed_decimals.begin(), fixed_decimals.end(), member.key()) !=
                         fixed_decimals.end();
      if (fixed && member.value().is_string()) {
        out += member.value().get_ref<const std::string&>();
      } else {
        AppendJson(out, member.value(), fixed_decimals);
      }
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    for (size_t i = 0; i < value.size(); ++i) {
      if (i > 0) out += ',';
      AppendJson(out, value[i], fixed_decimals);
    }
    out += ']';
  } else if (value.is_string()) {
    AppendString(out, value.get_ref<const std::string&>());
  } else {
    out += value.dump();
  }
}

}  // namespace

std::string WriteJson(const nlohmann::ordered_json& value,
                      std::initializer_list<std::string_view> fixed_decimals) {
  std::string out;
  AppendJson(out, value, fixed_decimals);
  return out;
}

nlohmann::ordered_json RecordObject(const JournalRecord& record) {
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  for (const auto& [name, value] : ExportFields(record)) {
    nlohmann::ordered_json& field = fields[std::string(name)];
    if (const auto* text = std::get_if<std::string>(&value)) {
      field = *text;
    } else if (const auto* number = std::get_if<int64_t>(&value)) {
      field = *number;
    } else if (const auto* flag = std::get_if<bool>(&value)) {
      field = *flag;
    }  // else absent: null
  }
  return fields;
}

std::string RecordJson(const JournalRecord& record) { return WriteJson(RecordObject(record)); }

std::string RecordCsvHeader() {
  std::string out;
  for (const RecordField& field : kRecordFields) {
    if (!out.empty()) out += ",";
    out += field.name;
  }
  return out;
}

std::string RecordCsvLine(const JournalRecord& record) {
  std::string out;
  bool first = true;
  for (const auto& [name, value] : ExportFields(record)) {
    if (!first) out += ",";
    first = false;
    out += CsvCell(value);
  }
  return out;
}

}  // namespace stampwright
