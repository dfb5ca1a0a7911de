// The gang window on two demo bays, end to end: both units are read, the operator scans a bay
// code and a label for each (typed into the window, wherever the focus is), both burn at once to
// PASS, and the window's close closes every bay.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/demo.h"
#include "programming/mac_database.h"
#include "app/front_end.h"
#include "app/qt/gang_view.h"
#include "journal/sqlite_journal.h"
#include "settings/preferences.h"
#include "settings/state_file.h"
#include "support/recording_arp_flush.h"
#include "support/temp_dir.h"
#include "transport/clock.h"

namespace stampwright {
namespace {

// The single-instance lock of its own, as a station started here would have.
class GangWindowTest : public InTempRuntimeDir {};

TEST_F(GangWindowTest, TwoBaysBurnTheirScannedLabelsAtOnceAndCloseTogether) {
  const std::string prefix(kDefaultMacPrefix);
  ASSERT_EQ(SeedDemoDatabase("cam.dbr", prefix, 2), SeedResult::kWritten);
  const std::vector<DemoRecord> records = DemoRecords(prefix, 2);
  SystemClock clock;
  DemoBench first(clock, prefix, kDefaultVendorOui, 1);
  DemoBench second(clock, prefix, kDefaultVendorOui, 2);
  std::vector<std::unique_ptr<SqliteJournal>> journals;
  std::vector<BayEnvironment> bays;
  for (DemoBench* bench : {&first, &second}) {
    JournalStatus opened;
    journals.push_back(SqliteJournal::Open("journal.db", &opened));
    ASSERT_TRUE(journals.back()) << opened.error;
    JournalLink link;
    link.enabled = true;
    link.journal = journals.back().get();
    link.station_name = "gang-window";
    bays.push_back({DemoAdapterName(static_cast<int>(bays.size()) + 1), &bench->driver(), link});
  }
  RecordingArpFlush arp_flush;
  FrontEndEnvironment environment{first.driver(), clock, arp_flush, LoadPreferences(),
                                  StationSettings{}, JournalLink{}, true, {}, bays};

  // The operator, one step per poll; never longer than the bound.
  enum class Step { kFind, kAwaitRead, kAwaitPass, kDone } step = Step::kFind;
  GangView* view = nullptr;
  std::vector<std::string> words_at_pass;
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (elapsed.elapsed() > 30000) {
      poll.stop();
      QCoreApplication::quit();
      return;
    }
    switch (step) {
      case Step::kFind:
        for (QWidget* window : QApplication::topLevelWidgets()) {
          if (auto* found = dynamic_cast<GangView*>(window); found && found->isVisible()) {
            view = found;
            step = Step::kAwaitRead;
          }
        }
        return;
      case Step::kAwaitRead:
        for (int bay = 1; bay <= 2; ++bay) {
          if (view->state(bay).Face(0).word != TileWord::kScanLabel) return;
        }
        // Both wait: a label alone would be held, so each goes behind its bay's code.
        for (int bay = 1; bay <= 2; ++bay) {
          QTest::keyClicks(view, QString::fromStdString("BAY-" + std::to_string(bay)));
          QTest::keyClick(view, Qt::Key_Return);
          QTest::keyClicks(view, QString::fromStdString(records[bay - 1].mac_text));
          QTest::keyClick(view, Qt::Key_Return);
        }
        step = Step::kAwaitPass;
        return;
      case Step::kAwaitPass:
        for (int bay = 1; bay <= 2; ++bay) {
          if (view->state(bay).Face(0).word != TileWord::kVerdict) return;
        }
        for (int bay = 1; bay <= 2; ++bay) words_at_pass.push_back(view->state(bay).Face(0).headline);
        step = Step::kDone;
        poll.stop();
        view->close();
        return;
      case Step::kDone:
        return;
    }
  });
  poll.start(10);
  char name[] = "stampwright";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunWindowFrontEnd(1, argv, environment), 0);
  ASSERT_EQ(step, Step::kDone) << "gave up";
  EXPECT_EQ(words_at_pass, (std::vector<std::string>{"PASS " + records[0].mac_text,
                                                     "PASS " + records[1].mac_text}));
  EXPECT_EQ(first.unit().CurrentMac(), *MacAddress::Parse(records[0].mac_text));
  EXPECT_EQ(second.unit().CurrentMac(), *MacAddress::Parse(records[1].mac_text));
  std::vector<JournalRecord> written;
  ASSERT_TRUE(journals[0]->Read({}, &written).ok());
  ASSERT_EQ(written.size(), 2u);
  for (const JournalRecord& record : written) {
    EXPECT_EQ(record.outcome, Outcome::kSuccess);
    ASSERT_TRUE(record.bay);
    EXPECT_EQ(record.mac, records[static_cast<size_t>(*record.bay - 1)].mac_text);
  }
  const std::string product = LoadPreferences().ProductNameText();
  for (int bay = 1; bay <= 2; ++bay) {
    EXPECT_EQ(std::filesystem::file_size(StateFileName(product + " bay " + std::to_string(bay))),
              kStateFileSize);
  }
}

}  // namespace
}  // namespace stampwright
