#include "transport/adapter_set.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace stampwright {
namespace {

// Cut to 99 bytes and NUL-terminated; the rest of the field is cleared so no old name shows through.
void StoreAdapterName(char (&field)[kAdapterTextSize], const std::string& name) {
  const size_t count = std::min(name.size(), kAdapterTextSize - 1);
  std::memset(field, 0, kAdapterTextSize);
  std::memcpy(field, name.data(), count);
}

bool ValidAdapterIndex(int adapter) { return adapter >= 0 && adapter < kMaxAdapters; }

}  // namespace

bool IsAdapterOpen(const AdapterSet& set, int adapter) {
  return set.open && adapter >= 0 && adapter < set.AdapterCount;
}

int32_t QueryAdapterMac(AdapterSet& set, MacAddress* address) {
  if (set.driver == nullptr) return 0;
  return set.driver->QueryCurrentAddress(set.SelectedHandle, address) ? 1 : 0;
}

int32_t SetPacketFilter(AdapterSet& set, uint32_t filter) {
  if (set.driver == nullptr) return 0;
  return set.driver->SetPacketFilter(set.SelectedHandle, filter) ? 1 : 0;
}

int32_t InstallFrameFilter(AdapterSet& set) {
  if (set.driver == nullptr) return 0;
  return set.driver->SetBpfProgram(set.SelectedHandle, FrameFilterProgram) ? 1 : 0;
}

int32_t CreateReceiveEvents(AdapterSet& set, int adapter) {
  if (!ValidAdapterIndex(adapter)) return 0;
  for (ReceiveSlot& slot : set.receive_slots[adapter]) slot.packet.capacity = kReceiveCapacity;
  return 1;
}

void PostReceives(AdapterSet& set, int adapter) {
  if (!ValidAdapterIndex(adapter)) return;
  for (ReceiveSlot& slot : set.receive_slots[adapter]) {
    // A taken slot's frame is still being read by a wait lower on the stack; that wait re-arms it.
    if (slot.packet.status != kReceiveStatusTaken) slot.packet.status = kReceiveStatusPosted;
  }
}

void CancelReceives(AdapterSet& set, int adapter) {
  if (!ValidAdapterIndex(adapter)) return;
  for (ReceiveSlot& slot : set.receive_slots[adapter]) {
    if (slot.packet.status == kReceiveStatusPosted) slot.packet.status = kReceiveStatusIdle;
  }
}

int32_t OpenAllAdapters(AdapterSet& set) {
  // Opening over an open set would leak its handles.
  if (set.open) CloseAllAdapters(set);
  if (set.driver == nullptr) return 0;

  const auto names = set.driver->EnumerateAdapters();
  if (!names) return 0;

  int32_t count = 0;
  for (const std::string& name : *names) {
    if (count == kMaxAdapters) break;  // the set has room for 8; later adapters are ignored
    const PacketDriver::Handle handle = set.driver->OpenAdapter(name);
    set.SelectedHandle = handle;
    if (handle == PacketDriver::kInvalidHandle) continue;
    AdapterRecord& record = set.records[count];
    record.Handle = handle;
    StoreAdapterName(record.AdapterName, name);
    ++count;
  }
  set.AdapterCount = count;
  set.open = true;

  for (int i = 0; i < count; ++i) {
    AdapterRecord& record = set.records[i];
    set.SelectedHandle = record.Handle;
    MacAddress address;
    QueryAdapterMac(set, &address);
    record.AdapterMac = address;
    CreateReceiveEvents(set, i);
    InstallFrameFilter(set);
    SetPacketFilter(set, kPacketFilterPromiscuous);
    PostReceives(set, i);
  }
  set.SendIndex = 0;
  return 1;
}

int32_t CloseAllAdapters(AdapterSet& set) {
  for (int i = 0; i < set.AdapterCount; ++i) {
    set.SelectedHandle = set.records[i].Handle;
    if (set.driver != nullptr) {
      SetPacketFilter(set, kPacketFilterNone);
      set.driver->CloseAdapter(set.SelectedHandle);
    }
    CancelReceives(set, i);
  }
  set.open = false;
  set.AdapterCount = 0;
  return 1;
}

void ClearPresence(AdapterSet& set) {
  for (AdapterRecord& record : set.records) record.DevicePresent = 0;
}

}  // namespace stampwright
