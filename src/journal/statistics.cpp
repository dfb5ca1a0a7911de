#include "journal/statistics.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace stampwright {

YieldFigures ComputeYield(const std::vector<JournalRecord>& records) {
  YieldFigures figures;
  std::set<std::string> seen, burned;
  for (const JournalRecord& r : records) {
    if (r.kind != RecordKind::kBurn) continue;
    if (r.outcome && IsRefusal(*r.outcome)) {
      ++figures.refused;
      continue;
    }
    ++figures.attempts;
    const bool success = r.outcome == Outcome::kSuccess;
    if (seen.insert(r.mac).second) {
      ++figures.units;
      if (success) ++figures.first_pass;
    }
    if (success) {
      ++figures.successes;
      if (burned.insert(r.mac).second) ++figures.units_burned;
    } else if (r.outcome) {
      ++figures.failed_attempts;
    }
  }
  return figures;
}

int64_t Percentile(std::vector<int64_t> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(p / 100.0 * double(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

int64_t UtcDayStart(int64_t utc_ms) {
  constexpr int64_t kDay = 86400000;
  return utc_ms - (((utc_ms % kDay) + kDay) % kDay);
}

}  // namespace stampwright
