#include "app/scan_router.h"

#include <gtest/gtest.h>

#include "resources/controls.h"

namespace stampwright {
namespace {

using Kind = ScanRouter::Result::Kind;
using Clock = ScanRouter::Clock;

// A bay's unit read and Burn enabled, as its events tell it.
void Ready(ScanRouter& router, int bay) {
  router.Observe({bay, PhaseEvent{StationPhase::kReady}});
  router.Observe({bay, ModuleReadEvent{"PX300", "PX300 Class B"}});
  router.Observe({bay, PageChange{PageChange::Kind::kEnable, kBurnButton, {}, true}});
}

TEST(ScanRouterTest, ALabelGoesToTheOneBayWaitingOrWaitsForItsBay) {
  const Clock::time_point t0 = Clock::now();
  ScanRouter router(3);
  EXPECT_EQ(router.Scan("02A0C5100001", t0).reason, "No bay is waiting for a label.");
  EXPECT_EQ(router.Scan("not a label", t0).kind, Kind::kRefused);

  Ready(router, 2);
  EXPECT_EQ(router.TopLine(t0), "Bay 2: scan the label    0 units/h");
  router.AskForBurnPress(true);  // a confirmed pool: the MAC is typed in already
  EXPECT_EQ(router.TopLine(t0), "Bay 2: press Burn    0 units/h");
  router.AskForBurnPress(false);
  const ScanRouter::Result first = router.Scan("02:a0:c5:10:00:01", t0);
  EXPECT_EQ(first.kind, Kind::kBurning);
  EXPECT_EQ(first.bay, 2);
  EXPECT_EQ(first.label, "02A0C5100001");
  // The bay is taken from the scan on, before its events say so; the label is in flight.
  EXPECT_FALSE(router.WaitingForLabel(2));
  Ready(router, 3);
  const ScanRouter::Result again = router.Scan("02A0C5100001", t0);
  EXPECT_EQ(again.reason, "MAC 02A0C5100001 is being burned on bay 2.");
  EXPECT_EQ(again.refused_on, 3) << "the bay it was scanned for records the refusal";
  EXPECT_TRUE(router.WaitingForLabel(3));

  // Two bays waiting: held until a bay code names one; a code for a bay not waiting is refused.
  Ready(router, 1);
  EXPECT_EQ(router.Scan("02A0C5100002", t0).kind, Kind::kHeld);
  EXPECT_EQ(router.TopLine(t0).rfind("Scan the bay code or click the bay for 02A0C5100002", 0), 0u);
  EXPECT_EQ(router.Scan("BAY-2", t0).reason, "Bay 2 is not waiting for a label.");
  EXPECT_EQ(router.Scan("02A0C5100002", t0).kind, Kind::kHeld);
  const ScanRouter::Result coded = router.Scan("bay-3", t0);
  EXPECT_EQ(coded.kind, Kind::kBurning);
  EXPECT_EQ(coded.bay, 3);
  EXPECT_EQ(coded.label, "02A0C5100002");

  // A held scan expires after 30 s; a click (or a code first) picks the bay for the next label.
  JournalRecord failed;
  failed.outcome = Outcome::kWriteFailed;
  router.Observe({3, RecordEvent{failed}});
  Ready(router, 3);
  EXPECT_EQ(router.Scan("02A0C5100003", t0).kind, Kind::kHeld);
  EXPECT_TRUE(router.Expire(t0 + ScanRouter::kHoldLimit));
  EXPECT_FALSE(router.held());
  router.Select(1);
  EXPECT_EQ(router.Scan("02A0C5100003", t0).bay, 1);
  EXPECT_EQ(router.Scan("BAY-3", t0).kind, Kind::kBaySelected);
  EXPECT_EQ(router.Scan("02A0C5100004", t0).bay, 3);
  EXPECT_EQ(router.Scan("BAY-9", t0).reason, "There is no bay 9.");

  // Bay 2's unit passes: the top line says to take it, until it is unplugged; its record frees
  // its label.
  router.Observe({2, ActivityEvent{StationActivity::kPassed, "02A0C5100001"}}, t0);
  JournalRecord record;
  record.outcome = Outcome::kSuccess;
  router.Observe({2, RecordEvent{record}});
  EXPECT_EQ(router.TopLine(t0), "Bay 2: PASS, take the unit    1 units/h");
  router.Observe({2, UnitEvent{}});
  router.Observe({2, PhaseEvent{StationPhase::kNoUnit}});
  EXPECT_EQ(router.TopLine(t0 + std::chrono::hours(2)), "Cable the next unit    0 units/h");
}

}  // namespace
// Fresh units share one default MAC on every bay; a burned unit's new MAC heard on another bay
// is a crossing, told once, while its bay still waits for it.
TEST(ScanRouterTest, ABurnedUnitHeardOnAnotherBayIsACrossingToldOnce) {
  ScanRouter router(3);
  router.Observe({1, UnitEvent{true, "02:A0:C5:00:00:01", "PX300", "sim"}});
  router.Observe({2, UnitEvent{true, "02:A0:C5:00:00:01", "PX300", "sim"}});
  router.Observe({1, ActivityEvent{StationActivity::kBurning, "02A0C5100011"}});
  router.Observe({3, UnitEvent{true, "02:A0:C5:00:00:01", "PX300", "sim"}});
  EXPECT_TRUE(router.TakeCrossedReturns().empty());

  router.Observe({1, UnitEvent{}});
  router.Observe({2, UnitEvent{true, "02:a0:c5:10:00:11", "PX300", "sim"}});
  const std::vector<ScanRouter::CrossedReturn> crossed = router.TakeCrossedReturns();
  ASSERT_EQ(crossed.size(), 1u);
  EXPECT_EQ(crossed[0].mac, "02A0C5100011");
  EXPECT_EQ(crossed[0].burned_on, 1);
  EXPECT_EQ(crossed[0].came_back_on, 2);
  EXPECT_EQ(crossed[0].text, "MAC 02A0C5100011 came back on bay 2; it was burned on bay 1.");
  router.Observe({2, UnitEvent{true, "02:A0:C5:10:00:11", "PX300", "sim"}});
  EXPECT_TRUE(router.TakeCrossedReturns().empty());

  // Back on its own bay, after its record: no crossing.
  router.Observe({3, ActivityEvent{StationActivity::kBurning, "02A0C5100033"}});
  JournalRecord passed;
  passed.outcome = Outcome::kSuccess;
  router.Observe({3, RecordEvent{passed}});
  router.Observe({1, UnitEvent{true, "02:A0:C5:10:00:33", "PX300", "sim"}});
  EXPECT_TRUE(router.TakeCrossedReturns().empty());
}

}  // namespace stampwright
