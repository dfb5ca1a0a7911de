#include "app/headless/headless_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <type_traits>
#include <utility>

#include "station/station.h"
#include "station/station_host.h"
#include "app/scan_router.h"
#include "resources/controls.h"

namespace stampwright {

HeadlessSession::HeadlessSession(std::vector<SessionBay> bays, ScanRouter& router,
                                 EventWriter& events, int input_fd)
    : bays_(std::move(bays)), router_(router), events_(events), input_fd_(input_fd) {
  hold_timer_.setSingleShot(true);
  // "sleep" and "wait" are promises in milliseconds: a coarse timer may end them 5 % early.
  hold_timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&hold_timer_, &QTimer::timeout, [this] {
    if (hold_ == Hold::kWait) {
      nlohmann::ordered_json event{{"event", "timeout"}, {"id", wait_.id}, {"text", wait_.text}};
      if (bays_.size() > 1) event["bay"] = wait_bay_ + 1;
      events_.Write(std::move(event));
    }
    EndHold();
  });
}

HeadlessSession::~HeadlessSession() {
  for (SessionBay& bay : bays_) bay.view->on_text = nullptr;
}

void HeadlessSession::Start() {
  for (size_t i = 0; i < bays_.size(); ++i) {
    PageModel& view = *bays_[i].view;
    bays_[i].view->on_text = [this, i, &view](int id) {
      if (hold_ == Hold::kWait && i == wait_bay_ && id == wait_.id &&
          view.TextOf(id) == wait_.text) {
        EndHold();
      }
    };
  }
  if (input_fd_ < 0 || ::fcntl(input_fd_, F_GETFD) == -1) {
    FeedEnd();  // no input at all: as if it had ended at once
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(input_fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
}

void HeadlessSession::OnReadable() {
  // One read per notification: the descriptor said it is readable, so this does not block.
  std::array<char, 4096> buffer;
  const ssize_t count = ::read(input_fd_, buffer.data(), buffer.size());
  if (count > 0) {
    Feed(std::string_view(buffer.data(), static_cast<size_t>(count)));
  } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
    FeedEnd();
  }
}

void HeadlessSession::Feed(std::string_view bytes) {
  if (input_ended_) return;
  while (!bytes.empty()) {
    const size_t newline = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, newline);
    if (!discarding_long_line_) {
      if (partial_.size() + piece.size() > kMaxLineLength) {
        discarding_long_line_ = true;
        partial_.clear();
      } else {
        partial_.append(piece);
      }
    }
    if (newline == bytes.npos) break;
    if (discarding_long_line_) {
      queue_.emplace_back(CommandError{"line longer than " + std::to_string(kMaxLineLength) +
                                       " bytes ignored"});
      discarding_long_line_ = false;
    } else {
      QueueLine(partial_);
    }
    partial_.clear();
    bytes.remove_prefix(newline + 1);
  }
  Run();
}

void HeadlessSession::FeedEnd() {
  if (input_ended_) return;
  if (discarding_long_line_) {
    queue_.emplace_back(CommandError{"line longer than " + std::to_string(kMaxLineLength) +
                                     " bytes ignored"});
  } else if (!partial_.empty()) {
    QueueLine(partial_);  // a last line without its newline still counts
  }
  partial_.clear();
  input_ended_ = true;
  if (notifier_) notifier_->setEnabled(false);
  queue_.emplace_back(AddressedCommand{0, CloseCommand{}});
  Run();
}

void HeadlessSession::EndWithoutReader() {
  if (closed_) return;
  input_ended_ = true;
  queue_.clear();
  hold_ = Hold::kNone;
  Close();
}

void HeadlessSession::QueueLine(std::string_view line) {
  auto parsed = ParseAddressedCommand(line);
  if (const auto* command = std::get_if<AddressedCommand>(&parsed)) {
    if (std::holds_alternative<NoCommand>(command->command)) return;
    queue_.emplace_back(std::move(*command));
  } else {
    CommandError& error = std::get<CommandError>(parsed);
    error.message = "cannot understand '" + std::string(line) + "': " + error.message;
    queue_.emplace_back(std::move(error));
  }
}

void HeadlessSession::Run() {
  if (running_ || closed_) return;
  running_ = true;
  while (!closed_ && hold_ == Hold::kNone && !queue_.empty()) {
    Item item = std::move(queue_.front());
    queue_.pop_front();
    if (const auto* error = std::get_if<CommandError>(&item)) {
      Error(error->message);
    } else {
      Execute(std::get<AddressedCommand>(item));
    }
  }
  running_ = false;
}

void HeadlessSession::RunSoon() {
  // Not from inside whatever wrote the awaited text: that operation finishes first.
  QTimer::singleShot(0, &hold_timer_, [this] { Run(); });
}

std::optional<size_t> HeadlessSession::BayOf(const AddressedCommand& command) {
  if (command.bay == 0) {
    if (bays_.size() == 1) return 0;
    Error("with several bays a page command names its bay: bay <n> " +
          std::string("<command>"));
    return std::nullopt;
  }
  if (command.bay > static_cast<int>(bays_.size())) {
    Error("there is no bay " + std::to_string(command.bay));
    return std::nullopt;
  }
  return static_cast<size_t>(command.bay - 1);
}

void HeadlessSession::Execute(const AddressedCommand& addressed) {
  std::visit(
      [this, &addressed](const auto& c) {
        using C = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<C, SetCommand>) {
          const std::optional<size_t> bay = BayOf(addressed);
          if (!bay) return;
          PageModel& view = *bays_[*bay].view;
          // The view keeps what was typed too, for a wait on it.
          OnStation(*bay, [c](Station&, PageModel& page) { return page.Type(c.id, c.text); },
                    [c, &view] { view.Type(c.id, c.text); });
        } else if constexpr (std::is_same_v<C, ClickCommand>) {
          const std::optional<size_t> bay = BayOf(addressed);
          if (!bay) return;
          OnStation(*bay, [c](Station& station, PageModel& page) {
            auto problem = page.Press(c.id);
            if (!problem) station.PageCommand(c.id);
            return problem;
          });
        } else if constexpr (std::is_same_v<C, CheckCommand>) {
          const std::optional<size_t> bay = BayOf(addressed);
          if (!bay) return;
          OnStation(*bay,
                    [c](Station&, PageModel& page) { return page.SetRadio(c.id, c.checked); });
        } else if constexpr (std::is_same_v<C, FileCommand>) {
          const std::optional<size_t> bay = BayOf(addressed);
          if (!bay) return;
          OnStation(*bay, [c](Station&, PageModel& page) {
            page.QueueFileAnswer(c.path);
            return std::optional<std::string>();
          });
        } else if constexpr (std::is_same_v<C, SleepCommand>) {
          hold_ = Hold::kSleep;
          hold_timer_.start(static_cast<int>(c.ms));
        } else if constexpr (std::is_same_v<C, WaitCommand>) {
          if (const std::optional<size_t> bay = BayOf(addressed)) StartWait(*bay, c);
        } else if constexpr (std::is_same_v<C, ScanCommand>) {
          if (!scan_hook || !scan_hook(c.text)) Scan(c.text);
        } else if constexpr (std::is_same_v<C, ReprintCommand>) {
          const std::optional<size_t> bay = BayOf(addressed);
          if (!bay) return;
          if (!reprint) return Error("no --label-printer: there is nothing to print again");
          reprint(static_cast<int>(*bay + 1));
        } else if constexpr (std::is_same_v<C, CloseCommand>) {
          Close();
        }
      },
      addressed.command);
}

void HeadlessSession::Scan(const std::string& text) {
  const ScanRouter::Result routed = router_.Scan(text);
  const char* result = "refused";
  if (routed.kind == ScanRouter::Result::Kind::kBurning) result = "burning";
  if (routed.kind == ScanRouter::Result::Kind::kHeld) result = "held";
  if (routed.kind == ScanRouter::Result::Kind::kBaySelected) result = "bay-selected";
  nlohmann::ordered_json event{{"event", "scan"}, {"text", text}};
  event["bay"] = routed.bay > 0 && routed.kind != ScanRouter::Result::Kind::kRefused
                     ? nlohmann::ordered_json(routed.bay)
                     : nlohmann::ordered_json();
  event["result"] = result;
  event["reason"] =
      routed.reason.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(routed.reason);
  events_.Write(std::move(event));
  if (routed.refused_on > 0) {
    bays_[static_cast<size_t>(routed.refused_on - 1)].host->Post(
        [label = routed.label, reason = routed.reason](Station& station, PageModel&) {
          station.RefuseLabelInFlight(label, reason);
        });
  }
  if (routed.kind != ScanRouter::Result::Kind::kBurning) return;
  // The burn runs on its bay's thread while the session reads on: scans for other bays start
  // theirs at once.
  bays_[static_cast<size_t>(routed.bay - 1)].host->Post(
      [label = routed.label](Station& station, PageModel& page) {
        page.Type(kNewMacEdit, label);
        station.PageCommand(kBurnButton);
      });
}

void HeadlessSession::OnStation(
    size_t bay, std::function<std::optional<std::string>(Station&, PageModel&)> command,
    std::function<void()> done) {
  hold_ = Hold::kStation;
  bays_[bay].host->Post([this, command = std::move(command), done = std::move(done)](Station& station,
                                                                          PageModel& page) {
    std::optional<std::string> problem = command(station, page);
    // Back on the session's thread, behind every event the command caused.
    QMetaObject::invokeMethod(
        &hold_timer_,
        [this, problem = std::move(problem), done] {
          if (problem) {
            Error(*problem);
          } else if (done) {
            done();
          }
          EndHold();
        },
        Qt::QueuedConnection);
  });
}

void HeadlessSession::StartWait(size_t bay, const WaitCommand& wait) {
  const std::optional<std::string> shown = bays_[bay].view->TextOf(wait.id);
  if (!shown) {
    Error("control " + std::to_string(wait.id) + " is not on the page");
    return;
  }
  if (*shown == wait.text) return;
  hold_ = Hold::kWait;
  wait_ = wait;
  wait_bay_ = bay;
  hold_timer_.start(static_cast<int>(wait.ms));
}

void HeadlessSession::EndHold() {
  if (hold_ == Hold::kNone) return;
  hold_timer_.stop();
  hold_ = Hold::kNone;
  RunSoon();
}

void HeadlessSession::Close() {
  closed_ = true;
  hold_timer_.stop();
  if (notifier_) notifier_->setEnabled(false);
  queue_.clear();
  // After the command under way; each station tells when its page is closed.
  for (SessionBay& bay : bays_) bay.host->Close();
}

void HeadlessSession::Error(const std::string& text) {
  events_.Write({{"event", "error"}, {"text", text}});
}

}  // namespace stampwright
