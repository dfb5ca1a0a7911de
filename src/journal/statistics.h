#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "journal/record.h"

namespace stampwright {

// Yield over a set of records. A unit is a MAC. Refusals (IsRefusal) are neither units nor
// attempts: nothing was sent to a unit.
struct YieldFigures {
  int attempts = 0;         // burn attempts that sent a frame to a unit
  int refused = 0;          // burn attempts refused before anything was sent
  int units = 0;            // MACs among the attempts
  int successes = 0;        // attempts ending "success"
  int units_burned = 0;     // MACs with a "success"
  int failed_attempts = 0;  // finished attempts not ending well
  int first_pass = 0;       // units whose first attempt here ended "success"
  double FirstPassYield() const { return units == 0 ? 0.0 : double(first_pass) / units; }
};

// Burn records only; records must be oldest first.
YieldFigures ComputeYield(const std::vector<JournalRecord>& records);

// The p-th percentile (0..100) of values by the nearest-rank rule; 0 for none.
int64_t Percentile(std::vector<int64_t> values, double p);

// Midnight UTC of the day utc_ms falls in.
int64_t UtcDayStart(int64_t utc_ms);

}  // namespace stampwright
