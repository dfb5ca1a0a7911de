#include "station/station_wait.h"

#include "station/station_core.h"
#include "station/dispatcher.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

ReceivePacket* Dispatch(void* context, int adapter) {
  return DispatchConfirmation(*static_cast<StationCore*>(context), adapter);
}

}  // namespace

void YieldHook(void* station) { YieldToEvents(*static_cast<StationCore*>(station)); }

void StationSleep(StationCore& station, uint32_t ms) {
  if (!station.yield_to_events || station.settings.classic) {
    station.clock.Sleep(ms);
    return;
  }
  while (ms > 0) {
    const uint32_t slice = ms < kEventSliceMs ? ms : kEventSliceMs;
    station.clock.Sleep(slice);
    ms -= slice;
    YieldToEvents(station);
  }
}

uint8_t WaitForResponses(StationCore& station, int adapter, uint32_t timeout_ms) {
  // Waits that end early come one after another in a transfer: the loop runs before each too.
  YieldToEvents(station);
  bool accepted = false;
  const AwaitedScope scope(station, &accepted);
  WaitHooks hooks;
  hooks.dispatch = &Dispatch;
  hooks.context = &station;
  hooks.full_waits = FullWaits(station.settings);
  if (station.yield_to_events && !station.settings.classic) hooks.yield = &YieldHook;
  hooks.awaited_accepted = &accepted;
  return PumpFrames(station.adapters, station.clock, adapter, timeout_ms,
                    station.response_buffer.data(), hooks);
}

}  // namespace stampwright
