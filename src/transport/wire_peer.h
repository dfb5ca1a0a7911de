#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace stampwright {

// Whatever sits at the far end of a virtual adapter's cable (a simulated unit). Times are ticks
// of the VirtualClock.
class WirePeer {
 public:
  virtual ~WirePeer() = default;
  // A frame from the station arrives at the peer.
  virtual void OnFrame(const uint8_t* frame, size_t length, uint32_t now) = 0;
  // Hands over the next frame the peer sends that is due at or before now.
  virtual bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) = 0;
  // When the peer's next frame is due, if it has one queued.
  virtual std::optional<uint32_t> NextFrameDue() const = 0;
};

}  // namespace stampwright
