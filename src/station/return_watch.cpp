#include "station/return_watch.h"

#include <algorithm>
#include <optional>

#include "protocol/management_message.h"
#include "protocol/requests.h"
#include "resources/controls.h"
#include "station/dispatcher.h"
#include "station/journal_link.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

// What answers after the unit went away may be another unit cabled meanwhile: it is read as
// after a scan that found no device.
void ForgetUnitRead(StationCore& station) {
  station.AutoReadDone = 0;
  station.page.Enable(kBurnButton, false);
}

// One watch step's view of what came in.
struct StepContext {
  StationCore* station = nullptr;
  bool heard_unit = false;        // any unit answered the query on the watched adapter
  bool answered_as_burned = false;
  bool answered_otherwise = false;  // handed to the dispatcher under another MAC
  bool in_grace = false;
};

ReceivePacket* DispatchWatched(void* context, int adapter) {
  StepContext& step = *static_cast<StepContext*>(context);
  StationCore& station = *step.station;
  ReceivePacket* packet = TakeReceivedFrame(station.adapters, station.summaries, adapter);
  if (packet == nullptr) return nullptr;
  const FrameReader frame(packet->frame, std::min<size_t>(packet->length, sizeof packet->frame));
  const std::optional<MessageHeader> header = ReadMessageHeader(frame);
  const bool version_answer = header && header->mmtype == kVsVerQueryCnf &&
                              header->destination == station.adapters.records[adapter].AdapterMac &&
                              header->source != header->destination;
  if (version_answer) {
    step.heard_unit = true;
    if (header->source == station.BurnedMac) {
      step.answered_as_burned = true;
    } else if (step.in_grace) {
      // Still the unit before its restart: not its verdict yet.
      return packet;
    } else {
      step.answered_otherwise = true;
      if (station.return_watch.went_quiet) ForgetUnitRead(station);
    }
  }
  HandleReceivedFrame(station, adapter, *packet);
  return packet;
}

}  // namespace

void StartReturnWatch(StationCore& station) {
  if (station.settings.classic) return;
  ReturnWatch& watch = station.return_watch;
  SetBasePhase(station, StationPhase::kRestarting);
  watch.adapter = station.adapters.CurrentAdapter;
  watch.started = station.clock.TickCount();
  watch.went_quiet = false;
  station.verify_return = true;
  station.timer.Start(kReturnQueryIntervalMs);
}

bool ReturnWatchActive(const StationCore& station) {
  return station.base_phase == StationPhase::kRestarting;
}

void EndReturnWatch(StationCore& station) {
  if (!ReturnWatchActive(station)) return;
  SetBasePhase(station, station.unit_present ? StationPhase::kReady : StationPhase::kNoUnit);
  StartScanTimer(station);
}

void ReturnWatchStep(StationCore& station) {
  ReturnWatch& watch = station.return_watch;
  const int adapter = watch.adapter;
  const uint32_t elapsed = ElapsedMs(watch.started, station.clock.TickCount());
  if (elapsed >= kReturnWatchMs || !IsAdapterOpen(station.adapters, adapter)) {
    // The scan cycle takes over at once; its tick records a unit that never came back.
    if (watch.went_quiet) ForgetUnitRead(station);
    EndReturnWatch(station);
    ScanTick(station);
    return;
  }

  // Every answer is handled in full: the dispatcher otherwise takes one per adapter until the
  // next query pass.
  station.VersionAnswered[adapter] = 0;
  MessageContext messages = station.Messages();
  SendVersionQuery(messages, adapter);

  StepContext step;
  step.station = &station;
  step.in_grace = !watch.went_quiet && elapsed < kRestartGraceMs;
  {
    bool accepted = false;
    const AwaitedScope scope(station, &accepted);
    WaitHooks hooks;
    hooks.dispatch = &DispatchWatched;
    hooks.context = &step;
    hooks.awaited_accepted = &step.answered_as_burned;
    if (station.yield_to_events) hooks.yield = [](void* context) {
      YieldToEvents(*static_cast<StepContext*>(context)->station);
    };
    PumpFrames(station.adapters, station.clock, adapter, kReturnQueryWaitMs,
               station.response_buffer.data(), hooks);
  }

  if (!step.heard_unit && !watch.went_quiet) {
    // The unit is away: until it is back and verified, or read again, there is nothing to burn.
    watch.went_quiet = true;
    station.page.Enable(kBurnButton, false);
  }
  // A verdict was given ("Success" or "Verify failed", both clear CommitConfirmed), or the unit
  // came back as something else: the scan cycle goes on from here.
  if (station.CommitConfirmed != 1 || step.answered_otherwise) EndReturnWatch(station);
}

}  // namespace stampwright
