// The page and timer wired to a station on a virtual driver with no adapters: commands, Enter in
// the New MAC field, the close, the timer and the two front-end entries.

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/front_end.h"
#include "app/qt/qt_page.h"
#include "app/event_loop/qt_timer.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "app/qt/modal_answerer.h"
#include "app/qt/qt_printers.h"
#include "resources/controls.h"
#include "settings/preferences.h"
#include "settings/state_file.h"
#include "support/recording_arp_flush.h"
#include "support/temp_dir.h"
#include "transport/clock.h"
#include "transport/virtual_driver.h"

namespace stampwright {
namespace {

using qt_test::ModalAnswerer;

const std::string kStateFile = "Linewave Utility.data";

Preferences Loaded() {
  Preferences preferences = DefaultPreferences();
  preferences.StateFileWords = {1, 1};
  return preferences;
}

// Counts the completed writes of one file in the current directory: every write of the state
// file puts a complete file in place by renaming it over the old one. The opens are watched too,
// because the kernel folds two identical events in a row into one.
class WriteCounter {
 public:
  explicit WriteCounter(std::string name) : name_(std::move(name)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) inotify_add_watch(fd_, ".", IN_OPEN | IN_MOVED_TO);
  }
  ~WriteCounter() {
    if (fd_ >= 0) close(fd_);
  }
  WriteCounter(const WriteCounter&) = delete;
  WriteCounter& operator=(const WriteCounter&) = delete;

  bool ok() const { return fd_ >= 0; }
  int Count() {
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
      const ssize_t n = read(fd_, buffer.data(), buffer.size());
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
        if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name_ == event->name) {
          ++count_;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return count_;
  }

 private:
  std::string name_;
  int fd_ = -1;
  int count_ = 0;
};

ModalAnswerer::Answer PressOkOn(QString* caption, QString* text) {
  return [=](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    *caption = box->windowTitle();
    *text = box->text();
    box->button(QMessageBox::Ok)->click();
  };
}

class QtStationTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    page_.Attach(station_);
    page_.SetCloseHandler([this] { ++closes_; });
    page_.sheet().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page_.sheet()));
  }

  QAbstractButton* Button(int id) { return qobject_cast<QAbstractButton*>(page_.Control(id)); }
  QLineEdit* NewMac() { return qobject_cast<QLineEdit*>(page_.Control(kNewMacEdit)); }

  VirtualClock clock_;
  VirtualDriver driver_{clock_};
  QtPage page_;
  QtTimer timer_;
  RecordingArpFlush arp_flush_;
  Station station_{page_, driver_, clock_, timer_, arp_flush_, Loaded()};
  int closes_ = 0;
};

TEST_F(QtStationTest, BurnClickReachesTheStation) {
  page_.Enable(kBurnButton, true);
  page_.SetText(kNewMacEdit, "0011223344AA");
  QString caption, text;
  ModalAnswerer answerer(PressOkOn(&caption, &text));
  QTest::mouseClick(Button(kBurnButton), Qt::LeftButton);
  // No database in the working directory: the lookup says so and the burn stops there.
  ASSERT_EQ(answerer.answered(), 1);
  EXPECT_EQ(caption, "Mac Burn");
  EXPECT_EQ(text, "Error opening DB");
  EXPECT_EQ(page_.GetText(kStatusLine, 78), "START");
}

TEST_F(QtStationTest, NewMacIsSelectedAfterAFailedBurnAndTheCloseWaitsForTheOperation) {
  page_.Enable(kBurnButton, true);
  page_.SetText(kNewMacEdit, "02:a0:c5:11:22:33");
  QString caption, text;
  ModalAnswerer answerer(PressOkOn(&caption, &text));
  QTest::mouseClick(Button(kBurnButton), Qt::LeftButton);
  ASSERT_EQ(answerer.answered(), 1);
  EXPECT_EQ(text, "Error opening DB");
  // Shown as the lookup compared it, and all selected: a scan now replaces it.
  EXPECT_EQ(NewMac()->text(), "02A0C5112233");
  EXPECT_EQ(NewMac()->selectedText(), "02A0C5112233");
  QTest::keyClicks(NewMac(), "02A0C5445566");
  EXPECT_EQ(NewMac()->text(), "02A0C5445566");

  {
    DeviceOperation operation(CoreOf(station_));
    EXPECT_FALSE(page_.sheet().close());  // the close box during an operation
    EXPECT_TRUE(page_.sheet().isVisible());
    EXPECT_EQ(closes_, 0);
  }
  EXPECT_TRUE(page_.closed());
  EXPECT_FALSE(page_.sheet().isVisible());
  EXPECT_EQ(closes_, 1);
}

TEST_F(QtStationTest, HiddenButtonsCommandsReachTheStation) {
  // Scan: the scan field leaves its template text for the preference's word.
  Button(kScanButton)->click();
  EXPECT_EQ(page_.GetText(kScanField, 78), "Autoscan On");

  // Read: with no unit the read ends with its failure text.
  Button(kReadButton)->click();
  EXPECT_EQ(page_.GetText(kStatusLine, 78), "Read Module - offset: 0, Fail");

  // Select: the database dialog; the chosen path lands in 1007.
  std::ofstream("chosen.db") << "x";
  const std::string chosen = std::filesystem::absolute("chosen.db").string();
  QStringList filters;
  {
    ModalAnswerer answerer([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      filters = dialog->nameFilters();
      dialog->selectFile(QString::fromStdString(chosen));
      static_cast<QDialog*>(dialog)->accept();  // public in QDialog
    });
    Button(kSelectButton)->click();
    ASSERT_EQ(answerer.answered(), 1);
  }
  EXPECT_EQ(filters.size(), 3);
  EXPECT_EQ(page_.GetText(kDbPathEdit, 255), chosen);

  // Browse: the firmware dialog; cancelled, nothing follows.
  {
    ModalAnswerer answerer([](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->reject();
    });
    Button(kBrowseButton)->click();
    EXPECT_EQ(answerer.answered(), 1);
  }
  EXPECT_EQ(page_.GetText(kStatusLine, 78), "Read Module - offset: 0, Fail");

  // Upgrade carries no command; radio clicks carry none either.
  {
    ModalAnswerer answerer([](QWidget* modal) { modal->close(); }, 300);
    Button(kUpgradeButton)->click();
    Button(kPx100Radio)->click();
    EXPECT_EQ(answerer.answered(), 0);
  }
  EXPECT_EQ(page_.GetText(kStatusLine, 78), "Read Module - offset: 0, Fail");
  EXPECT_EQ(closes_, 0);
}

TEST_F(QtStationTest, EnterInNewMacPressesBurnOnlyWhenEnabledAndNeverCloses) {
  WriteCounter writes(kStateFile);
  ASSERT_TRUE(writes.ok());
  NewMac()->setFocus();
  QTest::keyClicks(NewMac(), "0011223344AA");
  {
    ModalAnswerer answerer([](QWidget* modal) { modal->close(); }, 300);
    QTest::keyClick(NewMac(), Qt::Key_Return);
    QTest::keyClick(NewMac(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(answerer.answered(), 0);
  }
  EXPECT_TRUE(page_.sheet().isVisible());
  EXPECT_FALSE(page_.closed());

  page_.Enable(kBurnButton, true);
  QString caption, text;
  {
    ModalAnswerer answerer(PressOkOn(&caption, &text));
    QTest::keyClick(NewMac(), Qt::Key_Return);
    ASSERT_EQ(answerer.answered(), 1);
  }
  EXPECT_EQ(caption, "Mac Burn");
  EXPECT_TRUE(page_.sheet().isVisible());
  EXPECT_EQ(closes_, 0);
  EXPECT_EQ(writes.Count(), 0);
  EXPECT_FALSE(std::filesystem::exists(kStateFile));
}

TEST_F(QtStationTest, EscapeDoesNotCloseTheSheet) {
  QTest::keyClick(&page_.sheet(), Qt::Key_Escape);
  EXPECT_TRUE(page_.sheet().isVisible());
  EXPECT_FALSE(page_.closed());
  EXPECT_EQ(closes_, 0);
}

TEST_F(QtStationTest, CloseButtonWritesTheStateFileTwiceThenClosesOnce) {
  WriteCounter writes(kStateFile);
  ASSERT_TRUE(writes.ok());
  QTest::mouseClick(page_.close_button(), Qt::LeftButton);
  EXPECT_EQ(writes.Count(), 2);
  EXPECT_EQ(std::filesystem::file_size(kStateFile), kStateFileSize);
  EXPECT_TRUE(page_.closed());
  EXPECT_FALSE(page_.sheet().isVisible());
  EXPECT_EQ(closes_, 1);

  page_.Close();
  page_.sheet().close();
  EXPECT_EQ(writes.Count(), 2);
  EXPECT_EQ(closes_, 1);
}

TEST_F(QtStationTest, WindowCloseBoxWritesTheStateFileTwice) {
  WriteCounter writes(kStateFile);
  ASSERT_TRUE(writes.ok());
  EXPECT_TRUE(page_.sheet().close());
  EXPECT_EQ(writes.Count(), 2);
  EXPECT_EQ(closes_, 1);
  EXPECT_FALSE(page_.sheet().isVisible());
}

// Spins the event loop until the condition holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, int limit_ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > limit_ms) return false;
    QTest::qWait(5);
  }
  return true;
}

TEST_F(QtStationTest, TimerIsPeriodicRestartsAndStops) {
  int expiries = 0;
  timer_.SetExpiryHandler([&expiries] { ++expiries; });
  EXPECT_FALSE(timer_.IsActive());
  timer_.Start(3000);
  EXPECT_TRUE(timer_.IsActive());
  EXPECT_EQ(timer_.interval(), 3000);
  timer_.Start(10);
  EXPECT_EQ(timer_.interval(), 10);
  EXPECT_TRUE(WaitFor([&] { return expiries >= 3; }));
  timer_.Stop();
  EXPECT_FALSE(timer_.IsActive());
  const int stopped_at = expiries;
  QTest::qWait(50);
  EXPECT_EQ(expiries, stopped_at);
}

TEST_F(QtStationTest, TimerExpiryRunsTheScanTick) {
  timer_.SetExpiryHandler([this] { station_.ScanTick(); });
  page_.SetText(kTickCounter, "0");
  page_.Enable(kBurnButton, true);
  CoreOf(station_).AutoScanSuspended = 0;
  timer_.Start(10);
  EXPECT_TRUE(WaitFor([&] { return page_.GetText(kTickCounter, 78) == "2"; }));
  timer_.Stop();
  // Nothing answered: the tick cleared the page.
  EXPECT_EQ(page_.GetText(kStatusLine, 78), "No Device");
  EXPECT_EQ(page_.GetText(kConnectionField, 78), "Not Connected");
  EXPECT_FALSE(page_.IsEnabled(kBurnButton));
}

class FrontEndTest : public InTempDir {};

TEST_F(FrontEndTest, WindowRunsCreationShowsTheSheetAndEndsAtClose) {
  VirtualClock clock;
  VirtualDriver driver(clock);
  RecordingArpFlush arp_flush;
  FrontEndEnvironment environment{driver, clock, arp_flush, Loaded(), StationSettings{}, JournalLink{}, true, {}};
  WriteCounter writes(kStateFile);
  ASSERT_TRUE(writes.ok());

  struct Seen {
    bool found = false;
    bool visible = false;
    std::string scan, ticks, connection;
    bool px300 = false;
    int writes_before_close = -1;
  } seen;
  QTimer finder;
  QElapsedTimer elapsed;
  elapsed.start();
  QObject::connect(&finder, &QTimer::timeout, [&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->windowTitle() != "Stampwright v3.0.2a (for f/w v3.0.x)" || !window->isVisible()) {
        continue;
      }
      finder.stop();
      seen.found = true;
      seen.visible = window->isVisible();
      auto text = [window](int id) {
        auto* widget = window->findChild<QWidget*>(QString::number(id));
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
        return std::string("<missing>");
      };
      seen.scan = text(kScanField);
      seen.ticks = text(kTickCounter);
      seen.connection = text(kConnectionField);
      auto* px300 = window->findChild<QAbstractButton*>(QString::number(kPx300Radio));
      seen.px300 = px300 != nullptr && px300->isChecked();
      seen.writes_before_close = writes.Count();
      for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->text() == "Close") button->click();
      }
      return;
    }
    // Never hang: give up and leave the loop.
    if (elapsed.elapsed() > 10000) {
      finder.stop();
      QCoreApplication::quit();
    }
  });
  finder.start(10);

  char name[] = "stampwright";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunWindowFrontEnd(1, argv, environment), 0);
  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.visible);
  EXPECT_EQ(seen.scan, "Autoscan On");
  EXPECT_EQ(seen.ticks, "0");
  EXPECT_EQ(seen.connection, "Not Connected");
  EXPECT_TRUE(seen.px300);
  EXPECT_EQ(seen.writes_before_close, 0);
  EXPECT_EQ(writes.Count(), 2);
  EXPECT_EQ(std::filesystem::file_size(kStateFile), kStateFileSize);
}

TEST(RefusalTest, ShowsTheTextUnderAttentionWithTheErrorIcon) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString caption, text;
  ModalAnswerer answerer([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    caption = box->windowTitle();
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  char name[] = "stampwright";
  char* argv[] = {name, nullptr};
  ShowWindowRefusal(1, argv,
                    "Linewave Utility is already running.\nOnly one copy can run at a time.");
  ASSERT_EQ(answerer.answered(), 1);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(caption, "Attention!");
  EXPECT_EQ(text, "Linewave Utility is already running.\nOnly one copy can run at a time.");
}

}  // namespace
}  // namespace stampwright
