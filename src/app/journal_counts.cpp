#include "app/journal_counts.h"

#include <vector>

#include "base/text.h"
#include "journal/statistics.h"

namespace stampwright {

std::string TodayCountsText(const JournalLink& link) {
  if (!link.enabled) return "Journal off: nothing is recorded";
  if (link.journal == nullptr) return "Journal error: " + link.open_error;
  RecordFilter filter;
  filter.station = link.station_name;
  filter.since = UtcDayStart(link.now());
  std::vector<JournalRecord> records;
  if (const JournalStatus status = link.journal->Read(filter, &records); !status.ok()) {
    return "Journal error: " + status.error;
  }
  const YieldFigures figures = ComputeYield(records);
  std::string yield = figures.units == 0 ? std::string("-")
                                         : FormatText("%.1f %%", 100.0 * figures.FirstPassYield());
  return "Today, " + link.station_name + ": " + std::to_string(figures.units_burned) +
         " units burned, " + std::to_string(figures.failed_attempts) +
         " attempts failed, first-pass yield " + yield;
}

}  // namespace stampwright
