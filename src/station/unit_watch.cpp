#include "station/unit_watch.h"

#include <algorithm>
#include <optional>

#include "protocol/confirmations.h"
#include "protocol/management_message.h"
#include "protocol/requests.h"
#include "station/dispatcher.h"
#include "station/station_core.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

// What one watched wait is after: each version confirmation the dispatcher took in full.
struct Watch {
  StationCore* station = nullptr;
  std::vector<AnsweringUnit>* units = nullptr;  // collects every unit, when set
  std::optional<MacAddress> wanted;             // ends the wait once this one answered
  bool found = false;
};

ReceivePacket* DispatchWatched(void* context, int adapter) {
  Watch& watch = *static_cast<Watch*>(context);
  StationCore& station = *watch.station;
  // Every confirmation handled in full: the dispatcher takes only the first per adapter as the
  // unit otherwise.
  station.VersionAnswered[adapter] = 0;
  ReceivePacket* packet = DispatchConfirmation(station, adapter);
  if (packet == nullptr) return nullptr;
  const FrameReader frame(packet->frame, std::min<size_t>(packet->length, sizeof packet->frame));
  const std::optional<MessageHeader> header = ReadMessageHeader(frame);
  const AdapterRecord& record = station.adapters.records[adapter];
  // Taken in full: counted, and the record now names this unit.
  if (!header || header->mmtype != kVsVerQueryCnf || station.VersionAnswered[adapter] == 0 ||
      record.DeviceMac != header->source) {
    return packet;
  }
  if (watch.units != nullptr &&
      std::none_of(watch.units->begin(), watch.units->end(),
                   [&](const AnsweringUnit& unit) { return unit.mac == header->source; })) {
    const std::optional<VersionConfirmation> version = ParseVersionConfirmation(frame);
    watch.units->push_back(AnsweringUnit{header->source, version ? version->chip_type : uint8_t{0},
                                         std::string(record.FirmwareVersion)});
  }
  if (watch.wanted && *watch.wanted == header->source) watch.found = true;
  return packet;
}

// The station's wait with the watch in the dispatcher's place; it has its own early-end flag,
// as every wait of the station has.
void WatchedWait(StationCore& station, int adapter, uint32_t timeout_ms, Watch& watch) {
  bool accepted = false;
  bool* const outer = station.awaited_accepted;
  station.awaited_accepted = &accepted;
  WaitHooks hooks;
  hooks.dispatch = &DispatchWatched;
  hooks.context = &watch;
  hooks.awaited_accepted = watch.wanted ? &watch.found : nullptr;
  PumpFrames(station.adapters, station.clock, adapter, timeout_ms,
                   station.response_buffer.data(), hooks);
  station.awaited_accepted = outer;
}

// The dispatcher takes a unit's identity only from a confirmation addressed to the adapter's
// MAC as the summary holds it, which a discovery fills.
void PrepareAdapter(StationCore& station, int adapter) {
  station.summaries[adapter].AdapterMac = station.adapters.records[adapter].AdapterMac;
}

}  // namespace

std::vector<AnsweringUnit> ListAnsweringUnits(StationCore& station, int adapter, uint32_t timeout_ms) {
  std::vector<AnsweringUnit> units;
  if (!IsAdapterOpen(station.adapters, adapter)) return units;
  PrepareAdapter(station, adapter);
  MessageContext messages = station.Messages();
  SendVersionQuery(messages, adapter);
  Watch watch;
  watch.station = &station;
  watch.units = &units;
  WatchedWait(station, adapter, timeout_ms, watch);
  return units;
}

bool WaitForUnitAnswer(StationCore& station, int adapter, const MacAddress& mac, uint32_t timeout_ms) {
  if (!IsAdapterOpen(station.adapters, adapter)) return false;
  PrepareAdapter(station, adapter);
  Watch watch;
  watch.station = &station;
  watch.wanted = mac;
  const uint32_t start = station.clock.TickCount();
  for (;;) {
    const uint32_t elapsed = ElapsedMs(start, station.clock.TickCount());
    if (elapsed >= timeout_ms) return false;
    MessageContext messages = station.Messages();
    SendVersionQuery(messages, adapter);
    WatchedWait(station, adapter, std::min(kUnitQueryIntervalMs, timeout_ms - elapsed), watch);
    if (watch.found) return true;
  }
}

}  // namespace stampwright
