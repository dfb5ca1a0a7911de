#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/mac_address.h"
#include "settings/device_summary.h"
#include "transport/adapter_set.h"
#include "transport/clock.h"
#include "transport/virtual_driver.h"
#include "transport/wire_peer.h"

namespace stampwright::transport_test {

inline MacAddress Mac(uint8_t last) { return {{0x02, 0x00, 0x00, 0x00, 0x00, last}}; }

// An Ethernet frame: destination, source, ethertype, then `payload` bytes counting up from `seed`.
inline std::vector<uint8_t> MakeFrame(const MacAddress& destination, const MacAddress& source,
                                      uint16_t ethertype, size_t payload, uint8_t seed = 0) {
  std::vector<uint8_t> frame(14 + payload);
  destination.CopyTo(frame.data());
  source.CopyTo(frame.data() + 6);
  frame[12] = static_cast<uint8_t>(ethertype >> 8);
  frame[13] = static_cast<uint8_t>(ethertype);
  for (size_t i = 0; i < payload; ++i) frame[14 + i] = static_cast<uint8_t>(seed + i);
  return frame;
}

inline std::vector<uint8_t> HomePlugFrame(size_t payload, uint8_t seed = 0) {
  return MakeFrame(Mac(1), Mac(0x10), 0x88E1, payload, seed);
}

// Answers every frame it hears after `processing_ms` with a copy whose addresses are swapped.
class AnsweringPeer final : public WirePeer {
 public:
  explicit AnsweringPeer(uint32_t processing_ms) : processing_ms_(processing_ms) {}

  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override {
    heard_at.push_back(now);
    std::vector<uint8_t> answer(frame, frame + length);
    if (length >= 12) {
      std::copy(frame, frame + 6, answer.begin() + 6);
      std::copy(frame + 6, frame + 12, answer.begin());
    }
    queue_.push_back({now + processing_ms_, std::move(answer)});
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    if (queue_.empty() || static_cast<int32_t>(now - queue_.front().due) < 0) return false;
    *frame = std::move(queue_.front().bytes);
    queue_.pop_front();
    return true;
  }
  std::optional<uint32_t> NextFrameDue() const override {
    if (queue_.empty()) return std::nullopt;
    return queue_.front().due;
  }

  std::vector<uint32_t> heard_at;

 private:
  struct Pending {
    uint32_t due;
    std::vector<uint8_t> bytes;
  };
  uint32_t processing_ms_;
  std::deque<Pending> queue_;
};

// A clock, a virtual driver with adapters "veth0".."vethN-1" and an adapter set working through it.
struct VirtualWire {
  explicit VirtualWire(int adapters, uint32_t start_tick = 1000, uint32_t latency_ms = 1)
      : clock(start_tick), driver(clock, latency_ms), set(std::make_unique<AdapterSet>()) {
    for (int i = 0; i < adapters; ++i) driver.AddAdapter(Name(i), Mac(static_cast<uint8_t>(0x10 + i)));
    set->driver = &driver;
  }
  static std::string Name(int i) { return "veth" + std::to_string(i); }

  VirtualClock clock;
  VirtualDriver driver;
  std::unique_ptr<AdapterSet> set;  // large: keep it off the stack
  DeviceSummaries summaries{};
};

}  // namespace stampwright::transport_test
