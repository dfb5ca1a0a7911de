// The window on the demo bench, end to end: the sheet comes up with the demo unit read, the
// operator types a demo MAC into New MAC and presses Enter, and once the unit is back under that
// MAC the status line reads "Success". Real clock and the real 3000 ms scan timer, so the test
// takes some seconds; every wait in it is bounded.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/demo.h"
#include "app/front_end.h"
#include "base/text.h"
#include "crypto/key_derivation.h"
#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "support/recording_arp_flush.h"
#include "programming/parameter_module.h"
#include "protocol/management_message.h"
#include "resources/controls.h"
#include "settings/preferences.h"
#include "settings/state_file.h"
#include "support/temp_dir.h"
#include "transport/clock.h"

namespace stampwright {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr qint64 kReadLimitMs = 20000;     // start to the unit read and Burn enabled
constexpr qint64 kSuccessLimitMs = 20000;  // Burn's return to "Success"
constexpr int kPollMs = 10;

// Every text the station writes into the status line, in order, as the window is told it;
// a text written twice in a row counts once.
class StatusRecorder {
 public:
  void Note(const StationEvent& event) {
    const auto* change = std::get_if<PageChange>(&event.body);
    if (change == nullptr || change->kind != PageChange::Kind::kText || change->id != kStatusLine) {
      return;
    }
    if (texts_.empty() || texts_.back() != change->text) texts_.push_back(change->text);
  }
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  std::vector<std::string> texts_;
};

// The status texts of a burn whose chunks are all confirmed at the first send, from "Burning..."
// to "Success": each chunk's offset (sent, then confirmed), the end offset, the commit's "Write
// Module - OK" and its confirmation.
std::vector<std::string> BurnTexts(uint32_t checksum) {
  std::vector<std::string> texts{"Burning...", FormatText("checksum: %08x", checksum)};
  for (int offset = 0; offset < 7864; offset += 1024) {
    texts.push_back("Write Module - offset: " + std::to_string(offset));
  }
  texts.insert(texts.end(),
               {"Write Module - offset: 7864", "Write Module - OK", "Waiting...", "Success"});
  return texts;
}

std::string Grouped(const std::string& password) {
  return password.substr(0, 4) + "-" + password.substr(4, 4) + "-" + password.substr(8, 4) + "-" +
         password.substr(12, 4);
}

// What the operator does, one step per poll, on the window RunWindowFrontEnd shows. A guard on a
// timer of its own notes and closes any message box (none belongs to a clean burn) and leaves the
// front end's loop once a step is overdue. The burn runs on the station's thread: the window
// stays live throughout.
class Operator {
 public:
  enum class Step { kFindSheet, kAwaitRead, kBurning, kAwaitSuccess, kDone, kGaveUp };

  // band_prefix: the attempt ends with a band starting so (a refusal or a failure) instead of
  // "Success".
  Operator(std::string mac_text, StatusRecorder& watch, QString band_prefix = {})
      : mac_text_(std::move(mac_text)), watch_(watch), band_prefix_(std::move(band_prefix)) {
    step_clock_.start();
    QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] { Act(); });
    QObject::connect(&guard_, &QTimer::timeout, &guard_, [this] { Guard(); });
    poll_.start(kPollMs);
    guard_.start(kPollMs);
  }

  Step step() const { return step_; }
  Step gave_up_in() const { return gave_up_in_; }
  const std::vector<std::string>& boxes() const { return boxes_; }
  size_t burn_texts_start = 0;  // how many status texts had been seen when Enter went down
  qint64 burn_ms = -1;          // Enter to "Waiting..." (the commit confirmed)
  qint64 success_ms = -1;       // the burn's return to "Success"
  std::string mac_shown;
  std::string password_shown;
  std::string counts_shown;
  std::string verdict_shown;
  bool verdict_a_third = false;  // the band takes at least a third of the window's height
  QSize size_at_read;            // the window once the unit was read
  QSize size_at_verdict;         // and once the verdict shows

 private:
  void Guard() {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      boxes_.push_back(box != nullptr ? (box->windowTitle() + "|" + box->text()).toStdString()
                                      : std::string("<not a message box>"));
      modal->close();
    }
    const qint64 limit = step_ == Step::kBurning || step_ == Step::kAwaitSuccess ? kSuccessLimitMs
                                                                                  : kReadLimitMs;
    if (step_ != Step::kDone && step_ != Step::kGaveUp && step_clock_.elapsed() > limit) GiveUp();
  }

  void Act() {
    switch (step_) {
      case Step::kFindSheet:
        for (QWidget* window : QApplication::topLevelWidgets()) {
          auto* status = window->findChild<QLabel*>(QString::number(kStatusLine));
          if (status != nullptr && window->isVisible()) {
            sheet_ = window;
            status_ = status;
            step_ = Step::kAwaitRead;
          }
        }
        return;
      case Step::kAwaitRead: {
        auto* burn = sheet_->findChild<QPushButton*>(QString::number(kBurnButton));
        if (status_->text() != "Read Module OK - PX300 Class B" || burn == nullptr ||
            !burn->isEnabled()) {
          return;
        }
        auto* new_mac = sheet_->findChild<QLineEdit*>(QString::number(kNewMacEdit));
        if (new_mac == nullptr) return GiveUp();
        size_at_read = sheet_->size();
        counts_at_read_ = Counts();
        new_mac->setFocus();
        QTest::keyClicks(new_mac, QString::fromStdString(mac_text_));
        burn_texts_start = watch_.texts().size();
        step_ = Step::kBurning;
        step_clock_.restart();
        QTest::keyClick(new_mac, Qt::Key_Return);  // Burn, on the station's thread
        return;
      }
      case Step::kBurning: {
        // Until the commit is confirmed, or the attempt ended some other way.
        const auto& texts = watch_.texts();
        const bool committed =
            std::find(texts.begin() + static_cast<std::ptrdiff_t>(burn_texts_start), texts.end(),
                      "Waiting...") != texts.end();
        auto* band = sheet_->findChild<QLabel*>("verdict");
        const bool ended = !band_prefix_.isEmpty() && band != nullptr &&
                           band->text().startsWith(band_prefix_);
        if (!committed && !ended) return;
        burn_ms = step_clock_.elapsed();
        mac_shown = Text(kMacField);
        password_shown = Text(kPasswordField);
        step_clock_.restart();
        step_ = Step::kAwaitSuccess;
        return;
      }
      case Step::kAwaitSuccess:
        // The counts follow the attempt's record, which is written after the verdict shows.
        if (Counts() == counts_at_read_) return;
        if (!band_prefix_.isEmpty()) {
          auto* band = sheet_->findChild<QLabel*>("verdict");
          if (band == nullptr || !band->text().startsWith(band_prefix_)) return;
          verdict_shown = band->text().toStdString();
          QApplication::processEvents();  // the layout, had the band grown it
          size_at_verdict = sheet_->size();
          counts_shown = Counts();
          step_ = Step::kDone;
          CloseSheet();
          return;
        }
        if (status_->text() != "Success") return;
        success_ms = step_clock_.elapsed();
        // Below the page, outside the template: the counts, with this burn.
        counts_shown = Counts();
        if (auto* band = sheet_->findChild<QLabel*>("verdict")) {
          verdict_shown = band->text().toStdString();
          QApplication::processEvents();
          size_at_verdict = sheet_->size();
          verdict_a_third = band->isVisible() && 3 * band->height() >= sheet_->height();
        }
        step_ = Step::kDone;
        CloseSheet();
        return;
      case Step::kDone:
      case Step::kGaveUp:
        return;
    }
  }

  // The counts line below the page.
  std::string Counts() const {
    for (QLabel* label : sheet_->findChildren<QLabel*>()) {
      if (label->text().startsWith("Today, ")) return label->text().toStdString();
    }
    return {};
  }

  std::string Text(int id) const {
    auto* label = sheet_->findChild<QLabel*>(QString::number(id));
    return label != nullptr ? label->text().toStdString() : std::string("<missing>");
  }

  // Leaves every loop the front end runs, a message box's included, instead of hanging.
  void GiveUp() {
    gave_up_in_ = step_;
    step_ = Step::kGaveUp;
    poll_.stop();
    guard_.stop();
    QCoreApplication::quit();
  }

  // The sheet's own Close button: the page's close ends the front end's loop.
  void CloseSheet() {
    poll_.stop();
    guard_.stop();
    for (QPushButton* button : sheet_->findChildren<QPushButton*>()) {
      if (button->text() == "Close") return button->click();
    }
    QCoreApplication::quit();
  }

  std::string mac_text_;
  StatusRecorder& watch_;
  QString band_prefix_;
  QElapsedTimer step_clock_;  // since the current step began
  QTimer poll_;
  QTimer guard_;
  Step step_ = Step::kFindSheet;
  Step gave_up_in_ = Step::kDone;
  QWidget* sheet_ = nullptr;
  QLabel* status_ = nullptr;
  std::vector<std::string> boxes_;
  std::string counts_at_read_;
};

const char* StepName(Operator::Step step) {
  switch (step) {
    case Operator::Step::kFindSheet:
      return "finding the sheet";
    case Operator::Step::kAwaitRead:
      return "waiting for the unit's read";
    case Operator::Step::kBurning:
      return "burning";
    case Operator::Step::kAwaitSuccess:
      return "waiting for \"Success\"";
    case Operator::Step::kDone:
    case Operator::Step::kGaveUp:
      break;
  }
  return "done";
}

// The working directory and XDG_RUNTIME_DIR are the test's own; the ARP flush is a recording one.
class DemoWindowTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    const std::filesystem::path runtime = dir_ / "runtime";
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) previous_runtime_ = previous;
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }
  // The journal the program entry opens in the working directory, linked as it links it.
  bool OpenJournal() {
    JournalStatus opened;
    journal_ = SqliteJournal::Open("journal.db", &opened);
    if (!journal_) ADD_FAILURE() << opened.error;
    link_.enabled = true;
    link_.journal = journal_.get();
    link_.station_name = "demo-window";
    return journal_ != nullptr;
  }

  std::unique_ptr<SqliteJournal> journal_;
  JournalLink link_;

  void TearDown() override {
    journal_.reset();  // closed before its directory goes
    if (previous_runtime_) {
      ::setenv("XDG_RUNTIME_DIR", previous_runtime_->c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
    InTempDir::TearDown();
  }

 private:
  std::optional<std::string> previous_runtime_;
};

TEST_F(DemoWindowTest, TypingADemoMacAndPressingEnterBurnsTheUnitToSuccess) {
  // The demo as the program entry sets it up: the seeded database in the working directory, the
  // preferences found there (none: the defaults), the bench on the system clock.
  const std::string prefix(kDefaultMacPrefix);
  ASSERT_EQ(SeedDemoDatabase(std::string(kDefaultMacDatabasePath), prefix), SeedResult::kWritten);
  const DemoRecord record = DemoRecords(prefix).at(1);
  const std::optional<MacAddress> new_mac = MacAddress::Parse(record.mac_text);
  ASSERT_TRUE(new_mac);
  SystemClock clock;
  DemoBench bench(clock, prefix);
  const SimulatedUnit& unit = bench.unit();
  const ParameterModule read_image = unit.Flash();
  ASSERT_NE(read_image.GetMacAddress(), *new_mac);
  RecordingArpFlush arp_flush;
  ASSERT_TRUE(OpenJournal());
  FrontEndEnvironment environment{bench.driver(), clock, arp_flush, LoadPreferences(),
                                  StationSettings{}, link_, true, {}};

  StatusRecorder status;
  environment.on_event = [&status](const StationEvent& event) { status.Note(event); };
  Operator person(record.mac_text, status);
  char name[] = "stampwright";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunWindowFrontEnd(1, argv, environment), 0);

  const std::vector<std::string>& texts = status.texts();
  ASSERT_EQ(person.step(), Operator::Step::kDone)
      << "gave up while " << StepName(person.gave_up_in())
      << "; status texts seen: " << testing::PrintToString(texts)
      << "; message boxes: " << testing::PrintToString(person.boxes());
  EXPECT_THAT(person.boxes(), IsEmpty());
  std::printf("[ timing   ] Enter to \"Waiting...\": %lld ms; then to \"Success\": %lld ms\n",
              static_cast<long long>(person.burn_ms), static_cast<long long>(person.success_ms));

  // The lookup showed the record; the unit holds the burned image under the new MAC.
  EXPECT_EQ(person.mac_shown, record.mac_text);
  EXPECT_EQ(person.counts_shown,
            "Today, demo-window: 1 unit burned, 0 attempts failed, 0 refused, first-pass yield 100.0 %");
  EXPECT_EQ(person.verdict_shown, "PASS " + record.mac_text);
  EXPECT_EQ(person.size_at_verdict, person.size_at_read) << "the verdict never resizes the window";
  EXPECT_TRUE(person.verdict_a_third);
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journal_->Read({}, &records).ok());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].outcome, Outcome::kSuccess);
  EXPECT_EQ(records[0].mac, record.mac_text);
  EXPECT_EQ(person.password_shown, Grouped(record.password));
  const ParameterModule& flash = unit.Flash();
  EXPECT_EQ(MacAddress::FromBytes(flash.bytes.data() + kMacAddressOffset), *new_mac);
  EXPECT_EQ(unit.CurrentMac(), *new_mac);
  const DerivedKey dak = DeviceAccessKey(Grouped(record.password).c_str());
  EXPECT_TRUE(std::equal(dak.begin(), dak.end(), flash.bytes.begin() + kDeviceAccessKeyOffset));
  EXPECT_EQ(flash.ImageChecksum(), ExpectedImageChecksum(flash));
  for (size_t i = 0; i < kModuleSize; ++i) {
    // Outside the checksum, MAC, DAK, NMK and carrier fields the image stays as it was read.
    const bool burned = (i >= 8 && i < 34) || (i >= 100 && i < 116) || (i >= 2576 && i < 7196);
    if (!burned) {
      ASSERT_EQ(flash.bytes[i], read_image.bytes[i]) << "offset " << i;
    }
  }
  EXPECT_EQ(unit.ParameterCommits(), 1u);
  EXPECT_EQ(unit.RequestCount(kVsWrModReq), 8u);

  // The status line from Enter on: every text the burn wrote, in order, then "Success"; nothing
  // between "Waiting..." and "Success", the read-back included.
  ASSERT_LE(person.burn_texts_start, texts.size());
  const std::vector<std::string> from_burn(
      texts.begin() + static_cast<std::ptrdiff_t>(person.burn_texts_start), texts.end());
  EXPECT_THAT(from_burn, ElementsAreArray(BurnTexts(flash.ImageChecksum())));
  EXPECT_EQ(std::filesystem::file_size(StateFileName(environment.preferences.ProductNameText())),
            kStateFileSize);
}

TEST_F(DemoWindowTest, AMacNotInTheDatabaseIsRefusedNotFailed) {
  const std::string prefix(kDefaultMacPrefix);
  ASSERT_EQ(SeedDemoDatabase(std::string(kDefaultMacDatabasePath), prefix), SeedResult::kWritten);
  SystemClock clock;
  DemoBench bench(clock, prefix);
  RecordingArpFlush arp_flush;
  ASSERT_TRUE(OpenJournal());
  FrontEndEnvironment environment{bench.driver(), clock, arp_flush, LoadPreferences(),
                                  StationSettings{}, link_, true, {}};

  StatusRecorder status;
  Operator person(prefix + "FFFFFE", status, "REFUSED ");
  char name[] = "stampwright";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunWindowFrontEnd(1, argv, environment), 0);
  ASSERT_EQ(person.step(), Operator::Step::kDone) << "gave up while " << StepName(person.gave_up_in());
  EXPECT_EQ(person.verdict_shown, "REFUSED lookup-failed");
  EXPECT_EQ(person.size_at_verdict, person.size_at_read);
  // No unit was touched: no failed attempt, no yield.
  EXPECT_EQ(person.counts_shown,
            "Today, demo-window: 0 units burned, 0 attempts failed, 1 refused, first-pass yield -");
  EXPECT_EQ(person.boxes().size(), 1u) << "the lookup's own box";
  EXPECT_EQ(bench.unit().ParameterCommits(), 0u);
}

}  // namespace
}  // namespace stampwright
