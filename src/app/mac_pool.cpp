#include "app/mac_pool.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/mac_address.h"
#include "base/regular_file.h"
#include "journal/outcome.h"
#include "programming/mac_database.h"

namespace stampwright {
namespace {

std::optional<uint64_t> MacNumber(std::string_view text) {
  const std::optional<MacAddress> mac = MacAddress::Parse(text);
  return mac ? std::optional<uint64_t>(mac->ToNumber()) : std::nullopt;
}

std::string MacDigits(uint64_t number) {
  char text[13];
  std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(number));
  return text;
}

bool InRanges(const std::vector<MacRange>& ranges, uint64_t mac) {
  for (const MacRange& range : ranges) {
    if (mac >= range.first && mac <= range.last) return true;
  }
  return false;
}

}  // namespace

std::optional<MacRange> ParseMacRange(std::string_view text, std::string* error) {
  // A MAC's own separators may be '-' too: the range's dash is the one after 12 digits.
  size_t digits = 0;
  size_t dash = text.npos;
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::isxdigit(static_cast<unsigned char>(text[i])) != 0) ++digits;
    if (digits == 12 && i + 1 < text.size() && text[i + 1] == '-') {
      dash = i + 1;
      break;
    }
  }
  const std::optional<uint64_t> first =
      dash == text.npos ? std::nullopt : MacNumber(text.substr(0, dash));
  const std::optional<uint64_t> last =
      dash == text.npos ? std::nullopt : MacNumber(text.substr(dash + 1));
  if (!first || !last) {
    *error = "--pool expects FIRST-LAST, 12 hex digits each, not '" + std::string(text) + "'";
    return std::nullopt;
  }
  if (*first > *last) {
    *error = "--pool: the first MAC is above the last";
    return std::nullopt;
  }
  if (*last - *first >= kMaxPoolSize) {
    *error = "--pool: more than " + std::to_string(kMaxPoolSize) + " MACs in one pool";
    return std::nullopt;
  }
  return MacRange{*first, *last};
}

PoolMacState PoolStateOf(const std::vector<const JournalRecord*>& records) {
  bool scrapped = false;
  bool used = false;
  bool open = false;
  bool passed = false;
  std::optional<bool> last_label_printed;
  for (const JournalRecord* record : records) {
    switch (record->kind) {
      case RecordKind::kScrap:
        scrapped = true;
        break;
      case RecordKind::kRelease:
        break;
      case RecordKind::kLabel:
        used = true;
        // A scan-back record says nothing of the print.
        if (!record->label_verified) last_label_printed = record->reason.empty();
        break;
      case RecordKind::kFirmware:
        used = true;
        break;
      case RecordKind::kBurn:
        if (!record->outcome) {
          used = open = true;
        } else if (!IsRefusal(*record->outcome)) {
          used = true;
          passed = passed || IsGoodOutcome(*record->outcome);
        }
        break;
    }
  }
  if (scrapped) return PoolMacState::kScrapped;
  if (open || (passed && last_label_printed == false)) return PoolMacState::kHeld;
  return used ? PoolMacState::kBurned : PoolMacState::kFree;
}

bool ReadPoolDatabase(const std::string& path, std::string_view mac_prefix,
                      const std::vector<MacRange>& ranges, std::set<uint64_t>* macs) {
  FileHandle file = OpenRegularFile(path, "r");
  if (!file) return false;
  // The lookup's reads: at most 79 characters, or up to a newline.
  char line[kMacDatabaseReadSize + 1];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    const std::optional<MacRecord> record =
        DecodeMacRecord(std::string_view(line, std::strlen(line)), mac_prefix);
    if (!record) continue;
    const std::optional<uint64_t> mac = MacNumber(record->mac_text);
    if (mac && InRanges(ranges, *mac)) macs->insert(*mac);
  }
  return true;
}

MacPool::MacPool(std::vector<MacRange> ranges, std::set<uint64_t> in_database)
    : ranges_(std::move(ranges)), in_database_(std::move(in_database)) {
  for (const uint64_t mac : in_database_) {
    if (InRanges(ranges_, mac)) free_.insert(mac);
  }
}

void MacPool::Load(const std::vector<JournalRecord>& records) {
  std::map<uint64_t, std::vector<const JournalRecord*>> by_mac;
  for (const JournalRecord& record : records) {
    const std::optional<uint64_t> mac = MacNumber(record.mac);
    if (mac && in_database_.count(*mac) != 0 && InRanges(ranges_, *mac)) {
      by_mac[*mac].push_back(&record);
    }
  }
  for (const auto& [mac, its_records] : by_mac) {
    const PoolMacState state = PoolStateOf(its_records);
    if (state == PoolMacState::kFree) continue;
    free_.erase(mac);
    kept_out_[mac] = state;
  }
}

PoolCounts MacPool::Counts() const {
  PoolCounts counts;
  counts.free = free_.size();
  for (const auto& [mac, state] : kept_out_) {
    if (state == PoolMacState::kBurned) ++counts.burned;
    if (state == PoolMacState::kScrapped) ++counts.scrapped;
    if (state == PoolMacState::kHeld) ++counts.held;
  }
  uint64_t spanned = 0;
  for (const MacRange& range : ranges_) spanned += range.last - range.first + 1;
  size_t inside = 0;
  for (const uint64_t mac : in_database_) inside += InRanges(ranges_, mac);
  counts.missing = static_cast<size_t>(spanned - inside);
  return counts;
}

std::optional<std::string> MacPool::Take() {
  if (free_.empty()) return std::nullopt;
  const uint64_t mac = *free_.begin();
  free_.erase(free_.begin());
  kept_out_[mac] = PoolMacState::kHeld;
  return MacDigits(mac);
}

void MacPool::Settle(const std::string& mac, const std::vector<JournalRecord>& records) {
  const std::optional<uint64_t> number = MacNumber(mac);
  if (!number || in_database_.count(*number) == 0 || !InRanges(ranges_, *number)) return;
  std::vector<const JournalRecord*> its_records;
  for (const JournalRecord& record : records) {
    if (record.mac == MacDigits(*number)) its_records.push_back(&record);
  }
  const PoolMacState state = PoolStateOf(its_records);
  if (state == PoolMacState::kFree) {
    kept_out_.erase(*number);
    free_.insert(*number);
  } else {
    free_.erase(*number);
    kept_out_[*number] = state;
  }
}

void MacPool::KeepOut(const std::string& mac) {
  const std::optional<uint64_t> number = MacNumber(mac);
  if (!number || !Contains(mac)) return;
  free_.erase(*number);
  kept_out_[*number] = PoolMacState::kBurned;
}

void MacPool::Drop(const std::string& mac) {
  const std::optional<uint64_t> number = MacNumber(mac);
  if (!number) return;
  in_database_.erase(*number);
  free_.erase(*number);
  kept_out_.erase(*number);
}

bool MacPool::Contains(const std::string& mac) const {
  const std::optional<uint64_t> number = MacNumber(mac);
  return number && in_database_.count(*number) != 0 && InRanges(ranges_, *number);
}

}  // namespace stampwright
