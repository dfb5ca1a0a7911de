// The window front end: the page as widgets, the scan timer as a QTimer, the station between.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <memory>

#include "app/front_end.h"
#include "app/journal_counts.h"
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
  // Today's counts below the page, outside the template.
  auto* counts = new QLabel(&page.sheet());
  if (auto* layout = qobject_cast<QVBoxLayout*>(page.sheet().layout())) layout->insertWidget(1, counts);
  station.journal = environment.journal;
  const auto show_counts = [counts, &station] {
    counts->setText(QString::fromStdString(TodayCountsText(station.journal)));
  };
  station.journal.on_outcome = [show_counts](const JournalRecord&) { show_counts(); };
  show_counts();
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
