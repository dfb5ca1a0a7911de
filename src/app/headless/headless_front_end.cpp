#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/event_loop/qt_timer.h"
#include "app/front_end.h"
#include "app/headless/event_writer.h"
#include "app/headless/headless_page.h"
#include "app/headless/headless_session.h"
#include "journal/export.h"
#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "app/single_instance.h"
#include "station/station.h"

namespace stampwright {
namespace {

// Reports what the packet driver says the operator must fix, once per distinct text, so that a
// missing permission is never a silent "No Device".
class DiagnosticReporter {
 public:
  DiagnosticReporter(const PacketDriver& driver, EventWriter& events)
      : driver_(driver), events_(events) {}
  void Check() {
    const std::string text = driver_.Diagnostic();
    if (text.empty() || text == reported_) return;
    reported_ = text;
    events_.Write({{"event", "error"}, {"text", text}});
  }

 private:
  const PacketDriver& driver_;
  EventWriter& events_;
  std::string reported_;
};

// A reader that goes away while nothing is being written is seen at once: the write end of a
// pipe polls as an error then. Only for a pipe opened for writing only: a file, a terminal or a
// pipe that can be read back would poll readable all the time.
std::unique_ptr<QSocketNotifier> WatchForLostReader(int fd, std::function<void()> lost) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode) ||
      (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_WRONLY) {
    return nullptr;
  }
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated,
                   [watch = notifier.get(), fd, lost = std::move(lost)] {
                     pollfd state{fd, 0, 0};
                     if (::poll(&state, 1, 0) == 1 && (state.revents & (POLLERR | POLLHUP)) != 0) {
                       watch->setEnabled(false);
                       lost();
                     }
                   });
  return notifier;
}

}  // namespace

int RunHeadlessFrontEnd(int argc, char** argv, FrontEndEnvironment& environment) {
  // A reader that closes stdout early must not kill the station in the middle of a burn.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication application(argc, argv);

  EventWriter events(stdout);
  // Without a reader the events go nowhere: the station closes as at the end of input (state
  // files written) instead of running on unseen. Decided on the event loop, not inside the write.
  HeadlessSession* session_running = nullptr;
  bool reader_lost = false;
  const auto lose_reader = [&session_running, &reader_lost] {
    if (reader_lost) return;
    reader_lost = true;
    std::fprintf(stderr, "stampwright: stdout was closed by its reader; closing\n");
    QTimer::singleShot(0, [&session_running] {
      if (session_running != nullptr) session_running->EndWithoutReader();
    });
  };
  events.SetFailureHandler(lose_reader);
  const std::unique_ptr<QSocketNotifier> reader_watch =
      WatchForLostReader(STDOUT_FILENO, lose_reader);
  HeadlessPage page([&events](nlohmann::ordered_json event) { events.Write(std::move(event)); });
  page.SetDirectory(environment.settings.workdir);
  DiagnosticReporter diagnostics(environment.driver, events);
  Station* running = nullptr;
  QtTimer timer;
  timer.SetExpiryHandler([&running, &diagnostics] {
    if (running == nullptr) return;
    OnScanTimer(*running);
    diagnostics.Check();
  });
  Station station(page, environment.driver, environment.clock, timer, environment.arp_flush,
                  environment.preferences,
                  environment.settings);
  running = &station;
  // Commands and the close are read during device operations too; they are queued by the station.
  station.yield_to_events = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
  station.journal = environment.journal;
  station.journal.on_outcome = [&events](const JournalRecord& record) {
    events.Write({{"event", "journal"}, {"record", RecordObject(record)}});
  };
  // A line's journal losing or regaining its database: stderr, as without a front end, and an
  // event; also for a journal opened only after the start.
  station.journal.on_reopened = [&events](Journal& journal) {
    journal.SetConnectionObserver([&events](bool connected, const std::string& text) {
      std::fprintf(stderr, "stampwright: %s\n", ConnectionChangeText(connected, text).c_str());
      events.Write({{"event", "journal-connection"}, {"connected", connected}, {"text", text}});
    });
  };
  if (station.journal.journal != nullptr) station.journal.on_reopened(*station.journal.journal);

  OnPageCreated(station);
  diagnostics.Check();
  OnPageActivated(station);
  events.Write({{"event", "ready"}});

  HeadlessSession session(station, page, events, STDIN_FILENO);
  session.Start([&timer] {
    timer.Stop();  // nothing may tick between the close and the end of the loop
    QCoreApplication::exit(0);
  });
  session_running = &session;
  if (reader_lost) session.EndWithoutReader();  // lost during the start-up scan
  // A close that came during Start (no input at all) ended the run before the loop began.
  if (session.closed()) {
    session_running = nullptr;
    return 0;
  }
  const int code = QCoreApplication::exec();
  session_running = nullptr;
  return code;
}

void ShowHeadlessRefusal(const std::string& text) {
  EventWriter events(stdout);
  events.Write({{"event", "messagebox"},
                {"caption", std::string(kInstanceRefusalCaption)},
                {"text", text},
                {"type", kMbIconError}});
}

}  // namespace stampwright
