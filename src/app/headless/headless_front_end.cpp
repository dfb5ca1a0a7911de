#include <QCoreApplication>
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
#include <type_traits>
#include <vector>
#include <variant>

#include "app/front_end.h"
#include "app/label_desk.h"
#include "app/print_queue.h"
#include "resources/controls.h"
#include "app/headless/event_writer.h"
#include "app/headless/headless_page.h"
#include "app/headless/headless_session.h"
#include "journal/export.h"
#include "app/single_instance.h"
#include "app/scan_router.h"
#include "station/station_host.h"

namespace stampwright {
namespace {

// Reports what the packet driver says the operator must fix, once per distinct text, so that a
// missing permission is never a silent "No Device".
class DiagnosticReporter {
 public:
  DiagnosticReporter(const PacketDriver& driver, std::function<void(std::string)> report)
      : driver_(driver), report_(std::move(report)) {}
  void Check() {
    const std::string text = driver_.Diagnostic();
    if (text.empty() || text == reported_) return;
    reported_ = text;
    report_(text);
  }

 private:
  const PacketDriver& driver_;
  std::function<void(std::string)> report_;
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

  // One bay, the page's station; or the bays the program entry found.
  std::vector<BayEnvironment> bays = environment.bays;
  const bool gang = bays.size() > 1;
  if (!gang) bays = {BayEnvironment{{}, &environment.driver, environment.journal}};

  // Every event is written here, on this thread, in the order its station made it; the page as
  // a bay's events have shown it is what a wait looks at. With several bays each event says
  // whose it is.
  QObject relay;
  std::vector<std::unique_ptr<PageModel>> views;
  for (size_t i = 0; i < bays.size(); ++i) views.push_back(std::make_unique<PageModel>());
  ScanRouter router(static_cast<int>(bays.size()));
  std::unique_ptr<HeadlessSession> session;
  size_t started = 0;
  size_t closed = 0;
  const auto on_main = [&relay](std::function<void()> work) {
    QMetaObject::invokeMethod(&relay, std::move(work), Qt::QueuedConnection);
  };
  const auto write = [&events, gang](nlohmann::ordered_json event, int bay) {
    if (gang) event["bay"] = bay;
    events.Write(std::move(event));
  };
  LabelDesk* const desk = environment.labels;
  std::unique_ptr<PrintQueue> printer;
  std::function<void(std::vector<DeskAction>)> apply;
  std::function<void(const StationEvent&)> observe_labels;
  std::vector<std::unique_ptr<StationHost>> hosts;
  const auto show = [&](const StationEvent& event) {
    router.Observe(event);
    TellCrossedReturns(router, hosts);
    if (observe_labels) observe_labels(event);
    PageModel& view = *views[static_cast<size_t>(event.bay - 1)];
    std::visit(
        [&](const auto& body) {
          using B = std::decay_t<decltype(body)>;
          if constexpr (std::is_same_v<B, PageChange>) {
            if (auto json = PageChangeEvent(body)) write(std::move(*json), event.bay);
            if (body.kind == PageChange::Kind::kText) view.SetText(body.id, body.text);
            if (body.kind == PageChange::Kind::kEnable) view.Enable(body.id, body.on);
            if (body.kind == PageChange::Kind::kCheck) view.Check(body.id, body.on);
          } else if constexpr (std::is_same_v<B, Notice>) {
            write(MessageBoxEvent(body.text, body.caption, body.type), event.bay);
          } else if constexpr (std::is_same_v<B, RecordEvent>) {
            write({{"event", "journal"}, {"record", RecordObject(body.record)}}, event.bay);
          } else if constexpr (std::is_same_v<B, JournalConnectionEvent>) {
            // A line's journal losing or regaining its database: stderr, as without a front
            // end, and an event.
            std::fprintf(stderr, "stampwright: %s\n",
                         ConnectionChangeText(body.connected, body.text).c_str());
            write({{"event", "journal-connection"},
                   {"connected", body.connected},
                   {"text", body.text}},
                  event.bay);
          } else if constexpr (std::is_same_v<B, AdapterEvent>) {
            // Only bays name their adapter: one station on every adapter says "No Device" as
            // it always has.
            if (gang) {
              write({{"event", "adapter"}, {"present", body.present}, {"adapter", body.adapter}},
                    event.bay);
            }
          } else if constexpr (std::is_same_v<B, StartedEvent>) {
            if (++started < bays.size()) return;
            events.Write({{"event", "ready"}});
            if (desk != nullptr) apply(desk->Start());
            session_running = session.get();
            session->Start();
            if (reader_lost) session->EndWithoutReader();  // lost during the start-up scan
          } else if constexpr (std::is_same_v<B, ClosedEvent>) {
            if (++closed < bays.size()) return;
            session_running = nullptr;
            QCoreApplication::exit(0);
          }
        },
        event.body);
    if (environment.on_event) environment.on_event(event);
  };

  // The MES broker's connection, as each change comes: an event beside the stderr line.
  if (environment.mes_connection) {
    environment.mes_connection([&on_main, &events](const MesConnectionState& state) {
      on_main([&events, state] {
        nlohmann::ordered_json event{{"event", "mes-connection"},
                                     {"state", state.connected ? "connected" : "disconnected"}};
        if (state.connected) {
          event["url"] = state.text;
        } else {
          event["reason"] = state.text;
        }
        events.Write(std::move(event));
      });
    });
  }

  std::vector<std::unique_ptr<DiagnosticReporter>> diagnostics;
  std::vector<SessionBay> session_bays;
  for (size_t i = 0; i < bays.size(); ++i) {
    const int bay = static_cast<int>(i + 1);
    StationSettings settings = environment.settings;
    if (gang) settings.bay = bay;
    StationParts parts{*bays[i].driver,          environment.clock, environment.arp_flush,
                       environment.preferences, std::move(settings), bays[i].journal,
                       bay};
    parts.adapter = bays[i].adapter;
    hosts.push_back(std::make_unique<StationHost>(
        std::move(parts), [&on_main, &show](StationEvent event) {
          on_main([&show, shared = std::make_shared<StationEvent>(std::move(event))] {
            show(*shared);
          });
        }));
    // What the packet driver says the operator must fix, checked on the station's thread.
    diagnostics.push_back(std::make_unique<DiagnosticReporter>(
        *bays[i].driver, [&on_main, &write, bay](std::string text) {
          on_main([&write, bay, text = std::move(text)] {
            write({{"event", "error"}, {"text", text}}, bay);
          });
        }));
    session_bays.push_back({hosts.back().get(), views[i].get()});
  }
  session = std::make_unique<HeadlessSession>(session_bays, router, events, STDIN_FILENO);

  // Labels and the pool: the desk decides on this thread, a bay burns on its own, the printer
  // prints on its own.
  apply = [&](std::vector<DeskAction> actions) {
    for (DeskAction& action : actions) {
      std::visit(
          [&](auto& a) {
            using A = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<A, BurnPoolMac>) {
              hosts[static_cast<size_t>(a.bay - 1)]->Post(PoolBurnCommand(a));
            } else if constexpr (std::is_same_v<A, PrintJob>) {
              if (printer) printer->Submit(std::move(a));
            } else if constexpr (std::is_same_v<A, BayNotice>) {
              write({{"event", "notice"}, {"text", a.text}}, a.bay);
            } else if constexpr (std::is_same_v<A, PoolWarning>) {
              nlohmann::ordered_json event{{"event", "pool"}, {"left", a.left}};
              if (a.left == 0) event["text"] = a.text;
              events.Write(std::move(event));
            } else if constexpr (std::is_same_v<A, LabelReport>) {
              write({{"event", "label"},
                     {"mac", a.mac},
                     {"printer", a.printer},
                     {"ok", a.ok},
                     {"reason", a.ok ? nlohmann::ordered_json() : nlohmann::ordered_json(a.reason)}},
                    a.bay);
            } else if constexpr (std::is_same_v<A, ScanBackReport>) {
              nlohmann::ordered_json event{{"event", "scan"}, {"text", a.label}};
              event["bay"] = a.bay > 0 ? nlohmann::ordered_json(a.bay) : nlohmann::ordered_json();
              event["result"] = a.result;
              event["reason"] =
                  a.reason.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(a.reason);
              events.Write(std::move(event));
            }
          },
          action);
    }
  };
  if (desk != nullptr) {
    if (desk->settings().printer) {
      printer = std::make_unique<PrintQueue>(
          *desk->settings().printer, environment.settings.workdir,
          [&on_main, &apply, desk](const PrintJob& job, std::optional<std::string> failure) {
            on_main([&apply, desk, bay = job.bay, mac = job.mac, failure = std::move(failure)] {
              apply(desk->Printed(bay, mac, failure));
            });
          });
      session->reprint = [&apply, desk](int bay) { apply(desk->Reprint(bay)); };
    }
    session->scan_hook = [&apply, desk](const std::string& text) {
      std::optional<std::vector<DeskAction>> taken = desk->Scan(text);
      if (taken) apply(std::move(*taken));
      return taken.has_value();
    };
    observe_labels = [&apply, desk](const StationEvent& event) { apply(desk->Observe(event)); };
  }
  for (size_t i = 0; i < hosts.size(); ++i) {
    DiagnosticReporter& reporter = *diagnostics[i];
    hosts[i]->SetAfterTick([&reporter] { reporter.Check(); });
    hosts[i]->Start([&reporter] { reporter.Check(); });
  }
  const int code = QCoreApplication::exec();
  if (environment.mes_connection) environment.mes_connection(nullptr);
  for (auto& host : hosts) host->Join();
  printer.reset();
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
