#pragma once

#include <QSocketNotifier>
#include <QTimer>

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "app/headless/command_parser.h"
#include "app/headless/event_writer.h"
#include "app/headless/headless_page.h"

namespace stampwright {

struct Station;

// Runs the headless commands read from a descriptor, one line each, in order on the UI thread.
// A sleep or a wait holds the commands after it while the event loop goes on (the scan timer
// keeps ticking); end of input is a close. The page must be created and active before Start.
class HeadlessSession {
 public:
  // Longer lines are refused whole: nothing a command needs comes near it.
  static constexpr size_t kMaxLineLength = 64 * 1024;

  HeadlessSession(Station& station, HeadlessPage& page, EventWriter& events, int input_fd);
  HeadlessSession(const HeadlessSession&) = delete;
  HeadlessSession& operator=(const HeadlessSession&) = delete;
  ~HeadlessSession();

  // Starts reading. on_closed runs once the close has deactivated and destroyed the page.
  void Start(std::function<void()> on_closed);

  // Takes bytes as if read from the input: whole lines are queued, the rest kept for later.
  void Feed(std::string_view bytes);
  // The input has ended.
  void FeedEnd();
  // The reader of the events has gone: the commands still queued or held are meant for it and
  // are dropped, and the station closes as at the end of input (after an operation under way).
  void EndWithoutReader();

  bool closed() const { return closed_; }

 private:
  using Item = std::variant<HeadlessCommand, CommandError>;
  enum class Hold { kNone, kSleep, kWait };

  void OnReadable();
  void QueueLine(std::string_view line);
  void Run();
  void RunSoon();
  void Execute(const HeadlessCommand& command);
  void StartWait(const WaitCommand& wait);
  void EndHold();
  void Close();
  void Error(const std::string& text);

  Station& station_;
  HeadlessPage& page_;
  EventWriter& events_;
  int input_fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> on_closed_;

  std::string partial_;
  bool discarding_long_line_ = false;
  bool input_ended_ = false;
  std::deque<Item> queue_;

  Hold hold_ = Hold::kNone;
  WaitCommand wait_{};
  QTimer hold_timer_;
  bool running_ = false;
  bool closed_ = false;
};

}  // namespace stampwright
