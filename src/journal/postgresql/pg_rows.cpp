#include "journal/postgresql/pg_rows.h"

#include <nlohmann/json.hpp>

#include "base/mac_address.h"

namespace stampwright {
namespace {

// Refusals that end an attempt before anything was claimed or sent.
bool ClaimsNothing(const JournalRecord& record) {
  if (record.kind != RecordKind::kBurn) return true;
  return record.outcome && IsRefusal(*record.outcome);
}

nlohmann::json JsonText(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

nlohmann::json JsonNumber(std::optional<int64_t> value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
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
  record.id = r.Text(row, 0);
  record.station = r.Text(row, 1);
  record.adapter = r.Text(row, 2);
  record.kind = ParseRecordKind(r.Text(row, 3)).value_or(RecordKind::kBurn);
  record.mac = r.Text(row, 4);
  record.unit_mac_before = r.Text(row, 5);
  record.chip = r.Text(row, 6);
  record.module_class = r.Text(row, 7);
  record.firmware_version = r.Text(row, 8);
  record.image_checksum = r.Text(row, 9);
  if (!r.IsNull(row, 10)) record.outcome = ParseOutcome(r.Text(row, 10));
  record.started = r.Integer(row, 11);
  record.finished = PgOptionalInteger(r, row, 12);
  record.committed = PgOptionalInteger(r, row, 13);
  record.burn_ms = PgOptionalInteger(r, row, 14);
  record.return_ms = PgOptionalInteger(r, row, 15);
  record.attempt = r.Integer(row, 16);
  record.config = r.Text(row, 17);
  record.firmware_name = r.Text(row, 18);
  record.firmware_size = PgOptionalInteger(r, row, 19);
  record.firmware_sha256 = r.Text(row, 20);
  record.reason = r.Text(row, 21);
  if (!r.IsNull(row, 22)) record.verified = r.Text(row, 22) == "t";
  record.other_bytes_changed = PgOptionalInteger(r, row, 23);
  return record;
}

MacLease PgRowToLease(const PgResult& r, int row) {
  return MacLease{r.Integer(row, 0), r.Text(row, 1), r.Integer(row, 2), r.Integer(row, 3),
                  PgOptionalInteger(r, row, 4), PgOptionalInteger(r, row, 5), r.Integer(row, 6)};
}

PgParams PgRecordParams(const JournalRecord& r) {
  return {r.id, r.station, PgOptionalText(r.adapter), std::string(RecordKindName(r.kind)), r.mac,
          PgOptionalText(r.unit_mac_before), PgOptionalText(r.chip),
          PgOptionalText(r.module_class), PgOptionalText(r.firmware_version),
          PgOptionalText(r.image_checksum), PgText(r.started), PgOptionalText(r.config),
          PgOptionalText(r.firmware_name), PgOptionalText(r.firmware_size),
          PgOptionalText(r.firmware_sha256), PgOptionalText(r.reason)};
}

// The records of one forwarding batch, in order, with what each statement reads.
std::string PgBatchJson(const std::vector<JournalRecord>& records) {
  nlohmann::json rows = nlohmann::json::array();
  int ord = 0;
  for (const JournalRecord& r : records) {
    const std::optional<int64_t> mac = MacNumber(r.mac);
    rows.push_back({
        {"ord", ord++},
        {"id", r.id},
        {"station", r.station},
        {"adapter", JsonText(r.adapter)},
        {"kind", std::string(RecordKindName(r.kind))},
        {"mac", r.mac},
        {"macnum", JsonNumber(mac)},
        {"claim", mac.has_value() && !ClaimsNothing(r)},
        {"unit_mac_before", JsonText(r.unit_mac_before)},
        {"chip", JsonText(r.chip)},
        {"module_class", JsonText(r.module_class)},
        {"firmware_version", JsonText(r.firmware_version)},
        {"image_checksum", JsonText(r.image_checksum)},
        {"started", r.started},
        {"config", JsonText(r.config)},
        {"firmware_name", JsonText(r.firmware_name)},
        {"firmware_size", JsonNumber(r.firmware_size)},
        {"firmware_sha256", JsonText(r.firmware_sha256)},
        {"reason", JsonText(r.reason)},
        {"committed", JsonNumber(r.committed)},
        {"outcome", r.outcome ? nlohmann::json(std::string(OutcomeName(*r.outcome))) : nlohmann::json(nullptr)},
        {"finished", r.outcome ? nlohmann::json(r.finished.value_or(r.started)) : nlohmann::json(nullptr)},
        {"burn_ms", JsonNumber(r.burn_ms)},
        {"return_ms", JsonNumber(r.return_ms)},
        {"verified", r.verified ? nlohmann::json(*r.verified) : nlohmann::json(nullptr)},
        {"other_bytes_changed", JsonNumber(r.other_bytes_changed)},
    });
  }
  // Invalid UTF-8 in a text (a station name typed on another code page) is replaced, not fatal.
  return rows.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}


}  // namespace stampwright
