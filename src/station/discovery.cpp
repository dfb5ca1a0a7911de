#include "station/discovery.h"

#include <array>
#include <span>
#include <string>

#include "protocol/requests.h"
#include "resources/controls.h"
#include "station/dispatcher.h"
#include "station/station_core.h"
#include "station/station_wait.h"
#include "transport/frame_exchange.h"

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
void ReportSeveralUnits(StationCore& station) {
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

uint32_t TryWaitMs(int t) { return 50 + 100 * static_cast<uint32_t>(t); }

// One adapter after another, each try waiting on that adapter alone.
void QueryOneByOne(StationCore& station) {
  MessageContext messages = station.Messages();
  for (int i = 0; i < station.adapters.AdapterCount; ++i) {
    for (int t = 0; t < kVersionQueryTries; ++t) {
      SendVersionQuery(messages, i);
      station.clock.Sleep(2);
      if (WaitForResponses(station, i, TryWaitMs(t)) != 0) break;
    }
  }
}

// What each adapter's own wait would hold if the adapters were queried one after another: its
// early-end flag, and the pending request type, which a module read started by its version
// confirmation changes for the rest of that adapter's wait only.
struct SharedWait {
  StationCore* station;
  std::array<bool, kMaxAdapters> accepted{};
  std::array<uint32_t, kMaxAdapters> pending{};
};

ReceivePacket* DispatchFor(void* context, int adapter) {
  SharedWait& wait = *static_cast<SharedWait*>(context);
  StationCore& station = *wait.station;
  const AwaitedScope scope(station, &wait.accepted[adapter]);
  station.registers.PendingRequestType = wait.pending[adapter];
  ReceivePacket* packet = DispatchConfirmation(station, adapter);
  wait.pending[adapter] = station.registers.PendingRequestType;
  return packet;
}

void YieldFor(void* context) { YieldToEvents(*static_cast<SharedWait*>(context)->station); }

// Every try goes out on all adapters still trying, and one wait covers them all: a pass costs
// one adapter's time whatever the number of adapters. An adapter that took a frame in a wait
// makes no further tries, as when it is queried alone.
void QueryAllAtOnce(StationCore& station) {
  const int count = station.adapters.AdapterCount;
  if (count <= 0) return;
  MessageContext messages = station.Messages();
  SharedWait wait{&station};
  WaitHooks hooks;
  hooks.dispatch = &DispatchFor;
  hooks.context = &wait;
  hooks.full_waits = FullWaits(station.settings);
  if (station.yield_to_events) hooks.yield = &YieldFor;

  std::array<bool, kMaxAdapters> trying{};
  for (int i = 0; i < count && i < kMaxAdapters; ++i) trying[i] = true;
  for (int t = 0; t < kVersionQueryTries; ++t) {
    std::array<int, kMaxAdapters> asked{};
    size_t asked_count = 0;
    for (int i = 0; i < count && i < kMaxAdapters; ++i) {
      if (!trying[i]) continue;
      SendVersionQuery(messages, i);
      wait.pending[i] = station.registers.PendingRequestType;
      wait.accepted[i] = false;
      asked[asked_count++] = i;
    }
    if (asked_count == 0) break;
    StationSleep(station, 2);
    std::array<uint8_t, kMaxAdapters> taken{};
    WaitForResponsesOnAll(station.adapters, station.clock, std::span(asked.data(), asked_count),
                          TryWaitMs(t), station.response_buffer.data(), hooks, wait.accepted,
                          taken);
    for (size_t k = 0; k < asked_count; ++k) {
      if (taken[asked[k]] != 0) trying[asked[k]] = false;
    }
  }
  // As after the last adapter's wait when they are queried in turn.
  station.registers.PendingRequestType = wait.pending[count - 1];
}

}  // namespace

bool QueryAllAdapters(StationCore& station) {
  station.VersionAnswered.fill(0);
  station.answering.fill({});
  station.query_pass_active = true;
  if (station.settings.classic) {
    QueryOneByOne(station);
  } else {
    QueryAllAtOnce(station);
  }
  station.query_pass_active = false;
  for (int i = 0; i < station.adapters.AdapterCount; ++i) {
    if (station.adapters.records[i].DevicePresent != 0) return true;
  }
  return false;
}

bool DiscoverDevices(StationCore& station) {
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
