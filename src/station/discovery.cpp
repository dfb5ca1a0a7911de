#include "station/discovery.h"

#include "station/station.h"
#include "protocol/requests.h"
#include "station/station_wait.h"

namespace stampwright {

bool QueryAllAdapters(Station& station) {
  station.VersionAnswered.fill(0);
  MessageContext messages = station.Messages();
  for (int i = 0; i < station.adapters.AdapterCount; ++i) {
    for (int t = 0; t < kVersionQueryTries; ++t) {
      SendVersionQuery(messages, i);
      station.clock.Sleep(2);
      const uint32_t wait_ms = 50 + 100 * static_cast<uint32_t>(t);
      if (WaitForResponses(station, i, wait_ms) != 0) break;
    }
  }
  for (int i = 0; i < station.adapters.AdapterCount; ++i) {
    if (station.adapters.records[i].DevicePresent != 0) return true;
  }
  return false;
}

bool DiscoverDevices(Station& station) {
  AdapterSet& adapters = station.adapters;
  CloseAllAdapters(adapters);
  ClearPresence(adapters);
  OpenAllAdapters(adapters);
  const bool found = QueryAllAdapters(station);
  for (int i = 0; i < adapters.AdapterCount; ++i) {
    const AdapterRecord& record = adapters.records[i];
    DeviceSummary& summary = station.summaries[i];
    summary.AdapterMac = record.AdapterMac;
    summary.Present = record.DevicePresent;
    if (record.DevicePresent != 0) summary.DeviceMac = record.DeviceMac;
  }
  return found;
}

}  // namespace stampwright
