#pragma once

#include <chrono>
#include <cstdio>

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

  // The line Write puts out for an event at the given time (without the newline).
  static std::string Format(nlohmann::ordered_json event, long long ms);

 private:
  std::FILE* out_;
  Clock::time_point start_;
};

}  // namespace stampwright
