#pragma once

#include <QSocketNotifier>
#include <QTimer>

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/headless/command_parser.h"
#include "app/headless/event_writer.h"
#include "app/headless/headless_page.h"
#include "station/station.h"

namespace stampwright {

class StationHost;
class ScanRouter;

// One bay as the session drives it: its station and the page as its events have shown it so far
// (a wait looks at it).
struct SessionBay {
  StationHost* host;
  PageModel* view;
};

// Runs the headless commands read from a descriptor, one line each, in order. Each command that
// acts on the page runs on the station's thread, and the next waits until it has (so that a
// wait after a click sees what the click did); a sleep or a wait holds the commands after it
// while the station goes on. End of input is a close. The stations must have started. With
// several bays a page command names its bay ("bay 2 click 1102") and a scan goes where the
// router sends it.
class HeadlessSession {
 public:
  // Longer lines are refused whole: nothing a command needs comes near it.
  static constexpr size_t kMaxLineLength = 64 * 1024;

  HeadlessSession(std::vector<SessionBay> bays, ScanRouter& router, EventWriter& events,
                  int input_fd);
  HeadlessSession(const HeadlessSession&) = delete;
  HeadlessSession& operator=(const HeadlessSession&) = delete;
  ~HeadlessSession();

  // Starts reading.
  void Start();

  // Takes bytes as if read from the input: whole lines are queued, the rest kept for later.
  void Feed(std::string_view bytes);
  // The input has ended.
  void FeedEnd();
  // The reader of the events has gone: the commands still queued or held are meant for it and
  // are dropped, and the station closes as at the end of input (after an operation under way).
  void EndWithoutReader();

  bool closed() const { return closed_; }

  // Labels made at the station: a scanned line they take (a scan-back, or any label when the
  // MACs come from the pool) before the router sees it, true when taken; and a bay's reprint.
  std::function<bool(const std::string& text)> scan_hook;
  std::function<void(int bay)> reprint;

 private:
  using Item = std::variant<AddressedCommand, CommandError>;
  enum class Hold { kNone, kSleep, kWait, kStation };

  void OnReadable();
  void QueueLine(std::string_view line);
  void Run();
  void RunSoon();
  void Execute(const AddressedCommand& command);
  // The index of the bay a page command acts on; nothing (after the error) when it names none.
  std::optional<size_t> BayOf(const AddressedCommand& command);
  void Scan(const std::string& text);
  void StartWait(size_t bay, const WaitCommand& wait);
  // Runs command on the station's thread and holds the session until it has; what it returns is
  // an error to report, if any; done runs here after a command without one.
  void OnStation(size_t bay,
                 std::function<std::optional<std::string>(Station&, PageModel&)> command,
                 std::function<void()> done = {});
  void EndHold();
  void Close();
  void Error(const std::string& text);

  std::vector<SessionBay> bays_;
  ScanRouter& router_;
  EventWriter& events_;
  int input_fd_;
  std::unique_ptr<QSocketNotifier> notifier_;

  std::string partial_;
  bool discarding_long_line_ = false;
  bool input_ended_ = false;
  std::deque<Item> queue_;

  Hold hold_ = Hold::kNone;
  WaitCommand wait_{};
  size_t wait_bay_ = 0;
  QTimer hold_timer_;
  bool running_ = false;
  bool closed_ = false;
};

}  // namespace stampwright
