#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/mac_address.h"
#include "transport/clock.h"
#include "transport/packet_driver.h"
#include "transport/wire_peer.h"

namespace stampwright {

// In-process adapters, each optionally cabled to a WirePeer (a simulated unit). A frame takes the
// wire latency in each direction. WaitReadable sleeps on the clock up to the next due frame or the
// time-out: on a VirtualClock that advances time, so whole exchanges run in microseconds and the
// same way every time; on a SystemClock (the demo) it really sleeps.
class VirtualDriver final : public PacketDriver {
 public:
  static constexpr size_t kSentHistory = 64;         // last frames kept per adapter for tests
  static constexpr size_t kReceiveQueueLimit = 4096;  // frames held per open handle

  explicit VirtualDriver(Clock& clock, uint32_t latency_ms = 1);

  // Set-up. Adapters are enumerated in the order added; names and counts are not limited.
  void AddAdapter(const std::string& name, const MacAddress& mac);
  // Cables a peer to the adapter (replacing one attached before); the peer must outlive it.
  // Unplugging loses whatever is still on the wire. False for an unknown adapter.
  bool AttachPeer(const std::string& name, WirePeer* peer);
  void DetachPeer(const std::string& name);
  void SetLatency(uint32_t latency_ms) { latency_ms_ = latency_ms; }

  // Test hooks.
  void SetEnumerationFails(bool fails) { enumeration_fails_ = fails; }
  void SetOpenFails(const std::string& name, bool fails);
  // An adapter unplugged from the PC (false) or plugged in again: a gone adapter is not
  // enumerated, cannot be opened, and its open handles neither send nor receive.
  void SetAdapterPresent(const std::string& name, bool present);
  // Puts a raw frame on the adapter's wire, arriving at the given tick, past any peer.
  void InjectFrame(const std::string& name, std::vector<uint8_t> frame, uint32_t arrival_tick);
  size_t FramesSent(const std::string& name) const;
  // The last kSentHistory frames sent on the adapter, oldest first.
  std::vector<std::vector<uint8_t>> SentFrames(const std::string& name) const;
  size_t OpenHandleCount() const { return handles_.size(); }
  // The packet filter and BPF program of the adapter's open handle (nullopt if none is open).
  std::optional<uint32_t> PacketFilterOf(const std::string& name) const;
  std::optional<std::vector<BpfInstruction>> ProgramOf(const std::string& name) const;

  // PacketDriver.
  std::optional<std::vector<std::string>> EnumerateAdapters() override;
  Handle OpenAdapter(const std::string& name) override;
  void CloseAdapter(Handle handle) override;
  bool QueryCurrentAddress(Handle handle, MacAddress* address) override;
  bool SetPacketFilter(Handle handle, uint32_t filter) override;
  bool SetBpfProgram(Handle handle, std::span<const BpfInstruction> program) override;
  bool SendPacket(Handle handle, const uint8_t* frame, size_t length) override;
  size_t ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) override;
  bool WaitReadable(Handle handle, uint32_t timeout_ms) override;
  bool WaitReadableAny(std::span<const Handle> handles, uint32_t timeout_ms) override;

 private:
  struct TimedFrame {
    uint32_t due;
    std::vector<uint8_t> bytes;
    bool from_peer;
  };
  struct Adapter {
    std::string name;
    MacAddress mac;
    WirePeer* peer = nullptr;
    bool open_fails = false;
    bool gone = false;
    size_t frames_sent = 0;
    std::deque<std::vector<uint8_t>> sent;
    std::deque<TimedFrame> to_peer;       // sent by the station, not yet at the peer
    std::deque<TimedFrame> to_adapter;    // on the wire toward the adapter
  };
  struct OpenHandle {
    size_t adapter;
    uint32_t packet_filter = kPacketFilterNone;
    std::vector<BpfInstruction> program;  // empty: admit everything
    std::deque<std::vector<uint8_t>> received;
  };

  Adapter* FindAdapter(const std::string& name);
  const Adapter* FindAdapter(const std::string& name) const;
  OpenHandle* FindHandle(Handle handle);
  const OpenHandle* FindHandleOf(size_t adapter) const;
  // Moves everything due by now along the adapter's wire, in time order.
  void Pump(size_t adapter);
  void Deliver(size_t adapter, const std::vector<uint8_t>& frame);
  std::optional<uint32_t> NextEvent(size_t adapter) const;

  Clock& clock_;
  uint32_t latency_ms_;
  bool enumeration_fails_ = false;
  std::vector<Adapter> adapters_;
  std::map<Handle, OpenHandle> handles_;
  Handle next_handle_ = 1;  // never reused, so a stale handle never reaches another adapter
};

}  // namespace stampwright
