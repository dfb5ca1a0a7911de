#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "station/timer.h"

namespace stampwright {

// A station's own thread: the commands posted to it run there one at a time, in order, and its
// scan timer fires there between them. A command never runs inside another, so a device
// operation's waits need no event loop of their own, and one station's waits, boxes and
// database calls hold up no other thread.
class StationLoop final : public Timer {
 public:
  StationLoop() = default;
  ~StationLoop() override;
  StationLoop(const StationLoop&) = delete;
  StationLoop& operator=(const StationLoop&) = delete;

  // Begins the thread. on_tick runs on it at each expiry of the scan timer.
  void Start(std::function<void()> on_tick);
  // Runs command on the loop's thread after every command posted before it. From any thread;
  // dropped once the loop has been told to end.
  void Post(std::function<void()> command);
  // The loop ends once the commands posted before this have run. From any thread.
  void RequestEnd();
  // RequestEnd, then waits for the thread. Not from the loop's own thread.
  void Join();
  bool OnLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  // The scan timer: used on the loop's thread only (the scan cycle starts and stops it).
  void Start(uint32_t interval_ms) override;
  void Stop() override;
  bool IsActive() const override { return timer_active_; }

 private:
  using TimePoint = std::chrono::steady_clock::time_point;

  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> commands_;
  bool end_requested_ = false;
  std::thread thread_;
  std::function<void()> on_tick_;

  // The loop's thread only.
  bool timer_active_ = false;
  std::chrono::milliseconds interval_{0};
  TimePoint due_{};
};

}  // namespace stampwright
