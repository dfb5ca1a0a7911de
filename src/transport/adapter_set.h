#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/mac_address.h"
#include "settings/device_summary.h"
#include "transport/packet_driver.h"

namespace stampwright {

constexpr int kReceiveSlotsPerAdapter = 10;
constexpr int kSendSlotCount = 2;
constexpr size_t kAdapterTextSize = 100;  // AdapterName and FirmwareVersion, NUL included
constexpr uint32_t kReceiveCapacity = 1500;
constexpr size_t kSendSlotFrameSize = 1520;

// ReceivePacket status words. The receive side stores a frame only into a posted slot, so a taken
// slot (its frame being dispatched lower on the stack) is never written until it is re-armed.
constexpr uint32_t kReceiveStatusStored = 0;
constexpr uint32_t kReceiveStatusTaken = 259;
constexpr uint32_t kReceiveStatusPosted = 1;
constexpr uint32_t kReceiveStatusIdle = 2;  // no read posted: never opened, or cancelled

// The four-instruction classic BPF program, installed on every adapter: ethertype 0x88E1 only.
constexpr std::array<BpfInstruction, 4> FrameFilterProgram = {{
    {0x0028, 0, 0, 12},          // ld h [12]: the ethertype
    {0x0015, 0, 1, 0x88E1},      // jeq 0x88E1
    {0x0006, 0, 0, 0xFFFFFFFF},  // ret whole frame
    {0x0006, 0, 0, 0},           // ret 0: reject
}};

// One received frame, laid out as the packet library fills it (offsets pinned below).
struct ReceivePacket {
  uint32_t adapter_index = 0;
  uint32_t slot_index = 0;
  uint8_t reserved_8[16] = {};
  uint32_t status = kReceiveStatusIdle;
  uint8_t reserved_28[16] = {};
  uint32_t length = 0;
  uint8_t reserved_48[4] = {};
  uint32_t capacity = 0;
  uint8_t frame[kReceiveCapacity] = {};
};
static_assert(offsetof(ReceivePacket, status) == 24);
static_assert(offsetof(ReceivePacket, length) == 44);
static_assert(offsetof(ReceivePacket, capacity) == 52);
static_assert(offsetof(ReceivePacket, frame) == 56);
static_assert(sizeof(ReceivePacket) == 56 + kReceiveCapacity);

struct ReceiveSlot {
  uint32_t bytes_received = 0;
  ReceivePacket packet;
};

struct SendSlot {
  uint16_t length = 0;
  uint8_t frame[kSendSlotFrameSize] = {};
};

struct AdapterRecord {
  PacketDriver::Handle Handle = PacketDriver::kInvalidHandle;
  MacAddress AdapterMac;
  char AdapterName[kAdapterTextSize] = {};
  char FirmwareVersion[kAdapterTextSize] = {};
  MacAddress DeviceMac;
  uint32_t DevicePresent = 0;
};

// The opened adapters and their receive and send rings. Built from scratch on every rescan;
// records are never cleared as a whole, so those beyond AdapterCount keep an earlier opening's data.
struct AdapterSet {
  PacketDriver* driver = nullptr;  // not owned
  std::array<AdapterRecord, kMaxAdapters> records;
  int32_t AdapterCount = 0;
  PacketDriver::Handle SelectedHandle = PacketDriver::kInvalidHandle;
  int32_t CurrentAdapter = 0;  // written only by the confirmation dispatcher
  std::array<std::array<ReceiveSlot, kReceiveSlotsPerAdapter>, kMaxAdapters> receive_slots;
  std::array<SendSlot, kSendSlotCount> send_slots;
  uint32_t SendIndex = 0;
  bool open = false;  // set up by OpenAllAdapters (possibly with 0 adapters), down after Close
};

// Enumerates and opens up to 8 adapters (dense records; a ninth and later are ignored), learns
// their MACs, installs FrameFilterProgram, turns on promiscuous reception and posts all ten reads.
// 1 when the set was built, 0 when no enumeration could be made (the set is then closed).
int32_t OpenAllAdapters(AdapterSet& set);
// Stops reception and closes every open adapter; always 1. Slots' contents are left as they are.
int32_t CloseAllAdapters(AdapterSet& set);
// DevicePresent := 0 in all 8 records, whatever AdapterCount is.
void ClearPresence(AdapterSet& set);

// These act on SelectedHandle.
int32_t QueryAdapterMac(AdapterSet& set, MacAddress* address);
int32_t SetPacketFilter(AdapterSet& set, uint32_t filter);
int32_t InstallFrameFilter(AdapterSet& set);
int32_t CreateReceiveEvents(AdapterSet& set, int adapter);
void PostReceives(AdapterSet& set, int adapter);
void CancelReceives(AdapterSet& set, int adapter);

// True for 0 <= adapter < AdapterCount of an open set.
bool IsAdapterOpen(const AdapterSet& set, int adapter);

}  // namespace stampwright
