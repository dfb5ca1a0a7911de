#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "journal/outcome.h"

namespace stampwright {

// What a record is about: a unit burned, a firmware written, a supervisor's word on a MAC, or a
// label printed for a burned MAC (or scanned back).
enum class RecordKind { kBurn, kFirmware, kScrap, kRelease, kLabel };

std::string_view RecordKindName(RecordKind kind);
std::optional<RecordKind> ParseRecordKind(std::string_view name);

// One record of the journal. Times are UTC milliseconds since 1970; texts left empty are absent.
// Never holds the password, the DAK or the NMK.
struct JournalRecord {
  std::string id;  // a UUID
  std::string station;
  std::string adapter;
  RecordKind kind = RecordKind::kBurn;
  std::string mac;              // the typed MAC, 12 upper-case hex digits
  std::string unit_mac_before;  // the unit's MAC when the command was given
  std::string chip;             // the text of the chip model field
  std::string module_class;     // what the read identified, e.g. "PX300 Class B"
  std::string firmware_version;
  std::string image_checksum;  // 8 lower-case hex digits
  std::optional<Outcome> outcome;
  int64_t started = 0;
  std::optional<int64_t> finished;
  std::optional<int64_t> committed;  // a commit carrying the MAC was confirmed
  std::optional<int64_t> burn_ms;    // command to "Waiting..." or to the end
  std::optional<int64_t> return_ms;  // commit confirmed to "Success"
  // The returned unit's module was read back: true when the burned fields equal what was
  // written, false when they differ; absent without a read-back (classic timing, not a burn).
  std::optional<bool> verified;
  // Bytes outside the burned fields that differ between the read-back module and the image
  // written (a unit may change some on its own); absent without a read-back.
  std::optional<int64_t> other_bytes_changed;
  int64_t attempt = 0;               // 1 for the first attempt of this MAC in the journal
  std::string config;                // short hash of what shapes the image
  std::string firmware_name;
  std::optional<int64_t> firmware_size;
  std::string firmware_sha256;
  std::string reason;  // scrap and release
  std::optional<int64_t> bay;  // the bay's number in gang mode; absent for one station without bays
  // A label record: the printer it went to (its target as given); reason holds why it was not
  // printed, empty when it was.
  std::string printer;
  // A label record made by a scan-back: whether the scanned label matched the bay's unit.
  std::optional<bool> label_verified;
};

// A fresh random UUID (version 4) in its usual text form.
std::string NewRecordId();

// UTC milliseconds now.
int64_t UtcNowMs();

// "2026-12-08T13:45:12.345Z".
std::string FormatIso8601(int64_t utc_ms);
// "2026-12-08 13:45:12".
std::string FormatUtcSeconds(int64_t utc_ms);
// Takes "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS[.mmm]][Z]" (a space for the T also), always UTC.
std::optional<int64_t> ParseUtcTime(std::string_view text);

}  // namespace stampwright
