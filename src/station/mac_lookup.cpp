#include "station/mac_lookup.h"

#include <string>
#include <string_view>

#include "base/work_directory.h"
#include "resources/controls.h"
#include "station/station_core.h"

namespace stampwright {
namespace {

constexpr uint32_t kOpenFailedBoxType = kMbIconError;  // 16
constexpr uint32_t kNoMatchBoxType = kMbIconWarning;   // 48
constexpr std::string_view kOpenFailedText = "Error opening DB";
constexpr std::string_view kOpenFailedCaption = "Mac Burn";
constexpr std::string_view kNoMatchText = "The input MAC is invalid.";
constexpr std::string_view kNoMatchCaption = "Info";

}  // namespace

std::optional<std::string> NormalizedMacEntry(std::string_view entry) {
  std::string digits;
  for (const char c : entry) {
    if (c == ':' || c == '-' || c == '.' || c == ' ' || c == '\t') continue;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex || digits.size() == kMacTextLength) return std::nullopt;
    digits += c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (digits.size() != kMacTextLength || digits == entry) return std::nullopt;
  return digits;
}

bool LookupLabel(StationCore& station) {
  MacLookupOptions options;
  if (!station.settings.mac_prefix.empty()) options.mac_prefix = station.settings.mac_prefix;
  options.database_path = InDirectory(station.settings.workdir, station.settings.database_file);
  MacRecord found;
  if (!LookupMacRecord(station.page, options, &found)) return false;
  station.shown.mac = found.mac_text;
  station.shown.password = found.password_text;
  return true;
}

bool LookupMacRecord(Page& page, const MacLookupOptions& options, MacRecord* found) {
  const std::string entry = page.GetText(kNewMacEdit, kMacTextLength);
  const MacSearchResult result = SearchMacDatabase(entry, options);
  switch (result.status) {
    case MacSearchStatus::kCannotOpen:
      page.MessageBox(kOpenFailedText, kOpenFailedCaption, kOpenFailedBoxType);
      return false;
    case MacSearchStatus::kNoRecord:
      page.MessageBox(kNoMatchText, kNoMatchCaption, kNoMatchBoxType);
      return false;
    case MacSearchStatus::kFound:
      break;
  }
  page.SetText(kMacField, result.record.mac_text);
  page.SetText(kPasswordField, result.record.password_text);
  if (found != nullptr) *found = result.record;
  return true;
}

}  // namespace stampwright
