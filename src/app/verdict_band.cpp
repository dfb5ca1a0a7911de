#include "app/verdict_band.h"

namespace stampwright {

Verdict VerdictAfterStatus(const Verdict& now, std::string_view status, std::string_view mac) {
  if (status == "Success") return {VerdictTone::kPass, "PASS " + std::string(mac)};
  if (status == "Verify failed") return {VerdictTone::kFail, "FAIL verify-failed"};
  constexpr std::string_view kRead = "Read Module - offset: ";
  if (status.starts_with(kRead)) {
    // Only the read of a newly found unit ends with ", OK"; the read-back after a burn does not.
    if (status.ends_with(", OK")) return {};
    return {VerdictTone::kNeutral, ""};
  }
  if (status == "Burning..." || status.starts_with("Write Module - offset: ")) {
    return {VerdictTone::kNeutral, ""};
  }
  return now;
}

Verdict VerdictAfterOutcome(const Verdict& now, const JournalRecord& record) {
  if (!record.outcome || IsGoodOutcome(*record.outcome) || IsRefusal(*record.outcome)) return now;
  return {VerdictTone::kFail, "FAIL " + std::string(OutcomeName(*record.outcome))};
}

Verdict VerdictAfterRefusal(Outcome reason) {
  return {VerdictTone::kRefused, "REFUSED " + std::string(OutcomeName(reason))};
}

}  // namespace stampwright
