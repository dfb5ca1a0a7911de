#pragma once

#include <string>

#include "journal/statistics.h"
#include "station/journal_link.h"

namespace stampwright {

// "Today, <station>: N units burned, N attempts failed, N refused, first-pass yield X %", with
// "1 unit" and "1 attempt"; the yield is "-" before any unit was tried.
std::string CountsLine(const std::string& station, const YieldFigures& figures);

// The line the window shows below the page: this station's counts for today (UTC) from the
// journal. Says so when the journal is off or unusable.
std::string TodayCountsText(const JournalLink& link);

}  // namespace stampwright
