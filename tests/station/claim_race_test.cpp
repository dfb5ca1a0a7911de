// Two stations on two threads, two handles on one journal file: the label that one burns while
// the other sits between its early check and its claim is refused by that claim.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "support/claim_race.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

constexpr char kLabel[] = "02A0C5123456";

class ClaimRaceTest : public InTempDir {};

TEST_F(ClaimRaceTest, TheLabelBurnedBetweenTheCheckAndTheClaimIsRefusedByTheClaim) {
  std::ofstream("cam.dbr") << EncodeMacRecord(kLabel, "K7QM2XWP9RTB4HZD") << "\n";
  JournalStatus status;
  auto first = SqliteJournal::Open("journal.db", &status);
  ASSERT_TRUE(first) << status.error;
  auto second = SqliteJournal::Open("journal.db", &status);
  ASSERT_TRUE(second) << status.error;

  const ClaimRaceResult race = RunClaimRace(*first, *second, kLabel);
  ASSERT_TRUE(race.first_ready && race.second_ready);
  ASSERT_TRUE(race.held) << "the seam did not hold the first station before its claim";
  ASSERT_TRUE(race.second_success);

  EXPECT_FALSE(race.first_success);
  EXPECT_EQ(race.first_frames_after_check, 0u) << "the first station sent frames after its claim";
  ASSERT_EQ(race.first_outcomes.size(), 1u);
  EXPECT_EQ(race.first_outcomes[0].outcome, Outcome::kDuplicateRefused);
  ASSERT_EQ(race.second_outcomes.size(), 1u);
  ASSERT_TRUE(race.second_outcomes[0].committed);
  ASSERT_EQ(race.first_boxes.size(), 1u);
  EXPECT_EQ(race.first_boxes[0].caption, "Mac Burn");
  EXPECT_EQ(race.first_boxes[0].type, kMbIconWarning);
  EXPECT_EQ(race.first_boxes[0].text, std::string("MAC ") + kLabel + " was already burned by station race-b at " +
                                          FormatUtcSeconds(*race.second_outcomes[0].committed) + " UTC.");

  std::vector<JournalRecord> records;
  ASSERT_TRUE(first->Read({}, &records).ok());
  int successes = 0;
  for (const JournalRecord& r : records) successes += r.outcome == Outcome::kSuccess;
  EXPECT_EQ(successes, 1);
}

}  // namespace
}  // namespace stampwright::station_test
