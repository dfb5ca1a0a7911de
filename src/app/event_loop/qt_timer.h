#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>

#include "station/timer.h"

namespace stampwright {

// The scan timer as a QTimer on the UI thread, for both front ends (the window's QApplication
// and the headless QCoreApplication). Its expiries are delivered by whichever event loop runs,
// a message box's or a file dialog's included, and each calls the expiry handler.
class QtTimer final : public Timer {
 public:
  QtTimer();
  QtTimer(const QtTimer&) = delete;
  QtTimer& operator=(const QtTimer&) = delete;

  // What an expiry runs; the front end hands the station's timer entry in here.
  void SetExpiryHandler(std::function<void()> handler) { handler_ = std::move(handler); }

  void Start(uint32_t interval_ms) override;
  void Stop() override { timer_.stop(); }
  bool IsActive() const override { return timer_.isActive(); }
  int interval() const { return timer_.interval(); }

 private:
  QTimer timer_;
  std::function<void()> handler_;
};

}  // namespace stampwright
