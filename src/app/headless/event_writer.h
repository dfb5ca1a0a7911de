#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

#include <nlohmann/json.hpp>

namespace stampwright {

// Writes the headless front end's events: one JSON object per line, flushed at once, each with
// "ms", the milliseconds since start. Bytes that are not UTF-8 are replaced, never fatal.
class EventWriter {
 public:
  using Clock = std::chrono::steady_clock;

  explicit EventWriter(std::FILE* out, Clock::time_point start = Clock::now())
      : out_(out), start_(start) {}

  void Write(nlohmann::ordered_json event);

  // Called once, from the Write that found the output gone (the reader closed its end); the
  // events after it are dropped, as nobody is left to read them.
  void SetFailureHandler(std::function<void()> on_failure) { on_failure_ = std::move(on_failure); }
  bool failed() const { return failed_; }

  // The line Write puts out for an event at the given time (without the newline).
  static std::string Format(nlohmann::ordered_json event, long long ms);

 private:
  std::FILE* out_;
  Clock::time_point start_;
  std::function<void()> on_failure_;
  bool failed_ = false;
};

}  // namespace stampwright
