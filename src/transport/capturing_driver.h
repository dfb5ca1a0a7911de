#pragma once

#include <array>
#include <map>
#include <string>

#include "transport/packet_driver.h"
#include "transport/pcapng_file.h"

namespace stampwright {

// Wraps the packet driver of a program and appends every management frame (ethertype 0x88E1)
// it sends or receives, on every adapter, to a pcapng capture. Received frames are captured
// whole, before they are cut to the caller's buffer.
class CapturingDriver final : public PacketDriver {
 public:
  static constexpr size_t kFrameBufferSize = 2048;  // above any Ethernet frame a driver hands over

  // Neither is owned; both must outlive this driver.
  CapturingDriver(PacketDriver& inner, PcapngFile& capture) : inner_(inner), capture_(capture) {}

  std::optional<std::vector<std::string>> EnumerateAdapters() override {
    return inner_.EnumerateAdapters();
  }
  Handle OpenAdapter(const std::string& name) override;
  void CloseAdapter(Handle handle) override;
  bool QueryCurrentAddress(Handle handle, MacAddress* address) override {
    return inner_.QueryCurrentAddress(handle, address);
  }
  bool SetPacketFilter(Handle handle, uint32_t filter) override {
    return inner_.SetPacketFilter(handle, filter);
  }
  bool SetBpfProgram(Handle handle, std::span<const BpfInstruction> program) override {
    return inner_.SetBpfProgram(handle, program);
  }
  bool SendPacket(Handle handle, const uint8_t* frame, size_t length) override;
  size_t ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) override;
  bool WaitReadable(Handle handle, uint32_t timeout_ms) override {
    return inner_.WaitReadable(handle, timeout_ms);
  }
  bool WaitReadableAny(std::span<const Handle> handles, uint32_t timeout_ms) override {
    return inner_.WaitReadableAny(handles, timeout_ms);
  }
  // The wrapped driver's problem first; else a capture that could not be written.
  std::string Diagnostic() const override;

 private:
  void Capture(Handle handle, const uint8_t* frame, size_t length, PcapngFile::Direction direction);

  PacketDriver& inner_;
  PcapngFile& capture_;
  std::map<Handle, uint32_t> interface_of_;
  std::array<uint8_t, kFrameBufferSize> frame_{};
};

}  // namespace stampwright
