#pragma once

#include <cstdint>

namespace stampwright {

// The scan timer, as the scan cycle sees it. The front end delivers each expiry on the UI thread
// by calling the station's timer entry; a QTimer in both front ends, a manual one in tests.
class Timer {
 public:
  virtual ~Timer() = default;
  // Kills a running timer first, then starts a periodic one.
  virtual void Start(uint32_t interval_ms) = 0;
  virtual void Stop() = 0;
  virtual bool IsActive() const = 0;
};

}  // namespace stampwright
