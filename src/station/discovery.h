#pragma once

namespace stampwright {

struct StationCore;

// Per version-query try t (0, 1, 2) the wait is 50 + 100 * t ms.
constexpr int kVersionQueryTries = 3;

// Reopens all adapters, queries each for a unit and fills the summaries. True when a unit
// answered on at least one adapter.
bool DiscoverDevices(StationCore& station);

// One query pass over the open adapters; true when any open adapter has a unit present.
bool QueryAllAdapters(StationCore& station);

}  // namespace stampwright
