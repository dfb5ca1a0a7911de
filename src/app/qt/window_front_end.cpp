// The window front end: the page as widgets, the scan timer as a QTimer, the station between.

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "app/front_end.h"
#include "app/label_desk.h"
#include "app/print_queue.h"
#include "app/journal_counts.h"
#include "app/verdict_band.h"
#include "resources/controls.h"
#include "station/mac_lookup.h"
#include "app/qt/qt_message_box.h"
#include "app/qt/qt_page.h"
#include "app/qt/verdict_panel.h"
#include "app/qt/gang_view.h"
#include "app/scan_router.h"
#include <QEvent>
#include <QTimer>
#include "resources/page_template.h"
#include "station/station_host.h"

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

// The operator's input, carried to the station's thread in the order it was given.
class StationInput final : public PageInput {
 public:
  explicit StationInput(StationHost& host) : host_(host) {}

  void Command(int id) override {
    host_.Post([id](Station& station, PageModel& page) {
      // A radio button's state is input the station reads; the buttons carry the commands.
      if (IsRadioButton(id)) {
        page.SetRadio(id, true);
      } else {
        station.PageCommand(id);
      }
    });
  }
  void Typed(int id, std::string bytes) override {
    host_.Post([id, bytes = std::move(bytes)](Station&, PageModel& page) { page.Type(id, bytes); });
  }
  void NewMacEntered() override {
    if (before_enter && before_enter()) return;
    host_.Post([](Station& station, PageModel& page) {
      if (page.IsEnabled(kBurnButton)) {
        station.PageCommand(kBurnButton);
      } else {
        // No burn without a unit read: the next scan still replaces this one.
        page.SelectText(kNewMacEdit);
      }
    });
  }
  void CloseRequested() override { host_.Close(); }

  // Takes Enter in New MAC first (a scanned-back label, a reprint): true when it did.
  std::function<bool()> before_enter;

 private:
  static bool IsRadioButton(int id) {
    for (const ControlTemplate& control : MainPageControls()) {
      if (control.id == id) return control.kind == ControlKind::kAutoRadioButton;
    }
    return false;
  }

  StationHost& host_;
};

// Carries work from the station's thread to the window's. Once the window's loop has ended it
// is closed: what was still on its way is dropped, and a notice that waited for an answer counts
// as answered, so that the station can end.
class Relay {
 public:
  Relay() : target_(std::make_unique<QObject>()) {}
  void Post(std::function<void()> work) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (target_) QMetaObject::invokeMethod(target_.get(), std::move(work), Qt::QueuedConnection);
  }
  void CloseDoor() {
    const std::lock_guard<std::mutex> lock(mutex_);
    target_.reset();
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<QObject> target_;
};

void ApplyChange(QtPage& page, const PageChange& change) {
  switch (change.kind) {
    case PageChange::Kind::kText:
      page.SetText(change.id, change.text);
      break;
    case PageChange::Kind::kEnable:
      page.Enable(change.id, change.on);
      break;
    case PageChange::Kind::kCheck:
      page.Check(change.id, change.on);
      break;
    case PageChange::Kind::kSelectText:
      page.SelectText(change.id);
      break;
    case PageChange::Kind::kFocus:
      page.SetFocus(change.id);
      break;
  }
}

// The gang window's close: every bay closes (its state file written) and the program ends once
// the last has.
class CloseWatcher final : public QObject {
 public:
  explicit CloseWatcher(std::function<void()> on_close) : on_close_(std::move(on_close)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
    event->ignore();
    on_close_();
    return true;
  }

 private:
  std::function<void()> on_close_;
};

// Several bays: one tile each in one window, every scan routed to the bay waiting for it, and
// each bay's classic page a double click away. Notices show in their tile; no bay waits for one.
int RunGangWindow(FrontEndEnvironment& environment) {
  const std::vector<BayEnvironment>& bays = environment.bays;
  std::vector<std::string> names;
  for (const BayEnvironment& bay : bays) names.push_back(bay.adapter);
  GangView view(names);
  view.setWindowTitle(QString::fromLatin1(kSheetCaption.data(),
                                          static_cast<qsizetype>(kSheetCaption.size())));
  ScanRouter router(static_cast<int>(bays.size()));
  const bool quiet = environment.quiet;
  view.on_verdict = [quiet](int, const Verdict& verdict) {
    if (!quiet) PlayVerdictSound(verdict.tone);
  };

  // Each bay's classic page, kept up to date and shown on a double click; closing it only hides
  // it.
  std::vector<std::unique_ptr<QtPage>> pages;
  for (size_t i = 0; i < bays.size(); ++i) {
    pages.push_back(std::make_unique<QtPage>());
    pages.back()->SetDialogDirectory(environment.settings.workdir);
    pages.back()->sheet().setWindowTitle(QString::fromStdString(
        "Bay " + std::to_string(i + 1) + " (" + bays[i].adapter + ")"));
    auto& sheet = static_cast<SheetDialog&>(pages.back()->sheet());
    sheet.on_close = [&sheet] {
      sheet.hide();
      return false;
    };
  }
  view.on_tile_double_clicked = [&pages](int bay) {
    QDialog& sheet = pages[static_cast<size_t>(bay - 1)]->sheet();
    sheet.show();
    sheet.raise();
  };

  Relay relay;
  size_t closed = 0;
  std::function<void(const StationEvent&)> observe_labels;
  std::function<std::string()> top_line_now;
  std::vector<std::unique_ptr<StationHost>> hosts;
  const auto show = [&](const StationEvent& event) {
    router.Observe(event);
    TellCrossedReturns(router, hosts);
    view.Show(event);
    if (observe_labels) observe_labels(event);
    if (const auto* change = std::get_if<PageChange>(&event.body)) {
      ApplyChange(*pages[static_cast<size_t>(event.bay - 1)], *change);
    }
    if (std::holds_alternative<ClosedEvent>(event.body) && ++closed == bays.size()) {
      // Not quit(): that asks the windows to close first, and the gang window refuses.
      QCoreApplication::exit(0);
    }
    view.SetTopLine(top_line_now ? top_line_now() : router.TopLine());
    if (environment.on_event) environment.on_event(event);
  };

  std::vector<std::unique_ptr<StationInput>> inputs;
  for (size_t i = 0; i < bays.size(); ++i) {
    const int bay = static_cast<int>(i + 1);
    StationSettings settings = environment.settings;
    settings.bay = bay;
    StationParts parts{*bays[i].driver,          environment.clock,   environment.arp_flush,
                       environment.preferences, std::move(settings), bays[i].journal,
                       bay};
    parts.adapter = bays[i].adapter;
    hosts.push_back(std::make_unique<StationHost>(std::move(parts), [&](StationEvent event) {
      relay.Post([&show, shared = std::make_shared<StationEvent>(std::move(event))] {
        show(*shared);
      });
    }));
    inputs.push_back(std::make_unique<StationInput>(*hosts.back()));
    pages[i]->Attach(*inputs.back());
  }

  // Labels and the pool: decided here, burned on the bays' threads, printed on the printer's.
  LabelDesk* const desk = environment.labels;
  router.AskForBurnPress(desk != nullptr && desk->pool_mode() && desk->settings().pool_confirm);
  std::unique_ptr<PrintQueue> printer;
  std::string desk_line;  // the desk's last word to the whole station (the pool running low)
  const auto top_line = [&] {
    std::string line = router.TopLine();
    const std::string labels = desk != nullptr ? desk->TopLine() : std::string();
    if (!labels.empty()) line = labels + "    " + line;
    return line;
  };
  std::function<void(std::vector<DeskAction>)> apply = [&](std::vector<DeskAction> actions) {
    std::string said;
    for (DeskAction& action : actions) {
      if (const auto* burn = std::get_if<BurnPoolMac>(&action)) {
        hosts[static_cast<size_t>(burn->bay - 1)]->Post(PoolBurnCommand(*burn));
      } else if (auto* job = std::get_if<PrintJob>(&action)) {
        if (printer) printer->Submit(std::move(*job));
      } else if (const auto* notice = std::get_if<BayNotice>(&action)) {
        view.Show({notice->bay, Notice{notice->text, {}, 0, nullptr}});
      } else if (const auto* scan = std::get_if<ScanBackReport>(&action)) {
        if (scan->bay == 0) said = scan->reason;
      }
    }
    view.SetTopLine(said.empty() ? top_line() : said);
  };
  if (desk != nullptr && desk->settings().printer) {
    printer = std::make_unique<PrintQueue>(
        *desk->settings().printer, environment.settings.workdir,
        [&relay, &apply, desk](const PrintJob& job, std::optional<std::string> failure) {
          relay.Post([&apply, desk, bay = job.bay, mac = job.mac, failure = std::move(failure)] {
            apply(desk->Printed(bay, mac, failure));
          });
        });
  }

  view.on_tile_clicked = [&](int bay) {
    // A tile whose label did not print: the click prints it again.
    if (desk != nullptr && desk->LabelFailed(bay)) return apply(desk->Reprint(bay));
    router.Select(bay);
  };
  view.on_scan = [&](std::string text) {
    if (desk != nullptr) {
      if (std::optional<std::vector<DeskAction>> taken = desk->Scan(text)) {
        return apply(std::move(*taken));
      }
    }
    const ScanRouter::Result routed = router.Scan(text);
    if (routed.kind == ScanRouter::Result::Kind::kBurning) {
      hosts[static_cast<size_t>(routed.bay - 1)]->Post(
          [label = routed.label](Station& station, PageModel& page) {
            page.Type(kNewMacEdit, label);
            station.PageCommand(kBurnButton);
          });
    }
    if (routed.refused_on > 0) {
      hosts[static_cast<size_t>(routed.refused_on - 1)]->Post(
          [label = routed.label, reason = routed.reason](Station& station, PageModel&) {
            station.RefuseLabelInFlight(label, reason);
          });
    }
    view.SetTopLine(routed.kind == ScanRouter::Result::Kind::kRefused ? routed.reason
                                                                       : top_line());
  };
  // A held scan runs out, and the units per hour move on, without an event.
  QTimer top_line_timer;
  QObject::connect(&top_line_timer, &QTimer::timeout, [&] {
    if (router.Expire()) view.SetTopLine(top_line());
  });
  top_line_timer.start(1000);

  if (desk != nullptr) {
    observe_labels = [&apply, desk](const StationEvent& event) { apply(desk->Observe(event)); };
    top_line_now = top_line;
  }
  bool closing = false;
  CloseWatcher close_watcher([&] {
    if (std::exchange(closing, true)) return;
    for (auto& host : hosts) host->Close();
  });
  view.installEventFilter(&close_watcher);
  view.SetTopLine(top_line());
  view.show();
  for (auto& host : hosts) host->Start();
  if (desk != nullptr) apply(desk->Start());
  QApplication::exec();
  relay.CloseDoor();
  for (auto& host : hosts) host->Join();
  printer.reset();
  return 0;
}

}  // namespace

int RunWindowFrontEnd(int argc, char** argv, FrontEndEnvironment& environment) {
  Application application(argc, argv);
  // The sheet's close ends the program; a message box closing before the sheet shows must not.
  QApplication::setQuitOnLastWindowClosed(false);
  if (environment.bays.size() > 1) return RunGangWindow(environment);

  QtPage page;
  page.SetDialogDirectory(environment.settings.workdir);
  // Below the page, outside the template.
  VerdictPanel panel(page);
  const bool quiet = environment.quiet;
  const auto show_verdict = [&panel, quiet](const Verdict& next) {
    if (panel.Show(next) && !quiet) PlayVerdictSound(next.tone);
  };

  // Everything the station does reaches the widgets here, on the window's thread, in order; the
  // window never waits for the station.
  Relay relay;
  std::function<void(const StationEvent&)> observe_labels;
  const auto show = [&](const StationEvent& event) {
    std::visit(
        [&](const auto& body) {
          using B = std::decay_t<decltype(body)>;
          if constexpr (std::is_same_v<B, PageChange>) {
            ApplyChange(page, body);
          } else if constexpr (std::is_same_v<B, Notice>) {
            const int button = ShowMessageBox(body.text, body.caption, body.type);
            if (body.answer) body.answer->set_value(button);
          } else if constexpr (std::is_same_v<B, FileDialogAsked>) {
            body.answer->set_value(page.OpenFileDialog(body.request));
          } else if constexpr (std::is_same_v<B, ActivityEvent>) {
            show_verdict(VerdictAfterActivity(body.activity, body.mac.substr(0, 79)));
          } else if constexpr (std::is_same_v<B, RecordEvent>) {
            show_verdict(VerdictAfterOutcome(panel.verdict(), body.record));
          } else if constexpr (std::is_same_v<B, RefusedEvent>) {
            // Refusals show on the band whether or not the journal could record them.
            show_verdict(VerdictAfterRefusal(body.reason));
          } else if constexpr (std::is_same_v<B, JournalConnectionEvent>) {
            std::fprintf(stderr, "stampwright: %s\n",
                         ConnectionChangeText(body.connected, body.text).c_str());
          } else if constexpr (std::is_same_v<B, ClosedEvent>) {
            page.PageClosed();
          }
        },
        event.body);
    if (observe_labels) observe_labels(event);
    if (environment.on_event) environment.on_event(event);
  };

  StationParts parts{environment.driver,      environment.clock,    environment.arp_flush,
                     environment.preferences, environment.settings, environment.journal};
  parts.operator_answers = true;
  StationHost* host_for_counts = nullptr;
  StationHost host(std::move(parts), [&](StationEvent event) {
    // The day's counts are read from the journal here, on the station's thread.
    const bool counts_changed = std::holds_alternative<RecordEvent>(event.body) ||
                                std::holds_alternative<JournalReopenedEvent>(event.body) ||
                                std::holds_alternative<StartedEvent>(event.body);
    relay.Post([&show, event = std::move(event)] { show(event); });
    if (counts_changed && host_for_counts != nullptr) {
      relay.Post([&panel, text = TodayCountsText(host_for_counts->station().journal())] {
        panel.ShowCounts(text);
      });
    }
  });
  host_for_counts = &host;
  StationInput input(host);
  page.Attach(input);

  // Labels and the pool: a label's word shows on the band (a PASS stays while all goes well), a
  // pool running low in the sheet's title; Enter in New MAC takes a scanned-back label, or
  // prints a label that failed again.
  LabelDesk* const desk = environment.labels;
  std::unique_ptr<PrintQueue> printer;
  const QString title = page.sheet().windowTitle();
  std::function<void(std::vector<DeskAction>)> apply = [&](std::vector<DeskAction> actions) {
    for (DeskAction& action : actions) {
      if (const auto* burn = std::get_if<BurnPoolMac>(&action)) {
        host.Post(PoolBurnCommand(*burn));
      } else if (auto* job = std::get_if<PrintJob>(&action)) {
        if (printer) printer->Submit(std::move(*job));
      } else if (const auto* notice = std::get_if<BayNotice>(&action)) {
        if (notice->text == "Label printed" || notice->text == "Label verified") continue;
        const bool prompt = notice->text == kScanPrintedLabelText;
        show_verdict({prompt ? VerdictTone::kNeutral : VerdictTone::kRefused, notice->text});
      } else if (const auto* scan = std::get_if<ScanBackReport>(&action)) {
        if (scan->bay == 0) show_verdict({VerdictTone::kRefused, scan->reason});
      }
    }
    const std::string line = desk->TopLine();
    page.sheet().setWindowTitle(line.empty() ? title : title + " - " + QString::fromStdString(line));
  };
  if (desk != nullptr) {
    if (desk->settings().printer) {
      printer = std::make_unique<PrintQueue>(
          *desk->settings().printer, environment.settings.workdir,
          [&relay, &apply, desk](const PrintJob& job, std::optional<std::string> failure) {
            relay.Post([&apply, desk, bay = job.bay, mac = job.mac, failure = std::move(failure)] {
              apply(desk->Printed(bay, mac, failure));
            });
          });
    }
    observe_labels = [&apply, desk](const StationEvent& event) { apply(desk->Observe(event)); };
    input.before_enter = [&apply, &page, desk] {
      if (desk->LabelFailed(1)) {
        apply(desk->Reprint(1));
        return true;
      }
      std::optional<std::vector<DeskAction>> taken =
          desk->Scan(page.GetText(kNewMacEdit, kMacEntryScanLength));
      if (taken) apply(std::move(*taken));
      return taken.has_value();
    };
  }
  page.SetCloseHandler([] { QCoreApplication::quit(); });

  // The sheet shows once the start-up scans have filled it, as the page's creation ends.
  host.Start([&relay, &page, &apply, desk] {
    relay.Post([&page, &apply, desk] {
      page.sheet().show();
      if (desk != nullptr) apply(desk->Start());
    });
  });
  QApplication::exec();
  relay.CloseDoor();
  host.Join();
  printer.reset();
  return 0;
}

void ShowWindowRefusal(int argc, char** argv, const std::string& text) {
  Application application(argc, argv);
  ShowMessageBox(text, "Attention!", kMbIconError);
}

}  // namespace stampwright
