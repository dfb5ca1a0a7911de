#include "transport/frame_exchange.h"

#include <algorithm>
#include <cstring>

namespace stampwright {
namespace {

// Moves waiting frames from the driver into posted slots, lowest index first.
void PullWaitingFrames(AdapterSet& set, int adapter) {
  const PacketDriver::Handle handle = set.records[adapter].Handle;
  for (ReceiveSlot& slot : set.receive_slots[adapter]) {
    if (slot.packet.status != kReceiveStatusPosted) continue;
    size_t stored = set.driver->ReceivePacket(handle, slot.packet.frame, kReceiveCapacity);
    if (stored == 0) return;
    stored = std::min<size_t>(stored, kReceiveCapacity);
    slot.packet.length = static_cast<uint32_t>(stored);
    slot.bytes_received = static_cast<uint32_t>(stored);
    slot.packet.status = kReceiveStatusStored;
  }
}

}  // namespace

int32_t SendFrame(AdapterSet& set, DeviceSummaries& summaries, int adapter, const uint8_t* frame,
                  uint16_t length) {
  if (length > kMaxFrameLength || frame == nullptr) return 0;
  // A stale handle of a closed adapter may since have been given to another one.
  if (!IsAdapterOpen(set, adapter) || set.driver == nullptr) return 0;

  // Ethernet's minimum frame: short requests are padded from the caller's own buffer.
  const uint16_t sent_length = std::max(length, kMinFrameLength);
  SendSlot& slot = set.send_slots[set.SendIndex];
  std::memcpy(slot.frame, frame, sent_length);
  slot.length = sent_length;

  DeviceSummary& summary = summaries[adapter];
  summary.FramesSent += 1;
  summary.BytesSent += sent_length;

  const bool sent = set.driver->SendPacket(set.records[adapter].Handle, slot.frame, slot.length);
  set.SendIndex = set.SendIndex == 0 ? 1 : 0;
  return sent ? 1 : 0;
}

ReceivePacket* TakeReceivedFrame(AdapterSet& set, DeviceSummaries& summaries, int adapter) {
  if (adapter < 0 || adapter >= kMaxAdapters) return nullptr;
  auto& slots = set.receive_slots[adapter];
  // Pulled only once the stored frames are all taken: a slot re-armed in between would otherwise
  // hand a later frame over before earlier ones waiting in higher slots.
  const bool any_stored = std::any_of(slots.begin(), slots.end(), [](const ReceiveSlot& slot) {
    return slot.packet.status == kReceiveStatusStored;
  });
  if (!any_stored && IsAdapterOpen(set, adapter) && set.driver != nullptr) {
    PullWaitingFrames(set, adapter);
  }

  for (int index = 0; index < kReceiveSlotsPerAdapter; ++index) {
    ReceiveSlot& slot = slots[index];
    if (slot.packet.status != kReceiveStatusStored) continue;
    slot.packet.status = kReceiveStatusTaken;
    slot.packet.adapter_index = static_cast<uint32_t>(adapter);
    slot.packet.slot_index = static_cast<uint32_t>(index);
    summaries[adapter].FramesReceived += 1;
    summaries[adapter].BytesReceived += slot.bytes_received;
    return &slot.packet;
  }
  return nullptr;
}

int32_t RearmReceiveSlot(AdapterSet& set, ReceivePacket* packet) {
  if (packet == nullptr) return 0;
  const uint32_t adapter = packet->adapter_index;
  const uint32_t index = packet->slot_index;
  if (adapter >= static_cast<uint32_t>(kMaxAdapters) ||
      index >= static_cast<uint32_t>(kReceiveSlotsPerAdapter)) {
    return 0;
  }
  ReceivePacket& own = set.receive_slots[adapter][index].packet;
  if (&own != packet || own.status != kReceiveStatusTaken) return 0;
  own.status = kReceiveStatusPosted;
  return 1;
}

uint8_t PumpFrames(AdapterSet& set, Clock& clock, int adapter, uint32_t timeout_ms,
                   uint8_t* destination, const WaitHooks& hooks) {
  if (adapter < 0 || adapter >= kMaxAdapters) return 0;
  set.SelectedHandle = set.records[adapter].Handle;

  const uint32_t start = clock.TickCount();
  uint8_t result = 0;
  // Tick at which the last idle pass ended its wait; a second idle pass at the same tick means the
  // driver returned at once (a frame it holds has no free slot, or it failed): sleep instead.
  bool idle_before = false;
  uint32_t idle_tick = 0;

  while (ElapsedMs(start, clock.TickCount()) < timeout_ms) {
    ReceivePacket* packet = hooks.dispatch != nullptr ? hooks.dispatch(hooks.context, adapter) : nullptr;
    if (packet != nullptr) {
      if (destination != nullptr) {
        std::memcpy(destination, packet->frame, std::min<uint32_t>(packet->length, kReceiveCapacity));
      }
      RearmReceiveSlot(set, packet);
      result = 1;
      idle_before = false;
    }
    if (!hooks.full_waits && hooks.awaited_accepted != nullptr && *hooks.awaited_accepted) break;
    if (packet != nullptr) continue;  // more frames may already be waiting

    const uint32_t now = clock.TickCount();
    const uint32_t elapsed = ElapsedMs(start, now);
    if (elapsed >= timeout_ms) break;
    const uint32_t remaining = timeout_ms - elapsed;
    const uint32_t slice = hooks.yield != nullptr ? std::min(remaining, kEventSliceMs) : remaining;
    if (idle_before && now == idle_tick) {
      clock.Sleep(1);
    } else if (IsAdapterOpen(set, adapter) && set.driver != nullptr) {
      set.driver->WaitReadable(set.records[adapter].Handle, slice);
    } else {
      clock.Sleep(slice);  // nothing can arrive on a closed adapter
    }
    if (hooks.yield != nullptr) hooks.yield(hooks.context);
    idle_before = true;
    idle_tick = clock.TickCount();
  }
  return result;
}

void WaitForResponsesOnAll(AdapterSet& set, Clock& clock, std::span<const int> adapters,
                           uint32_t timeout_ms, uint8_t* destination, const WaitHooks& hooks,
                           const std::array<bool, kMaxAdapters>& accepted,
                           std::array<uint8_t, kMaxAdapters>& taken) {
  std::array<bool, kMaxAdapters> waiting{};
  int waiting_count = 0;
  for (const int adapter : adapters) {
    if (adapter < 0 || adapter >= kMaxAdapters || waiting[adapter]) continue;
    waiting[adapter] = true;
    ++waiting_count;
  }
  if (waiting_count == 0) return;

  const uint32_t start = clock.TickCount();
  bool idle_before = false;
  uint32_t idle_tick = 0;
  while (waiting_count > 0 && ElapsedMs(start, clock.TickCount()) < timeout_ms) {
    bool took = false;
    for (int adapter = 0; adapter < kMaxAdapters; ++adapter) {
      if (!waiting[adapter]) continue;
      ReceivePacket* packet =
          hooks.dispatch != nullptr ? hooks.dispatch(hooks.context, adapter) : nullptr;
      if (packet != nullptr) {
        if (destination != nullptr) {
          std::memcpy(destination, packet->frame,
                      std::min<uint32_t>(packet->length, kReceiveCapacity));
        }
        RearmReceiveSlot(set, packet);
        taken[adapter] = 1;
        took = true;
      }
      if (!hooks.full_waits && accepted[adapter]) {
        waiting[adapter] = false;
        --waiting_count;
      }
    }
    if (waiting_count == 0) break;
    if (took) {
      idle_before = false;
      continue;
    }

    const uint32_t now = clock.TickCount();
    const uint32_t elapsed = ElapsedMs(start, now);
    if (elapsed >= timeout_ms) break;
    const uint32_t remaining = timeout_ms - elapsed;
    const uint32_t slice = hooks.yield != nullptr ? std::min(remaining, kEventSliceMs) : remaining;
    std::array<PacketDriver::Handle, kMaxAdapters> handles{};
    size_t handle_count = 0;
    for (int adapter = 0; adapter < kMaxAdapters; ++adapter) {
      if (waiting[adapter] && IsAdapterOpen(set, adapter)) {
        handles[handle_count++] = set.records[adapter].Handle;
      }
    }
    if (idle_before && now == idle_tick) {
      clock.Sleep(1);
    } else if (handle_count > 0 && set.driver != nullptr) {
      set.driver->WaitReadableAny(std::span(handles.data(), handle_count), slice);
    } else {
      clock.Sleep(slice);
    }
    if (hooks.yield != nullptr) hooks.yield(hooks.context);
    idle_before = true;
    idle_tick = clock.TickCount();
  }
}

}  // namespace stampwright
