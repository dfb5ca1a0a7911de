#include "station/discovery.h"

#include <string>

#include "station/station.h"
#include "protocol/requests.h"
#include "resources/controls.h"
#include "station/station_wait.h"

namespace stampwright {
namespace {

bool SamePair(const AnsweringUnits& a, const AnsweringUnits& b) {
  if (a.count != b.count) return false;
  return (a.first == b.first && a.second == b.second) ||
         (a.first == b.second && a.second == b.first);
}

// Two units answering on one adapter (a switch, a bridge, a second unit cabled by mistake) are
// never read or burned: either could take the other's identity. The box is shown once for each
// pair; one unit answering alone clears it, and the automatic read then runs afresh.
void ReportSeveralUnits(Station& station) {
  for (int i = 0; i < station.adapters.AdapterCount; ++i) {
    const AnsweringUnits& now = station.answering[i];
    AnsweringUnits& shown = station.reported_units[i];
    if (now.count < 2) {
      shown = {};
      continue;
    }
    station.AutoReadDone = 0;
    station.page.SetText(kStatusLine, "More than one unit on this adapter");
    station.page.Enable(kBurnButton, false);
    if (SamePair(now, shown)) continue;
    shown = now;
    // "Units %s and %s answer on adapter %s: connect one unit only.", longer than the 79
    // characters of a status text, so not through FormatText.
    const std::string text = "Units " + now.first.ToString() + " and " + now.second.ToString() +
                             " answer on adapter " + station.adapters.records[i].AdapterName +
                             ": connect one unit only.";
    station.page.MessageBox(text, "Mac Burn", kMbIconWarning);
  }
}

}  // namespace

bool QueryAllAdapters(Station& station) {
  station.VersionAnswered.fill(0);
  station.answering.fill({});
  station.query_pass_active = true;
  MessageContext messages = station.Messages();
  for (int i = 0; i < station.adapters.AdapterCount; ++i) {
    for (int t = 0; t < kVersionQueryTries; ++t) {
      SendVersionQuery(messages, i);
      station.clock.Sleep(2);
      const uint32_t wait_ms = 50 + 100 * static_cast<uint32_t>(t);
      if (WaitForResponses(station, i, wait_ms) != 0) break;
    }
  }
  station.query_pass_active = false;
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
  ReportSeveralUnits(station);
  return found;
}

}  // namespace stampwright
