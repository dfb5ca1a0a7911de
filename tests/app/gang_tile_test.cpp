// A bay's tile through the events a station publishes, in the order a station publishes them:
// a unit read and burned to PASS and taken away, then the next unit's refusal, failure, notice
// and a verdict that comes late, and the adapter pulled.

#include "app/gang_tile.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "resources/controls.h"

namespace stampwright {

void PrintTo(const TileCounts& counts, std::ostream* out) { *out << CountsText(counts); }

namespace {

StationEventBody Status(const std::string& text) {
  return PageChange{PageChange::Kind::kText, kStatusLine, text, false};
}

StationEventBody BurnEnabled(bool on) {
  return PageChange{PageChange::Kind::kEnable, kBurnButton, "", on};
}

StationEventBody Phase(StationPhase phase) { return PhaseEvent{phase}; }

StationEventBody Activity(StationActivity activity, const std::string& mac = "") {
  return ActivityEvent{activity, mac};
}

StationEventBody Record(Outcome outcome, const std::string& mac) {
  JournalRecord record;
  record.mac = mac;
  record.outcome = outcome;
  return RecordEvent{record};
}

class TileStateTest : public testing::Test {
 protected:
  void Feed(const StationEventBody& event) { tile_.Apply(event, now_ms_); }

  // A unit comes onto the adapter and its module is read, as discovery tells it: the phase and
  // the read first, the unit's own event last.
  void UnitArrivesAndIsRead(const std::string& mac) {
    Feed(Phase(StationPhase::kReady));
    Feed(Phase(StationPhase::kReading));
    EXPECT_EQ(Face().headline, "Reading");
    EXPECT_EQ(Face().tone, VerdictTone::kNeutral);
    Feed(Activity(StationActivity::kReading));
    Feed(Status("Read Module - offset: 1024"));
    EXPECT_FALSE(Face().written) << "a read is no burn";
    Feed(Status("Read Module - offset: 7864, OK"));
    Feed(Activity(StationActivity::kRead));
    Feed(Status("Read Module OK - PX300 Class B"));
    Feed(BurnEnabled(true));
    Feed(ModuleReadEvent{"PX300", "PX300 Class B"});
    Feed(Phase(StationPhase::kReady));
    Feed(UnitEvent{true, mac, "PX300", "3.0.2-sim"});
  }

  void Unplug() {
    Feed(UnitEvent{});
    Feed(Phase(StationPhase::kNoUnit));
  }

  TileFace Face() const { return tile_.Face(now_ms_); }

  TileState tile_;
  int64_t now_ms_ = 50000;
};

TEST_F(TileStateTest, ABurnFromReadToPassUntilTheUnitIsTaken) {
  EXPECT_EQ(Face().word, TileWord::kNoUnit);
  EXPECT_EQ(Face().headline, "No unit");
  EXPECT_EQ(Face().tone, VerdictTone::kClear);

  UnitArrivesAndIsRead("02:A0:C5:00:00:01");
  TileFace face = Face();
  EXPECT_EQ(face.word, TileWord::kScanLabel);
  EXPECT_EQ(face.headline, "Scan label");
  EXPECT_EQ(face.mac, "02:A0:C5:00:00:01");
  EXPECT_EQ(face.chip, "PX300");
  EXPECT_EQ(face.module_class, "PX300 Class B");
  EXPECT_FALSE(face.written);

  Feed(Phase(StationPhase::kBurning));
  Feed(Status("Burning..."));
  Feed(Activity(StationActivity::kBurning, "02A0C5100011"));
  Feed(Status("checksum: ee9251c7"));
  for (int offset = 0; offset <= 7168; offset += 1024) {
    Feed(Status("Write Module - offset: " + std::to_string(offset)));
    face = Face();
    EXPECT_EQ(face.headline, "Burning");
    EXPECT_EQ(face.tone, VerdictTone::kNeutral);
    EXPECT_EQ(face.written, offset);
  }
  Feed(Status("Write Module - offset: 7864"));
  EXPECT_EQ(Face().written, 7864);
  Feed(Status("Write Module - OK"));
  Feed(Phase(StationPhase::kCommitting));
  Feed(Status("Waiting..."));
  EXPECT_EQ(Face().headline, "Burning");
  EXPECT_EQ(Face().written, 7864) << "the commit is the burn's last step";
  Feed(Phase(StationPhase::kBurning));
  EXPECT_EQ(Face().written, 7864) << "back from the commit, the same burn";

  Feed(Phase(StationPhase::kRestarting));
  EXPECT_TRUE(tile_.Ticking());
  EXPECT_EQ(Face().headline, "Restarting 0 s");
  EXPECT_FALSE(Face().written);
  now_ms_ += 2600;
  EXPECT_EQ(Face().headline, "Restarting 2 s");
  Feed(Phase(StationPhase::kVerifying));
  EXPECT_EQ(Face().headline, "Verifying");
  Feed(Phase(StationPhase::kRestarting));
  now_ms_ += 900;
  EXPECT_EQ(Face().headline, "Restarting 3 s") << "the read-back does not restart the count";

  Feed(Record(Outcome::kSuccess, "02A0C5100011"));
  Feed(Status("Success"));
  Feed(Activity(StationActivity::kPassed, "02A0C5100011"));
  Feed(Phase(StationPhase::kReady));
  face = Face();
  EXPECT_EQ(face.word, TileWord::kVerdict);
  EXPECT_EQ(face.headline, "PASS 02A0C5100011");
  EXPECT_EQ(face.tone, VerdictTone::kPass);
  EXPECT_EQ(face.mac, "02:A0:C5:10:00:11") << "the unit answers under the label now";
  EXPECT_EQ(face.counts, (TileCounts{1, 1, 0, 0}));
  EXPECT_FALSE(tile_.Ticking());
  now_ms_ += 60000;
  EXPECT_EQ(Face().headline, "PASS 02A0C5100011") << "a verdict waits for the operator";

  Unplug();
  face = Face();
  EXPECT_EQ(face.headline, "No unit");
  EXPECT_EQ(face.tone, VerdictTone::kClear);
  EXPECT_EQ(face.mac, "");
  EXPECT_EQ(face.module_class, "");
  EXPECT_EQ(face.counts, (TileCounts{1, 1, 0, 0})) << "the counts are the bay's";
}

TEST_F(TileStateTest, RefusalFailureNoticeAndALateVerdict) {
  UnitArrivesAndIsRead("02:A0:C5:00:00:01");

  // A label not in the database: the box, the refusal, then its record.
  Feed(Phase(StationPhase::kBurning));
  EXPECT_EQ(Face().headline, "Burning");
  Feed(Notice{"The input MAC is invalid.", "Info", 48, nullptr});
  Feed(RefusedEvent{Outcome::kLookupFailed});
  Feed(Record(Outcome::kLookupFailed, "02A0C51000FF"));
  Feed(Phase(StationPhase::kReady));
  TileFace face = Face();
  EXPECT_EQ(face.headline, "REFUSED lookup-failed");
  EXPECT_EQ(face.tone, VerdictTone::kRefused);
  EXPECT_EQ(face.notice, "Info: The input MAC is invalid.");
  EXPECT_EQ(face.counts, (TileCounts{0, 0, 0, 1})) << "a refusal and its record count once";

  // The right label: the refusal and its notice give way to the burn, which fails mid-way.
  Feed(Phase(StationPhase::kBurning));
  Feed(Activity(StationActivity::kBurning, "02A0C5100011"));
  face = Face();
  EXPECT_EQ(face.headline, "Burning");
  EXPECT_EQ(face.notice, "");
  EXPECT_EQ(face.written, 0);
  Feed(Status("Write Module - offset: 2048"));
  Feed(Record(Outcome::kWriteFailed, "02A0C5100011"));
  Feed(Phase(StationPhase::kReady));
  face = Face();
  EXPECT_EQ(face.headline, "FAIL write-failed");
  EXPECT_EQ(face.tone, VerdictTone::kFail);
  EXPECT_EQ(face.counts, (TileCounts{1, 0, 1, 1}));

  // Burned again; the unit comes back with a module that differs.
  Feed(Phase(StationPhase::kBurning));
  Feed(Activity(StationActivity::kBurning, "02A0C5100011"));
  Feed(Phase(StationPhase::kRestarting));
  Feed(Phase(StationPhase::kVerifying));
  Feed(Activity(StationActivity::kVerifyFailed, "02A0C5100011"));
  Feed(Notice{"Verify failed: the unit's module differs from the image written at offset 6.",
              "Mac Burn", 16, nullptr});
  Feed(Record(Outcome::kVerifyFailed, "02A0C5100011"));
  Feed(Phase(StationPhase::kRestarting));
  Feed(Phase(StationPhase::kReady));
  face = Face();
  EXPECT_EQ(face.headline, "FAIL verify-failed");
  EXPECT_EQ(face.notice,
            "Mac Burn: Verify failed: the unit's module differs from the image written at offset 6.");
  EXPECT_EQ(face.counts, (TileCounts{2, 0, 2, 1}));
  EXPECT_FALSE(tile_.Ticking()) << "a verdict does not count seconds";

  // The next unit's read clears the verdict and the notice.
  Feed(Phase(StationPhase::kReading));
  face = Face();
  EXPECT_EQ(face.headline, "Reading");
  EXPECT_EQ(face.notice, "");
  Feed(Phase(StationPhase::kReady));
  EXPECT_EQ(Face().headline, "Scan label") << "Burn is still enabled from before";
  Feed(BurnEnabled(false));
  EXPECT_EQ(Face().headline, "Unit found") << "a unit with nothing to burn on it";
  Feed(BurnEnabled(true));

  // An earlier attempt closed as the next burn begins: told, then replaced by the burn.
  Feed(Phase(StationPhase::kBurning));
  Feed(Record(Outcome::kNoReturn, "02A0C5100022"));
  EXPECT_EQ(Face().headline, "FAIL no-return");
  Feed(Activity(StationActivity::kBurning, "02A0C5100033"));
  EXPECT_EQ(Face().headline, "Burning");
  EXPECT_EQ(Face().counts, (TileCounts{3, 0, 3, 1}));

  // The adapter pulled mid-burn (the bay's event): its unit goes with it, its counts stay; back,
  // it has no unit.
  Feed(AdapterEvent{false, "eth3"});
  face = Face();
  EXPECT_EQ(face.headline, "No adapter");
  EXPECT_EQ(face.mac, "");
  EXPECT_FALSE(face.written);
  EXPECT_EQ(face.counts, (TileCounts{3, 0, 3, 1}));
  Feed(AdapterEvent{true, "eth3"});
  EXPECT_EQ(Face().headline, "No unit");
}

}  // namespace
}  // namespace stampwright
