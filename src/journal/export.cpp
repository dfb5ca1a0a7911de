#include "journal/export.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

namespace stampwright {
namespace {

FieldValue Text(const std::string& text) {
  if (text.empty()) return std::monostate{};
  return text;
}
FieldValue Time(std::optional<int64_t> utc_ms) {
  if (!utc_ms) return std::monostate{};
  return FormatIso8601(*utc_ms);
}
FieldValue Number(std::optional<int64_t> value) {
  if (!value) return std::monostate{};
  return *value;
}
FieldValue Flag(std::optional<bool> value) {
  if (!value) return std::monostate{};
  return *value;
}

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

RecordFields ExportFields(const JournalRecord& r) {
  const bool attempt = r.kind == RecordKind::kBurn || r.kind == RecordKind::kFirmware;
  return {
      {"id", Text(r.id)},
      {"station", Text(r.station)},
      {"adapter", Text(r.adapter)},
      {"kind", std::string(RecordKindName(r.kind))},
      {"mac", Text(r.mac)},
      {"unit_mac_before", Text(r.unit_mac_before)},
      {"chip", Text(r.chip)},
      {"module_class", Text(r.module_class)},
      {"firmware_version", Text(r.firmware_version)},
      {"image_checksum", Text(r.image_checksum)},
      {"outcome", r.outcome ? FieldValue(std::string(OutcomeName(*r.outcome))) : FieldValue()},
      {"started", Time(r.started)},
      {"finished", Time(r.finished)},
      {"committed", Time(r.committed)},
      {"burn_ms", Number(r.burn_ms)},
      {"return_ms", Number(r.return_ms)},
      {"attempt", attempt ? FieldValue(r.attempt) : FieldValue()},
      {"config", Text(r.config)},
      {"firmware_name", Text(r.firmware_name)},
      {"firmware_size", Number(r.firmware_size)},
      {"firmware_sha256", Text(r.firmware_sha256)},
      {"reason", Text(r.reason)},
      {"verified", Flag(r.verified)},
      {"other_bytes_changed", Number(r.other_bytes_changed)},
  };
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
  for (const auto& [name, value] : ExportFields(JournalRecord{})) {
    if (!out.empty()) out += ",";
    out += name;
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
