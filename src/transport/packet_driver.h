#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/mac_address.h"

namespace stampwright {

// One classic BPF instruction: 16-bit opcode, jump-if-true, jump-if-false, 32-bit constant.
struct BpfInstruction {
  uint16_t code;
  uint8_t jt;
  uint8_t jf;
  uint32_t k;
};

// Packet filter values of the adapter's receive filter.
constexpr uint32_t kPacketFilterNone = 0;
constexpr uint32_t kPacketFilterPromiscuous = 0x20;

// What the adapter set needs from a packet library: raw Ethernet frames on named adapters.
class PacketDriver {
 public:
  using Handle = int;
  static constexpr Handle kInvalidHandle = -1;

  virtual ~PacketDriver() = default;

  // The adapters to use, in enumeration order; nothing when no enumeration can be made.
  virtual std::optional<std::vector<std::string>> EnumerateAdapters() = 0;
  virtual Handle OpenAdapter(const std::string& name) = 0;  // kInvalidHandle on failure
  virtual void CloseAdapter(Handle handle) = 0;
  virtual bool QueryCurrentAddress(Handle handle, MacAddress* address) = 0;
  virtual bool SetPacketFilter(Handle handle, uint32_t filter) = 0;
  virtual bool SetBpfProgram(Handle handle, std::span<const BpfInstruction> program) = 0;
  // Puts one whole frame (destination address first) on the wire.
  virtual bool SendPacket(Handle handle, const uint8_t* frame, size_t length) = 0;
  // Copies one waiting frame into the buffer, cut to its capacity, and returns the bytes stored;
  // 0 when no frame is waiting.
  virtual size_t ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) = 0;
  // Blocks until a frame may be waiting on the adapter or timeout_ms have passed.
  virtual bool WaitReadable(Handle handle, uint32_t timeout_ms) = 0;
  // Blocks until a frame may be waiting on any of the adapters or timeout_ms have passed; may
  // return sooner, the caller waits again for what is left. This default looks at each at once
  // and then waits at most 1 ms on the first; drivers that can wait on all at once do so.
  virtual bool WaitReadableAny(std::span<const Handle> handles, uint32_t timeout_ms) {
    if (handles.empty()) return false;
    if (handles.size() == 1) return WaitReadable(handles.front(), timeout_ms);
    for (const Handle handle : handles) {
      if (WaitReadable(handle, 0)) return true;
    }
    return WaitReadable(handles.front(), timeout_ms < 1 ? timeout_ms : 1);
  }
  // A problem the operator must act on (for example a missing permission), or empty.
  virtual std::string Diagnostic() const { return {}; }
};

}  // namespace stampwright
