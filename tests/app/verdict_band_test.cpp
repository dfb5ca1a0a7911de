// The verdict band through one unit's life: read, burn, pass; then a failed attempt, a refusal,
// and the next unit's read that clears it.

#include <gtest/gtest.h>

#include "app/verdict_band.h"

namespace stampwright {
namespace {

TEST(VerdictBandTest, FollowsReadBurnPassFailAndTheNextUnit) {
  const std::string mac = "02A0C5123456";
  Verdict band;
  band = VerdictAfterStatus(band, "Read Module - offset: 0", mac);
  EXPECT_EQ(band.tone, VerdictTone::kNeutral);
  band = VerdictAfterStatus(band, "Read Module - offset: 7864, OK", mac);
  EXPECT_EQ(band, Verdict{});
  band = VerdictAfterStatus(band, "Write Module - offset: 1024", mac);
  EXPECT_EQ(band.tone, VerdictTone::kNeutral);
  band = VerdictAfterStatus(band, "Waiting...", mac);
  EXPECT_EQ(band.tone, VerdictTone::kNeutral);
  band = VerdictAfterStatus(band, "Success", mac);
  EXPECT_EQ(band, (Verdict{VerdictTone::kPass, "PASS 02A0C5123456"}));
  // Texts that say nothing about a verdict leave it up.
  band = VerdictAfterStatus(band, "No Device", mac);
  EXPECT_EQ(band.tone, VerdictTone::kPass);

  JournalRecord record;
  record.outcome = Outcome::kSuccess;
  EXPECT_EQ(VerdictAfterOutcome(band, record), band);
  record.outcome = Outcome::kWrongReturn;
  band = VerdictAfterOutcome(band, record);
  EXPECT_EQ(band, (Verdict{VerdictTone::kFail, "FAIL wrong-return"}));
  band = VerdictAfterStatus(band, "Verify failed", mac);
  EXPECT_EQ(band, (Verdict{VerdictTone::kFail, "FAIL verify-failed"}));
  // A refusal is amber, and its record, written now or later, leaves whatever the band shows.
  band = VerdictAfterRefusal(Outcome::kLookupFailed);
  EXPECT_EQ(band, (Verdict{VerdictTone::kRefused, "REFUSED lookup-failed"}));
  record.outcome = Outcome::kJournalError;
  EXPECT_EQ(VerdictAfterOutcome(band, record), band);
  band = VerdictAfterStatus(band, "Burning...", mac);
  EXPECT_EQ(VerdictAfterOutcome(band, record), band);
  // The next unit: neutral while read, cleared once its read ended.
  band = VerdictAfterStatus(band, "Read Module - offset: 1024", mac);
  EXPECT_EQ(band.tone, VerdictTone::kNeutral);
  band = VerdictAfterStatus(band, "Read Module - offset: 7864, OK", mac);
  EXPECT_EQ(band, Verdict{});
}

}  // namespace
}  // namespace stampwright
