// A unit burned on one bay and cabled to another before it came back: both bays are told, and
// the attempt ends "returned-on-other-bay" on the bay that burned it, never "Success".

#include <gtest/gtest.h>

#include <fstream>

#include "app/scan_router.h"
#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "support/hosted_station.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

class CrossedBaysTest : public InTempDir {};

std::optional<Notice> NoticeOf(HostedStation& bay) { return bay.Await<Notice>(); }

TEST_F(CrossedBaysTest, AUnitMovedToAnotherBaysCableAfterItsCommitStopsBoth) {
  std::ofstream("cam.dbr") << EncodeMacRecord("02A0C5100011", "K7QM2XWP9RTB4HZD") << "\n";
  JournalStatus status;
  std::unique_ptr<SqliteJournal> first = SqliteJournal::Open("journal.db", &status);
  std::unique_ptr<SqliteJournal> second = SqliteJournal::Open("journal.db", &status);
  ASSERT_TRUE(first && second) << status.error;
  // Fresh units: one default MAC on both bays.
  HostedStation one(*first, "gang", 1, false, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  HostedStation two(*second, "gang", 2, false, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  ASSERT_TRUE(one.Ready());
  ASSERT_TRUE(two.Ready());

  one.PressBurn("02A0C5100011");
  ASSERT_TRUE(one.Run([](Station& station, PageModel&) {
    return station.phase() == StationPhase::kRestarting;
  })) << "committed, waiting for the unit's return";
  // Bay 2's own unit is taken away and bay 1's restarting unit cabled there instead: each
  // wire is touched on its own bay's thread, one after the other.
  ASSERT_TRUE(two.Run([&two](Station&, PageModel&) {
    two.driver().DetachPeer("eth0");
    return true;
  }));
  ASSERT_TRUE(one.Run([&one](Station&, PageModel&) {
    one.driver().DetachPeer("eth0");
    return true;
  }));
  ASSERT_TRUE(two.Run([&two, &one](Station&, PageModel&) {
    return two.driver().AttachPeer("eth0", &one.unit());
  }));
  const auto found_burned = [&two] {
    for (const StationEvent& event : two.Events()) {
      const auto* unit = std::get_if<UnitEvent>(&event.body);
      if (unit != nullptr && unit->present && unit->mac == "02:A0:C5:10:00:11") return true;
    }
    return false;
  };
  for (int i = 0; i < 200 && !found_burned(); ++i) {
    ASSERT_TRUE(two.Run([&two](Station& station, PageModel&) {
      two.clock().Advance(250);
      station.ScanTick();
      return true;
    }));
  }
  ASSERT_TRUE(found_burned()) << "bay 2 found the burned unit";

  // The front end's view: every bay's events through the router, in the order they were made.
  ScanRouter router(2);
  for (const StationEvent& event : one.Events()) router.Observe(event);
  for (const StationEvent& event : two.Events()) router.Observe(event);
  TellCrossedReturns(router, [&](int bay) { return bay == 1 ? &one.host() : &two.host(); });

  const std::string text = "MAC 02A0C5100011 came back on bay 2; it was burned on bay 1.";
  const std::optional<Notice> told_one = NoticeOf(one);
  const std::optional<Notice> told_two = NoticeOf(two);
  ASSERT_TRUE(told_one && told_two);
  EXPECT_EQ(told_one->text, text);
  EXPECT_EQ(told_two->text, text);
  EXPECT_EQ(told_one->type, kMbIconWarning);
  const std::optional<RecordEvent> record = one.Await<RecordEvent>();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->record.outcome, Outcome::kReturnedOnOtherBay);
  EXPECT_TRUE(record->record.committed);
  EXPECT_FALSE(one.Saw("Success"));
  EXPECT_FALSE(two.Saw("Success")) << "bay 2 burned nothing";
  ASSERT_TRUE(two.Run([&two](Station&, PageModel&) {
    two.driver().DetachPeer("eth0");  // bay 1's unit goes before bay 1 does
    return true;
  }));
}

}  // namespace
}  // namespace stampwright::station_test
