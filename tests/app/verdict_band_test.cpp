// The verdict band through one unit's life: read, burn, pass; then a failed attempt, a refusal,
// and the next unit's read that clears it.

#include <gtest/gtest.h>

#include "app/verdict_band.h"

namespace stampwright {
namespace {

TEST(VerdictBandTest, FollowsReadBurnPassFailAndTheNextUnit) {
  const std::string mac = "02A0C5123456";
  Verdict band;
  band = VerdictAfterActivity(StationActivity::kReading, mac);
  EXPECT_EQ(band.tone, VerdictTone::kNeutral);
  band = VerdictAfterActivity(StationActivity::kRead, mac);
  EXPECT_EQ(band, Verdict{});
  band = VerdictAfterActivity(StationActivity::kBurning, mac);
  EXPECT_EQ(band.tone, VerdictTone::kNeutral);
  band = VerdictAfterActivity(StationActivity::kPassed, mac);
  EXPECT_EQ(band, (Verdict{VerdictTone::kPass, "PASS 02A0C5123456"}));

  JournalRecord record;
  record.outcome = Outcome::kSuccess;
  EXPECT_EQ(VerdictAfterOutcome(band, record), band);
  record.outcome = Outcome::kWrongReturn;
  band = VerdictAfterOutcome(band, record);
  EXPECT_EQ(band, (Verdict{VerdictTone::kFail, "FAIL wrong-return"}));
  band = VerdictAfterActivity(StationActivity::kVerifyFailed, mac);
  EXPECT_EQ(band, (Verdict{VerdictTone::kFail, "FAIL verify-failed"}));
  // A refusal is amber, and its record, written now or later, leaves whatever the band shows.
  band = VerdictAfterRefusal(Outcome::kLookupFailed);
  EXPECT_EQ(band, (Verdict{VerdictTone::kRefused, "REFUSED lookup-failed"}));
  record.outcome = Outcome::kJournalError;
  EXPECT_EQ(VerdictAfterOutcome(band, record), band);
  band = VerdictAfterActivity(StationActivity::kBurning, mac);
  EXPECT_EQ(VerdictAfterOutcome(band, record), band);
  // The next unit: neutral while read, cleared once its read ended.
  band = VerdictAfterActivity(StationActivity::kReading, mac);
  EXPECT_EQ(band.tone, VerdictTone::kNeutral);
  band = VerdictAfterActivity(StationActivity::kRead, mac);
  EXPECT_EQ(band, Verdict{});
}

}  // namespace
}  // namespace stampwright
