#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/soak_scenario.h"
#include "support/temp_dir.h"

namespace stampwright::soak {
namespace {

using ::testing::IsEmpty;

class SoakTest : public InTempDir {};

TEST_F(SoakTest, FaultyBurnsEndInSuccessOrWithoutCommit) {
  const SoakReport report = Soak(40, 20240611).Run();
  EXPECT_THAT(report.violations, IsEmpty());
  int total = 0;
  for (int count : report.outcomes) total += count;
  EXPECT_EQ(total, 40);
  // The seed gives every kind of ending at least once; otherwise the run proves less than it says.
  EXPECT_GT(report.Count(Outcome::kSuccess), 20);
  EXPECT_GT(report.Count(Outcome::kNoCommit), 0);
  EXPECT_GT(report.Count(Outcome::kWrongMac), 0);
  EXPECT_GT(report.vanished, 0);
  EXPECT_GT(report.lost_frames, 0);
  EXPECT_GT(report.boxes, 0);
  // Every unit that committed was asked to; a request the cable lost is the one extra kind.
  EXPECT_GE(report.commits_sent, report.Count(Outcome::kSuccess) +
                                     report.Count(Outcome::kUnconfirmedCommit) +
                                     report.Count(Outcome::kWrongMac));
}

// One burn, short enough to run under valgrind as well. Seed 3 loses 6 % of the frames, sends
// a wrong offset in the sixth confirmation and leaves its box open over a scan tick.
TEST_F(SoakTest, SingleBurn) {
  const SoakReport report = Soak(1, 3).Run();
  EXPECT_THAT(report.violations, IsEmpty());
  EXPECT_EQ(report.Count(Outcome::kSuccess), 1);
  EXPECT_GE(report.boxes, 1);
}

}  // namespace
}  // namespace stampwright::soak
