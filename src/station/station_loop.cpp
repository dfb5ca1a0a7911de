#include "station/station_loop.h"

#include <utility>

namespace stampwright {

StationLoop::~StationLoop() { Join(); }

void StationLoop::Start(std::function<void()> on_tick) {
  on_tick_ = std::move(on_tick);
  thread_ = std::thread([this] { Run(); });
}

void StationLoop::Post(std::function<void()> command) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (end_requested_) return;
    commands_.push_back(std::move(command));
  }
  wake_.notify_one();
}

void StationLoop::RequestEnd() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    end_requested_ = true;
  }
  wake_.notify_one();
}

void StationLoop::Join() {
  RequestEnd();
  if (thread_.joinable()) thread_.join();
}

void StationLoop::Start(uint32_t interval_ms) {
  timer_active_ = true;
  interval_ = std::chrono::milliseconds(interval_ms);
  due_ = std::chrono::steady_clock::now() + interval_;
}

void StationLoop::Stop() { timer_active_ = false; }

void StationLoop::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!commands_.empty()) {
      std::function<void()> command = std::move(commands_.front());
      commands_.pop_front();
      lock.unlock();
      command();
      lock.lock();
      continue;
    }
    if (end_requested_) return;
    if (!timer_active_) {
      wake_.wait(lock, [this] { return !commands_.empty() || end_requested_; });
      continue;
    }
    if (std::chrono::steady_clock::now() < due_) {
      wake_.wait_until(lock, due_, [this] { return !commands_.empty() || end_requested_; });
      continue;
    }
    // Ticks missed while a command ran are not made up: one tick, then a full interval.
    due_ = std::chrono::steady_clock::now() + interval_;
    lock.unlock();
    if (on_tick_) on_tick_();
    lock.lock();
  }
}

}  // namespace stampwright
