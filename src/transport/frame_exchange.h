#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "settings/device_summary.h"
#include "transport/adapter_set.h"
#include "transport/clock.h"

namespace stampwright {

constexpr uint16_t kMaxFrameLength = 1514;
constexpr uint16_t kMinFrameLength = 60;
// With an event hook, no wait on the driver is longer than this, so the front end's event loop
// runs at least this often during a wait.
constexpr uint32_t kEventSliceMs = 10;

// Sends one frame (destination address first) on an open adapter through the SendSlot at
// SendIndex. A frame shorter than 60 bytes is sent as 60, the extra bytes taken from the caller's
// buffer, which must therefore hold at least 60. 1 = sent; 0 = refused (over 1514 bytes, or the
// adapter is not open: nothing changes) or the driver could not send it. FramesSent and BytesSent
// move before the send, whatever its outcome.
int32_t SendFrame(AdapterSet& set, DeviceSummaries& summaries, int adapter, const uint8_t* frame,
                  uint16_t length);

// Takes the stored frame of the adapter's lowest slot: status 259, its indices written,
// FramesReceived and BytesReceived moved. When no slot holds a stored frame, the frames the driver
// holds are first pulled into the posted slots, lowest first, each cut to 1500 bytes. The frame
// stays in the slot until RearmReceiveSlot. nullptr when nothing is stored.
ReceivePacket* TakeReceivedFrame(AdapterSet& set, DeviceSummaries& summaries, int adapter);

// Posts the read of the slot that TakeReceivedFrame took again. 1, or 0 for a packet that is not
// a taken slot of this set.
int32_t RearmReceiveSlot(AdapterSet& set, ReceivePacket* packet);

struct WaitHooks {
  // The confirmation dispatcher: takes at most one frame of the adapter (through
  // TakeReceivedFrame), handles it in place and returns it, or nullptr.
  ReceivePacket* (*dispatch)(void* context, int adapter) = nullptr;
  void* context = nullptr;
  // Fixed-length waits: the early end below is off.
  bool full_waits = false;
  // Set by a handler once the confirmation this wait is for has been accepted; may be null.
  const bool* awaited_accepted = nullptr;
  // Hands control to the front end's event loop for a moment; may be null (plain waits).
  void (*yield)(void* context) = nullptr;
};

// The transport's half of the station's WaitForResponses: feeds every frame that arrives on the
// adapter for timeout_ms to the dispatcher and copies each one (at most 1500 bytes) to
// destination, which keeps the last. 1 when at least one frame was taken, else 0 (destination
// unchanged). Sleeps on the driver between frames; correct across a
// wrap of the tick count. May run nested inside a dispatch on the same adapter.
uint8_t PumpFrames(AdapterSet& set, Clock& clock, int adapter, uint32_t timeout_ms,
                   uint8_t* destination, const WaitHooks& hooks);

// One wait of timeout_ms on several adapters at once, sleeping on all of them together: each
// pass hands at most one frame of every adapter still waiting to the dispatcher, lowest index
// first. An adapter whose accepted[adapter] is set (unless full waits) has had its answer and
// leaves the wait; the wait ends once none is left. taken[adapter] := 1 for every adapter from
// which at least one frame was taken (the others are left as they are). hooks.awaited_accepted
// is not used.
void WaitForResponsesOnAll(AdapterSet& set, Clock& clock, std::span<const int> adapters,
                           uint32_t timeout_ms, uint8_t* destination, const WaitHooks& hooks,
                           const std::array<bool, kMaxAdapters>& accepted,
                           std::array<uint8_t, kMaxAdapters>& taken);

}  // namespace stampwright
