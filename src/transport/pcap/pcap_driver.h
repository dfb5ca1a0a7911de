#pragma once

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transport/packet_driver.h"

struct pcap;

namespace stampwright {

// Owns one capture handle; closed on every way out.
class PcapHandle {
 public:
  PcapHandle() = default;
  explicit PcapHandle(pcap* handle) : handle_(handle) {}
  pcap* get() const { return handle_.get(); }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  struct Closer {
    void operator()(pcap* handle) const;
  };
  std::unique_ptr<pcap, Closer> handle_;
};

// Real Ethernet adapters through libpcap. Enumeration keeps adapters that are up, not loopback,
// not pseudo devices, and that have an Ethernet hardware address; only_interfaces (when not empty)
// restricts it to those names. Each adapter is captured promiscuously, in immediate mode and in
// the inbound direction only, so the station never reads back its own requests.
class PcapDriver final : public PacketDriver {
 public:
  explicit PcapDriver(std::vector<std::string> only_interfaces = {});

  // On (the default), a closed adapter's capture stays open, parked, and the next opening of the
  // same interface takes it back with whatever arrived meanwhile dropped, as a fresh capture
  // would have it: a scan tick then costs no capture set-up. A parked capture goes when its
  // interface is no longer enumerated or was replaced (another interface index). Off: every
  // close really closes.
  void SetReuseHandles(bool reuse);

  std::optional<std::vector<std::string>> EnumerateAdapters() override;
  Handle OpenAdapter(const std::string& name) override;
  void CloseAdapter(Handle handle) override;
  bool QueryCurrentAddress(Handle handle, MacAddress* address) override;
  // Promiscuous reception is switched on when the adapter is opened; 0 makes the handle drop
  // whatever arrives until 0x20 is set again.
  bool SetPacketFilter(Handle handle, uint32_t filter) override;
  bool SetBpfProgram(Handle handle, std::span<const BpfInstruction> program) override;
  bool SendPacket(Handle handle, const uint8_t* frame, size_t length) override;
  size_t ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) override;
  bool WaitReadable(Handle handle, uint32_t timeout_ms) override;
  // One poll over the selectable descriptors of all the handles.
  bool WaitReadableAny(std::span<const Handle> handles, uint32_t timeout_ms) override;
  std::string Diagnostic() const override { return diagnostic_; }

  // The text shown when capture is not permitted, naming the running binary.
  static std::string PermissionAdvice();

 private:
  struct Open {
    std::string name;
    PcapHandle capture;
    int fd = -1;
    bool accepting = true;
    unsigned interface_index = 0;
    std::vector<BpfInstruction> program;  // the filter installed, to skip installing it again
  };
  Open* Find(Handle handle);
  void Report(std::string text, bool permission = false);
  // A parked capture of the interface, emptied, or nothing when there is none fit for use.
  std::optional<Open> Unpark(const std::string& name);

  std::vector<std::string> only_interfaces_;
  std::map<Handle, Open> open_;
  std::map<std::string, Open> parked_;
  bool reuse_handles_ = true;
  Handle next_handle_ = 1;  // never reused
  std::string diagnostic_;
  bool permission_reported_ = false;
};

}  // namespace stampwright
