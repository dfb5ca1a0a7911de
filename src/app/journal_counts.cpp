#include "app/journal_counts.h"

#include <vector>

#include "base/text.h"

namespace stampwright {

std::string CountsLine(const std::string& station, const YieldFigures& figures) {
  const std::string yield = figures.units == 0
                                ? std::string("-")
                                : FormatText("%.1f %%", 100.0 * figures.FirstPassYield());
  return "Today, " + station + ": " + std::to_string(figures.units_burned) +
         (figures.units_burned == 1 ? " unit burned, " : " units burned, ") +
         std::to_string(figures.failed_attempts) +
         (figures.failed_attempts == 1 ? " attempt failed, " : " attempts failed, ") +
         std::to_string(figures.refused) + " refused, first-pass yield " + yield;
}

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
  return CountsLine(link.station_name, ComputeYield(records));
}

}  // namespace stampwright
