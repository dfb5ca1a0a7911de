// The window front end: the page as widgets, the scan timer as a QTimer, the station between.

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <memory>

#include "app/front_end.h"
#include "app/journal_counts.h"
#include "app/verdict_band.h"
#include "resources/controls.h"
#include "station/page_procedure.h"
#include "app/qt/qt_message_box.h"
#include "app/qt/qt_page.h"
#include "app/event_loop/qt_timer.h"
#include "app/qt/verdict_panel.h"
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
// system bell. Clear and neutral bands are silent.
void PlayVerdictSound(VerdictTone tone) {
  const char* sound = nullptr;
  if (tone == VerdictTone::kPass) sound = "complete";
  if (tone == VerdictTone::kRefused) sound = "dialog-warning";
  if (tone == VerdictTone::kFail) sound = "dialog-error";
  if (sound == nullptr) return;
  const QString player = QStandardPaths::findExecutable("canberra-gtk-play");
  if (!player.isEmpty() && QProcess::startDetached(player, {"-i", sound})) return;
  QApplication::beep();
}

}  // namespace

int RunWindowFrontEnd(int argc, char** argv, FrontEndEnvironment& environment) {
  Application application(argc, argv);
  // The sheet's close ends the program; a message box closing before the sheet shows must not.
  QApplication::setQuitOnLastWindowClosed(false);

  QtPage page;
  page.SetDialogDirectory(environment.settings.workdir);
  QtTimer timer;
  // Below the page, outside the template; made before the station, so that it outlives it.
  VerdictPanel panel(page);
  Station station(page, environment.driver, environment.clock, timer, environment.arp_flush,
                  environment.preferences,
                  environment.settings);
  page.Attach(station);
  // The window repaints and takes typing during every wait; clicks and the close are queued by
  // the station until the operation has ended.
  station.yield_to_events = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
  station.journal = environment.journal;
  const auto show_counts = [&panel, &station] { panel.ShowCounts(TodayCountsText(station.journal)); };
  const bool quiet = environment.quiet;
  const auto show_verdict = [&panel, quiet](const Verdict& next) {
    if (panel.Show(next) && !quiet) PlayVerdictSound(next.tone);
  };
  station.on_activity = [show_verdict](StationActivity activity, const std::string& mac) {
    show_verdict(VerdictAfterActivity(activity, mac.substr(0, 79)));
  };
  station.journal.on_outcome = [show_counts, show_verdict, &panel](const JournalRecord& record) {
    show_counts();
    show_verdict(VerdictAfterOutcome(panel.verdict(), record));
  };
  // Refusals show on the band whether or not the journal could record them.
  station.on_refused = [show_verdict](Outcome reason) { show_verdict(VerdictAfterRefusal(reason)); };
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
