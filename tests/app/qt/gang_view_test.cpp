// The gang window's view with four bays fed a station's events: each tile's word and colour, the
// burn's progress, the unit, the notice and the counts; the top line; clicks and double clicks
// reported; a line typed anywhere in the window reported when Enter ends it.

#include "app/qt/gang_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/qt/bay_tile.h"
#include "app/qt/fitted_label.h"
#include "app/qt/qt_printers.h"
#include "app/qt/tone_colors.h"
#include "resources/controls.h"

namespace stampwright {
namespace {

StationEvent At(int bay, StationEventBody body) { return {bay, std::move(body)}; }

StationEvent Status(int bay, const std::string& text) {
  return At(bay, PageChange{PageChange::Kind::kText, kStatusLine, text, false});
}

// A bay's unit found and read, ready for its label.
void ReadUnit(GangView& view, int bay, const std::string& mac) {
  view.Show(At(bay, PhaseEvent{StationPhase::kReading}));
  view.Show(At(bay, ModuleReadEvent{"PX300", "PX300 Class B"}));
  view.Show(At(bay, PageChange{PageChange::Kind::kEnable, kBurnButton, "", true}));
  view.Show(At(bay, PhaseEvent{StationPhase::kReady}));
  view.Show(At(bay, UnitEvent{true, mac, "PX300", "3.0.2-sim"}));
}

void StartBurn(GangView& view, int bay, const std::string& label) {
  view.Show(At(bay, PhaseEvent{StationPhase::kBurning}));
  view.Show(At(bay, ActivityEvent{StationActivity::kBurning, label}));
}

std::string Word(const GangView& view, int bay) {
  return view.tile(bay).word().text().toStdString();
}

// Colours by name, for a readable failure.
std::string Name(const QColor& color) { return color.name().toStdString(); }

std::string WordBackground(const GangView& view, int bay) {
  return Name(view.tile(bay).word().background());
}

// Lets the event loop run until done() holds, for at most bound_ms.
template <typename Done>
bool WaitFor(Done done, int bound_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < bound_ms) QTest::qWait(20);
  return done();
}

TEST(GangViewTest, FourBaysShowTheirStatesAndReportTheOperator) {
  GangView view({"eth1", "eth2", "eth3", "eth4"});
  std::vector<int> clicked, double_clicked;
  std::vector<std::string> scans;
  std::vector<std::pair<int, Verdict>> verdicts;
  view.on_tile_clicked = [&](int bay) { clicked.push_back(bay); };
  view.on_tile_double_clicked = [&](int bay) { double_clicked.push_back(bay); };
  view.on_scan = [&](std::string text) { scans.push_back(std::move(text)); };
  view.on_verdict = [&](int bay, const Verdict& verdict) { verdicts.emplace_back(bay, verdict); };
  view.resize(1600, 700);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

  // One row of four, in bay order, each named by its bay and adapter.
  ASSERT_EQ(view.bay_count(), 4);
  for (int bay = 1; bay <= 4; ++bay) {
    SCOPED_TRACE(bay);
    EXPECT_EQ(view.tile(bay).title().text().toStdString(),
              "Bay " + std::to_string(bay) + "  eth" + std::to_string(bay));
    EXPECT_EQ(Word(view, bay), "No unit");
    if (bay > 1) {
      EXPECT_EQ(view.tile(bay).y(), view.tile(1).y());
      EXPECT_GT(view.tile(bay).x(), view.tile(bay - 1).x());
    }
  }

  view.SetTopLine("Bay 1: scan the label    118 units/h");
  EXPECT_EQ(view.findChild<QLabel*>("topLine")->text().toStdString(),
            "Bay 1: scan the label    118 units/h");

  // Bay 1 waits for its label; bay 2 burns; bay 3 passes; bay 4 is refused with its box.
  ReadUnit(view, 1, "02:A0:C5:00:00:01");
  ReadUnit(view, 2, "02:A0:C5:00:00:01");
  ReadUnit(view, 3, "02:A0:C5:00:00:01");
  ReadUnit(view, 4, "02:A0:C5:00:00:01");
  StartBurn(view, 2, "02A0C5100022");
  view.Show(Status(2, "Write Module - offset: 4096"));
  StartBurn(view, 3, "02A0C5100033");
  JournalRecord success;
  success.mac = "02A0C5100033";
  success.outcome = Outcome::kSuccess;
  view.Show(At(3, RecordEvent{success}));
  view.Show(At(3, ActivityEvent{StationActivity::kPassed, "02A0C5100033"}));
  view.Show(At(3, PhaseEvent{StationPhase::kReady}));
  view.Show(At(4, PhaseEvent{StationPhase::kBurning}));
  view.Show(At(4, Notice{"MAC 02A0C5100033 is being burned on bay 3.", "Mac Burn", 48, nullptr}));
  view.Show(At(4, RefusedEvent{Outcome::kDuplicateRefused}));
  view.Show(At(4, PhaseEvent{StationPhase::kReady}));
  // Events of a bay the view does not have go nowhere.
  view.Show(At(5, RefusedEvent{Outcome::kLookupFailed}));
  view.Show(At(0, RefusedEvent{Outcome::kLookupFailed}));

  EXPECT_EQ(Word(view, 1), "Scan label");
  EXPECT_EQ(view.tile(1).unit().text().toStdString(), "02:A0:C5:00:00:01   PX300 Class B");
  EXPECT_FALSE(view.tile(1).progress().isVisible());

  EXPECT_EQ(Word(view, 2), "Burning");
  EXPECT_TRUE(view.tile(2).progress().isVisible());
  EXPECT_EQ(view.tile(2).progress().value(), 4096);
  EXPECT_EQ(view.tile(2).progress().maximum(), 7864);
  EXPECT_EQ(WordBackground(view, 2), Name(ColorsOf(VerdictTone::kNeutral).background));

  EXPECT_EQ(Word(view, 3), "PASS 02A0C5100033");
  EXPECT_EQ(WordBackground(view, 3), Name(ColorsOf(VerdictTone::kPass).background));
  EXPECT_EQ(Name(view.tile(3).word().foreground()), Name(ColorsOf(VerdictTone::kPass).foreground));
  EXPECT_EQ(view.tile(3).unit().text().toStdString(), "02:A0:C5:10:00:33   PX300 Class B");
  EXPECT_EQ(view.tile(3).counts().text().toStdString(),
            "Attempts 1  Passed 1  Failed 0  Refused 0");

  EXPECT_EQ(Word(view, 4), "REFUSED duplicate-refused");
  EXPECT_EQ(WordBackground(view, 4), Name(ColorsOf(VerdictTone::kRefused).background));
  EXPECT_EQ(view.tile(4).notice().text().toStdString(),
            "Mac Burn: MAC 02A0C5100033 is being burned on bay 3.");
  EXPECT_EQ(view.tile(4).counts().text().toStdString(),
            "Attempts 0  Passed 0  Failed 0  Refused 1");

  // Bay 2's burn fails: red. Each tile's colour is its own.
  JournalRecord failed;
  failed.mac = "02A0C5100022";
  failed.outcome = Outcome::kWriteFailed;
  view.Show(At(2, RecordEvent{failed}));
  EXPECT_EQ(Word(view, 2), "FAIL write-failed");
  EXPECT_EQ(WordBackground(view, 2), Name(ColorsOf(VerdictTone::kFail).background));
  EXPECT_FALSE(view.tile(2).progress().isVisible());
  const std::set<std::string> colours = {WordBackground(view, 1), WordBackground(view, 2),
                                         WordBackground(view, 3), WordBackground(view, 4)};
  EXPECT_EQ(colours.size(), 4u) << "scan label, fail, pass and refused each have their colour";
  ASSERT_EQ(verdicts.size(), 3u) << "one per verdict as it appears";
  EXPECT_EQ(verdicts[0], (std::pair<int, Verdict>{3, {VerdictTone::kPass, "PASS 02A0C5100033"}}));
  EXPECT_EQ(verdicts[1].first, 4);
  EXPECT_EQ(verdicts[2].first, 2);

  // The adapter of bay 4 is pulled, and comes back: the bay's events.
  view.Show(At(4, AdapterEvent{false, "eth3"}));
  EXPECT_EQ(Word(view, 4), "No adapter");
  view.Show(At(4, AdapterEvent{true, "eth3"}));
  EXPECT_EQ(Word(view, 4), "No unit");

  // Bay 1 restarts: its seconds count on their own.
  StartBurn(view, 1, "02A0C5100011");
  view.Show(At(1, PhaseEvent{StationPhase::kRestarting}));
  EXPECT_EQ(Word(view, 1), "Restarting 0 s");
  EXPECT_TRUE(WaitFor([&] { return Word(view, 1) == "Restarting 1 s"; }, 5000))
      << Word(view, 1);

  // A click selects the bay until the next scan; a double click asks for its page.
  QTest::mouseDClick(&view.tile(3), Qt::LeftButton);
  ASSERT_EQ(double_clicked, std::vector<int>{3});
  QTest::mouseClick(&view.tile(2).word(), Qt::LeftButton);
  EXPECT_EQ(clicked.back(), 2) << "a click on the word is a click on the tile";
  EXPECT_EQ(view.selected_bay(), 2);
  EXPECT_TRUE(view.tile(2).selected());
  EXPECT_FALSE(view.tile(3).selected());

  // The scanner types wherever the focus is in the window; Enter ends the line.
  QTest::keyClicks(&view.tile(4).word(), "02a0c5100044");
  EXPECT_TRUE(scans.empty()) << "nothing before Enter";
  EXPECT_EQ(view.findChild<QLabel*>("typed")->text().toStdString(), "02a0c5100044");
  QTest::keyClick(&view.tile(4).word(), Qt::Key_Return);
  ASSERT_EQ(scans, std::vector<std::string>{"02a0c5100044"});
  EXPECT_EQ(view.selected_bay(), 0) << "the scan used the selection up";
  EXPECT_FALSE(view.tile(2).selected());
  EXPECT_EQ(view.findChild<QLabel*>("typed")->text().toStdString(), "");

  // A bay code typed with a slip; Enter on the keypad; an empty line is no scan.
  QTest::keyClicks(&view, "BAY-33");
  QTest::keyClick(&view, Qt::Key_Backspace);
  QTest::keyClick(&view, Qt::Key_Enter);
  QTest::keyClick(&view, Qt::Key_Return);
  EXPECT_EQ(scans, (std::vector<std::string>{"02a0c5100044", "BAY-3"}));

  // Another window's keys are its own.
  QLineEdit other;
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  QTest::keyClicks(&other, "abc");
  QTest::keyClick(&other, Qt::Key_Return);
  EXPECT_EQ(other.text().toStdString(), "abc");
  EXPECT_EQ(scans.size(), 2u);
}

TEST(GangViewTest, MoreThanFourBaysWrapIntoRows) {
  GangView view({"a", "b", "c", "d", "e", "f"});
  view.resize(1600, 900);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  EXPECT_EQ(view.tile(4).y(), view.tile(1).y());
  EXPECT_GT(view.tile(5).y(), view.tile(1).y());
  EXPECT_EQ(view.tile(5).x(), view.tile(1).x());
  EXPECT_EQ(view.tile(6).y(), view.tile(5).y());
}

}  // namespace
}  // namespace stampwright
