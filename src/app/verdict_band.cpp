#include "app/verdict_band.h"

namespace stampwright {

Verdict VerdictAfterActivity(StationActivity activity, std::string_view mac) {
  switch (activity) {
    case StationActivity::kPassed:
      return {VerdictTone::kPass, "PASS " + std::string(mac)};
    case StationActivity::kVerifyFailed:
      return {VerdictTone::kFail, "FAIL verify-failed"};
    case StationActivity::kRead:
      return {};
    case StationActivity::kReading:
    case StationActivity::kBurning:
      break;
  }
  return {VerdictTone::kNeutral, ""};
}

Verdict VerdictAfterOutcome(const Verdict& now, const JournalRecord& record) {
  if (!record.outcome || IsGoodOutcome(*record.outcome) || IsRefusal(*record.outcome)) return now;
  return {VerdictTone::kFail, "FAIL " + std::string(OutcomeName(*record.outcome))};
}

Verdict VerdictAfterRefusal(Outcome reason) {
  return {VerdictTone::kRefused, "REFUSED " + std::string(OutcomeName(reason))};
}

}  // namespace stampwright
