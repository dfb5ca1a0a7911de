#include "station/station_wait.h"

#include "station/station.h"
#include "station/dispatcher.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

ReceivePacket* Dispatch(void* context, int adapter) {
  return DispatchConfirmation(*static_cast<Station*>(context), adapter);
}

}  // namespace

uint8_t WaitForResponses(Station& station, int adapter, uint32_t timeout_ms) {
  bool accepted = false;
  bool* const outer = station.awaited_accepted;
  station.awaited_accepted = &accepted;
  WaitHooks hooks;
  hooks.dispatch = &Dispatch;
  hooks.context = &station;
  hooks.full_waits = station.settings.full_waits;
  hooks.awaited_accepted = &accepted;
  const uint8_t result = PumpFrames(station.adapters, station.clock, adapter, timeout_ms,
                                    station.response_buffer.data(), hooks);
  station.awaited_accepted = outer;
  return result;
}

}  // namespace stampwright
