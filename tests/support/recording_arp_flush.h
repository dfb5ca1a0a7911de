#pragma once

#include "transport/arp_flush.h"

namespace stampwright {

// Counts the flushes the station asks for and leaves the host's table alone, so in-process
// burns need no network namespace of their own.
class RecordingArpFlush final : public ArpFlush {
 public:
  int Flush() override {
    ++flushes;
    return 0;
  }
  int flushes = 0;
};

}  // namespace stampwright
