#include "app/event_loop/qt_timer.h"

#include <algorithm>
#include <limits>

namespace stampwright {

QtTimer::QtTimer() {
  // The scan interval is fixed at 3000 ms; a coarse timer could drift by 150 ms each way.
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(false);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
    if (handler_) handler_();
  });
}

void QtTimer::Start(uint32_t interval_ms) {
  timer_.stop();
  const uint32_t limit = static_cast<uint32_t>(std::numeric_limits<int>::max());
  timer_.start(static_cast<int>(std::min(interval_ms, limit)));
}

}  // namespace stampwright
