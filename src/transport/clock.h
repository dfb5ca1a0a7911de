#pragma once

#include <cstdint>

namespace stampwright {

// Millisecond tick count (32 bits, wrapping) and sleep.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

// Milliseconds from start to now; right across a wrap of the tick count.
inline uint32_t ElapsedMs(uint32_t start, uint32_t now) { return now - start; }

class SystemClock final : public Clock {
 public:
  uint32_t TickCount() override;
  void Sleep(uint32_t ms) override;
};

// Time advances only when someone sleeps or waits: a discovery or burn runs in microseconds,
// deterministically. The start tick is settable so that tests can cross the wrap.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(uint32_t start_tick = 0) : now_(start_tick) {}
  uint32_t TickCount() override { return now_; }
  void Sleep(uint32_t ms) override { now_ += ms; }
  void Advance(uint32_t ms) { now_ += ms; }

 private:
  uint32_t now_;
};

}  // namespace stampwright
