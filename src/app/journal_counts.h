#pragma once

#include <string>

#include "station/journal_link.h"

namespace stampwright {

// The line the window shows below the page: this station's counts for today (UTC) from the
// journal: units burned, attempts failed, first-pass yield. Says so when the journal is off or
// unusable.
std::string TodayCountsText(const JournalLink& link);

}  // namespace stampwright
