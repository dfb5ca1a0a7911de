#pragma once

#include <string>
#include <string_view>

#include "journal/record.h"
#include "station/station.h"

namespace stampwright {

// The last verdict, large below the page, for an operator who looks at the fixture and not at
// the status line.
// A refusal is its own tone: nothing was sent to a unit, so it is no failed unit.
enum class VerdictTone { kClear, kNeutral, kPass, kRefused, kFail };

struct Verdict {
  VerdictTone tone = VerdictTone::kClear;
  std::string text;  // "PASS <MAC>", "REFUSED <outcome>", "FAIL <outcome>", or empty
  bool operator==(const Verdict&) const = default;
};

// The band after the station's activity: "PASS <MAC>" with its pass (mac: the MAC field), "FAIL
// verify-failed", neutral while a unit is read or burned, cleared once a new unit's read ended.
Verdict VerdictAfterActivity(StationActivity activity, std::string_view mac);

// The band after an outcome was recorded: "FAIL <outcome>" for one that did not end well.
// Refusals are left to VerdictAfterRefusal: their records may be written long after the
// refusal (a journal that could not take them), when the band shows another unit.
Verdict VerdictAfterOutcome(const Verdict& now, const JournalRecord& record);

// The band when a command was refused before anything was sent: "REFUSED <outcome>".
Verdict VerdictAfterRefusal(Outcome reason);

}  // namespace stampwright
