// The gang window with the pool and a label printer: both demo units are burned as soon as they
// are read, their labels fail (the printer's directory cannot be made) and the tiles say so; a
// click on a tile prints its label again; with scan-back, another bay's label changes nothing
// and the right one is recorded as verified.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/demo.h"
#include "app/front_end.h"
#include "app/label_desk.h"
#include "app/qt/gang_view.h"
#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "resources/controls.h"
#include "settings/preferences.h"
#include "support/recording_arp_flush.h"
#include "support/temp_dir.h"
#include "transport/clock.h"

namespace stampwright {
namespace {

class GangLabelsTest : public InTempRuntimeDir {};

TEST_F(GangLabelsTest, PoolBurnsOnReadFailedLabelsReprintOnAClickAndScanBackCloses) {
  const std::string prefix(kDefaultMacPrefix);
  ASSERT_EQ(SeedDemoDatabase("cam.dbr", prefix, 2), SeedResult::kWritten);
  std::ofstream("labels") << "not a directory";
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
    link.station_name = "gang-labels";
    bays.push_back({DemoAdapterName(static_cast<int>(bays.size()) + 1), &bench->driver(), link});
  }
  JournalStatus opened;
  std::unique_ptr<SqliteJournal> desk_journal = SqliteJournal::Open("journal.db", &opened);
  ASSERT_TRUE(desk_journal) << opened.error;
  LabelSettings settings;
  settings.source = MacSource::kPool;
  settings.printer = std::get<PrinterTarget>(ParsePrinterTarget("dir:labels"));
  settings.scan_back = true;
  settings.station = "gang-labels";
  std::string error;
  std::vector<MacRange> ranges{*ParseMacRange("02A0C5100001-02A0C5100008", &error)};
  std::set<uint64_t> macs;
  ASSERT_TRUE(ReadPoolDatabase("cam.dbr", prefix, ranges, &macs));
  LabelDesk desk(settings, std::make_unique<MacPool>(ranges, macs), desk_journal.get(), 2);
  RecordingArpFlush arp_flush;
  FrontEndEnvironment environment{first.driver(), clock, arp_flush, LoadPreferences(),
                                  StationSettings{}, JournalLink{}, true, {}, bays, &desk};

  enum class Step { kFind, kAwaitFailedLabels, kAwaitPrinted, kDone } step = Step::kFind;
  GangView* view = nullptr;
  std::vector<std::string> notices_at_failure;
  std::string mac1, mac2;  // each bay's PASS, as its tile shows it
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer poll;
  const auto notice = [&view](int bay) { return view->state(bay).Face(0).notice; };
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
            step = Step::kAwaitFailedLabels;
          }
        }
        return;
      case Step::kAwaitFailedLabels:
        for (int bay = 1; bay <= 2; ++bay) {
          if (!notice(bay).starts_with("Label printer: ")) return;
        }
        for (int bay = 1; bay <= 2; ++bay) notices_at_failure.push_back(notice(bay));
        mac1 = view->state(1).Face(0).headline.substr(5);
        mac2 = view->state(2).Face(0).headline.substr(5);
        std::filesystem::remove("labels");
        // Bay 1's tile clicked: its label prints; then bay 2's label scanned while bay 1 waits
        // for its own, and bay 1's own.
        view->on_tile_clicked(1);
        step = Step::kAwaitPrinted;
        return;
      case Step::kAwaitPrinted:
        if (notice(1) != kScanPrintedLabelText) return;
        QTest::keyClicks(view, QString::fromStdString(mac2));
        QTest::keyClick(view, Qt::Key_Return);
        QTest::keyClicks(view, QString::fromStdString(mac1));
        QTest::keyClick(view, Qt::Key_Return);
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
  ASSERT_EQ(notices_at_failure.size(), 2u);
  EXPECT_NE(notices_at_failure[0].find("cannot make labels"), std::string::npos);
  // The pool's two lowest MACs, one per bay, each on its unit.
  EXPECT_EQ(std::set<std::string>({mac1, mac2}),
            std::set<std::string>({"02A0C5100001", "02A0C5100002"}));
  EXPECT_EQ(first.unit().CurrentMac(), *MacAddress::Parse(mac1));
  EXPECT_EQ(second.unit().CurrentMac(), *MacAddress::Parse(mac2));
  EXPECT_TRUE(std::filesystem::exists("labels/" + mac1 + ".zpl"));
  EXPECT_FALSE(std::filesystem::exists("labels/" + mac2 + ".zpl")) << "bay 2 was not reprinted";
  std::vector<JournalRecord> written;
  ASSERT_TRUE(desk_journal->Read({}, &written).ok());
  std::vector<std::string> labels;
  for (const JournalRecord& r : written) {
    if (r.kind != RecordKind::kLabel) continue;
    labels.push_back(r.mac + (r.reason.empty() ? "" : " failed") +
                     (r.label_verified ? (*r.label_verified ? " verified" : " mismatch") : ""));
  }
  std::sort(labels.begin(), labels.end());
  std::vector<std::string> expected{mac1, mac1 + " failed", mac1 + " verified", mac2 + " failed"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(labels, expected) << "bay 2's label, scanned while bay 1 waited, changed nothing";
}

// One bay, the classic page: the unit is burned from the pool once read, the failed label shows
// on the band, Enter in New MAC prints it again, and the scanned-back label typed there closes
// the loop.
TEST_F(GangLabelsTest, OneBayWindowReprintsOnEnterAndTakesTheScannedBackLabel) {
  const std::string prefix(kDefaultMacPrefix);
  ASSERT_EQ(SeedDemoDatabase("cam.dbr", prefix), SeedResult::kWritten);
  std::ofstream("labels") << "not a directory";
  SystemClock clock;
  DemoBench bench(clock, prefix);
  JournalStatus opened;
  std::unique_ptr<SqliteJournal> journal = SqliteJournal::Open("journal.db", &opened);
  ASSERT_TRUE(journal) << opened.error;
  std::unique_ptr<SqliteJournal> desk_journal = SqliteJournal::Open("journal.db", &opened);
  ASSERT_TRUE(desk_journal) << opened.error;
  JournalLink link;
  link.enabled = true;
  link.journal = journal.get();
  link.station_name = "one-bay";
  LabelSettings settings;
  settings.source = MacSource::kPool;
  settings.printer = std::get<PrinterTarget>(ParsePrinterTarget("dir:labels"));
  settings.scan_back = true;
  settings.station = "one-bay";
  std::string error;
  std::vector<MacRange> ranges{*ParseMacRange("02A0C5100002-02A0C5100004", &error)};
  std::set<uint64_t> macs;
  ASSERT_TRUE(ReadPoolDatabase("cam.dbr", prefix, ranges, &macs));
  LabelDesk desk(settings, std::make_unique<MacPool>(ranges, macs), desk_journal.get(), 1);
  RecordingArpFlush arp_flush;
  FrontEndEnvironment environment{bench.driver(), clock, arp_flush, LoadPreferences(),
                                  StationSettings{}, link, true, {}, {}, &desk};

  enum class Step { kFind, kAwaitFailedLabel, kAwaitPrinted, kAwaitVerified, kDone } step = Step::kFind;
  QWidget* sheet = nullptr;
  QLineEdit* new_mac = nullptr;
  QLabel* band = nullptr;
  std::string band_at_failure;
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer poll;
  const auto enter = [&](const std::string& text) {
    new_mac->clear();
    new_mac->setFocus();
    QTest::keyClicks(new_mac, QString::fromStdString(text));
    QTest::keyClick(new_mac, Qt::Key_Return);
  };
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (elapsed.elapsed() > 30000) {
      poll.stop();
      QCoreApplication::quit();
      return;
    }
    switch (step) {
      case Step::kFind:
        for (QWidget* window : QApplication::topLevelWidgets()) {
          auto* edit = window->findChild<QLineEdit*>(QString::number(kNewMacEdit));
          if (edit != nullptr && window->isVisible()) {
            sheet = window;
            new_mac = edit;
            band = window->findChild<QLabel*>("verdict");
            step = Step::kAwaitFailedLabel;
          }
        }
        return;
      case Step::kAwaitFailedLabel:
        if (band == nullptr || !band->text().startsWith("Label printer: ")) return;
        band_at_failure = band->text().toStdString();
        std::filesystem::remove("labels");
        enter("");
        step = Step::kAwaitPrinted;
        return;
      case Step::kAwaitPrinted:
        if (band->text() != QString::fromUtf8(kScanPrintedLabelText.data(),
                                              static_cast<qsizetype>(kScanPrintedLabelText.size()))) {
          return;
        }
        enter("02a0c5100002");
        step = Step::kAwaitVerified;
        return;
      case Step::kAwaitVerified:
        if (!std::filesystem::exists("labels/02A0C5100002.zpl") || desk.AwaitingScanBack(1)) return;
        step = Step::kDone;
        poll.stop();
        for (QPushButton* button : sheet->findChildren<QPushButton*>()) {
          if (button->text() == "Close") return button->click();
        }
        QCoreApplication::quit();
        return;
      case Step::kDone:
        return;
    }
  });
  poll.start(10);
  char name[] = "stampwright";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunWindowFrontEnd(1, argv, environment), 0);
  ASSERT_EQ(step, Step::kDone) << "gave up; band: " << (band ? band->text().toStdString() : "");
  EXPECT_NE(band_at_failure.find("cannot make labels"), std::string::npos) << band_at_failure;
  EXPECT_EQ(bench.unit().CurrentMac(), *MacAddress::Parse("02A0C5100002")) << "the pool's lowest";
  std::vector<JournalRecord> written;
  ASSERT_TRUE(desk_journal->Read({}, &written).ok());
  std::vector<std::string> kinds;
  for (const JournalRecord& r : written) {
    kinds.push_back(std::string(RecordKindName(r.kind)) + (r.reason.empty() ? "" : " failed") +
                    (r.label_verified == true ? " verified" : ""));
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"burn", "label failed", "label", "label verified"}));
}

}  // namespace
}  // namespace stampwright
