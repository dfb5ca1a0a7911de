// The window front end: the page as widgets, the scan timer as a QTimer, the station between.

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <memory>

#include "app/front_end.h"
#include "app/journal_counts.h"
#include "app/verdict_band.h"
#include "resources/controls.h"
#include "station/page_procedure.h"
#include "app/qt/qt_message_box.h"
#include "app/qt/qt_page.h"
#include "app/qt/qt_timer.h"
#include "station/scan_cycle.h"
#include "station/station.h"

namespace stampwright {
namespace {

// The program's one application object; a caller that already made one (a test) keeps its own.
class Application {
 public:
  Application(int argc, char** argv) : argc_(argc) {
    if (QApplication::instance() == nullptr) owned_ = std::make_unique<QApplication>(argc_, argv);
  }

 private:
  int argc_;  // QApplication keeps a reference to it
  std::unique_ptr<QApplication> owned_;
};

// A short sound for a verdict: the desktop's event sound when its player is installed, else the
// system bell.
void PlayVerdictSound(bool pass) {
  const QString player = QStandardPaths::findExecutable("canberra-gtk-play");
  if (!player.isEmpty() &&
      QProcess::startDetached(player, {"-i", pass ? "complete" : "dialog-error"})) {
    return;
  }
  QApplication::beep();
}

void ShowVerdict(QLabel& band, const Verdict& verdict) {
  const char* background = "#d8d8d8";
  if (verdict.tone == VerdictTone::kPass) background = "#1e9e3a";
  if (verdict.tone == VerdictTone::kFail) background = "#c62828";
  if (verdict.tone == VerdictTone::kClear) background = "transparent";
  band.setStyleSheet(QString("QLabel { background: %1; color: white; font-size: 48pt; "
                             "font-weight: bold; }")
                         .arg(background));
  band.setText(QString::fromStdString(verdict.text));
}

}  // namespace

int RunWindowFrontEnd(int argc, char** argv, FrontEndEnvironment& environment) {
  Application application(argc, argv);
  // The sheet's close ends the program; a message box closing before the sheet shows must not.
  QApplication::setQuitOnLastWindowClosed(false);

  QtPage page;
  QtTimer timer;
  Station station(page, environment.driver, environment.clock, timer, environment.arp_flush,
                  environment.preferences,
                  environment.settings);
  page.Attach(station);
  // The window repaints and takes typing during every wait; clicks and the close are queued by
  // the station until the operation has ended.
  station.yield_to_events = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
  // Today's counts below the page, outside the template.
  auto* counts = new QLabel(&page.sheet());
  if (auto* layout = qobject_cast<QVBoxLayout*>(page.sheet().layout())) layout->insertWidget(1, counts);
  station.journal = environment.journal;
  const auto show_counts = [counts, &station] {
    counts->setText(QString::fromStdString(TodayCountsText(station.journal)));
  };
  // The verdict below the counts, a third of the window at least: three fifths of what is above
  // it leaves room for the layout's spacing.
  auto* band = new QLabel(&page.sheet());
  band->setObjectName("verdict");
  band->setAlignment(Qt::AlignCenter);
  band->setMinimumHeight(page.sheet().sizeHint().height() * 3 / 5);
  if (auto* layout = qobject_cast<QVBoxLayout*>(page.sheet().layout())) layout->insertWidget(2, band);
  auto verdict = std::make_shared<Verdict>();
  const bool quiet = environment.quiet;
  const auto show_verdict = [band, verdict, quiet](const Verdict& next) {
    if (next == *verdict) return;
    *verdict = next;
    ShowVerdict(*band, next);
    if (!quiet && (next.tone == VerdictTone::kPass || next.tone == VerdictTone::kFail)) {
      PlayVerdictSound(next.tone == VerdictTone::kPass);
    }
  };
  ShowVerdict(*band, *verdict);
  page.SetTextObserver([show_verdict, verdict, &page](int id, std::string_view text) {
    if (id != kStatusLine) return;
    show_verdict(VerdictAfterStatus(*verdict, text, page.GetText(kMacField, 79)));
  });
  station.journal.on_outcome = [show_counts, show_verdict, verdict](const JournalRecord& record) {
    show_counts();
    show_verdict(VerdictAfterOutcome(*verdict, record));
  };
  show_counts();
  station.journal.on_reopened = [show_counts](Journal&) { show_counts(); };
  timer.SetExpiryHandler([&station] { OnScanTimer(station); });
  page.SetCloseHandler([&timer] {
    // Nothing may tick between the close and the end of the event loop.
    timer.Stop();
    QCoreApplication::quit();
  });

  OnPageCreated(station);
  page.sheet().show();
  OnPageActivated(station);
  QApplication::exec();
  return 0;
}

void ShowWindowRefusal(int argc, char** argv, const std::string& text) {
  Application application(argc, argv);
  ShowMessageBox(text, "Attention!", kMbIconError);
}

}  // namespace stampwright
