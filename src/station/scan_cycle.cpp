#include "station/scan_cycle.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "station/attempts.h"
#include "station/station_core.h"
#include "station/module_read.h"
#include "station/discovery.h"
#include "station/page_procedure.h"
#include "station/return_watch.h"
#include "resources/controls.h"

namespace stampwright {
namespace {

bool CurrentAdapterPresent(const StationCore& station) {
  const int current = station.adapters.CurrentAdapter;
  if (current < 0 || current >= kMaxAdapters) return false;
  return station.adapters.records[current].DevicePresent != 0;
}

}  // namespace

void DeriveAutoScanSuspended(StationCore& station, int16_t auto_scan) {
  station.AutoScanSuspended = auto_scan == 0 ? 1 : 0;
}

void SetAutoScanSuspended(StationCore& station) { station.AutoScanSuspended = 1; }

void StartScanTimer(StationCore& station) {
  station.timer.Start(ReturnWatchActive(station) ? kReturnQueryIntervalMs : kScanIntervalMs);
}

void SetScanText(StationCore& station, std::string_view text) {
  station.page.SetText(kScanField, text);
}

void SetConnectionText(StationCore& station, std::string_view text) {
  station.page.SetText(kConnectionField, text);
  // The unit came or went: told once per change, not per tick.
  const bool present = text == "Connected";
  if (present != station.unit_present) {
    station.unit_present = present;
    if (station.on_unit) station.on_unit(present);
  }
  // While the burned unit is awaited, its going quiet is its restart, not its leaving.
  if (station.base_phase != StationPhase::kRestarting) {
    SetBasePhase(station, present ? StationPhase::kReady : StationPhase::kNoUnit);
  }
}

void ScanTick(StationCore& station) {
  // A journal that could not be opened is tried again; a line's journal reconnects, refreshes
  // its leases and forwards its outbox on the tick.
  if (ReopenJournal(station.journal)) station.journal.journal->Poll();
  CheckReturnDeadline(station);
  if (station.AutoScanSuspended == 0) {
    if (station.shown.ticks < LONG_MAX) ++station.shown.ticks;
    station.page.SetText(kTickCounter, std::to_string(station.shown.ticks));
  }
  if (ScanNow(station)) return;
  station.shown.firmware.clear();
  station.shown.chip.clear();
  station.page.SetText(kFirmwareVersionField, "");
  station.page.SetText(kChipModelField, "");
  RefreshConnection(station);
  station.shown.mac.clear();
  station.page.SetText(kMacField, "");
  station.page.SetText(kStatusLine, "No Device");
  station.page.Enable(kBurnButton, false);
}

bool ScanNow(StationCore& station) {
  SetScanText(station, " Scanning...");
  const int16_t auto_scan = station.preferences.AutoScan;
  const bool found = RescanDevices(station, auto_scan);
  if (!found) CloseAllAdapters(station.adapters);
  SetScanText(station, auto_scan != 0 ? "Autoscan On" : "Autoscan Off");
  return found;
}

bool RescanDevices(StationCore& station, int16_t auto_scan) {
  CloseAllAdapters(station.adapters);
  const bool found = DiscoverDevices(station);
  DeriveAutoScanSuspended(station, auto_scan);
  if (found) StartScanTimer(station);
  return found;
}

void RefreshConnection(StationCore& station) {
  const char* text;
  if (CurrentAdapterPresent(station)) {
    // The unit is there before its automatic read begins.
    if (station.base_phase == StationPhase::kNoUnit) SetBasePhase(station, StationPhase::kReady);
    if (station.AutoReadDone == 0) {
      ReadModule(station);
      station.AutoReadDone = 1;
      // The next thing the operator does is scan the unit's MAC.
      station.page.SetFocus(kNewMacEdit);
    }
    text = "Connected";
  } else {
    station.AutoReadDone = 0;
    text = "Not Connected";
  }
  SetConnectionText(station, text);
}

void ShowConnection(StationCore& station) {
  SetConnectionText(station, CurrentAdapterPresent(station) ? "Connected" : "Not Connected");
}

void OnScanTimer(StationCore& station) {
  if (station.operation_depth > 0) {
    station.tick_pending = true;
    return;
  }
  DeviceOperation operation(station);
  TimerExpired(station);
}

void TimerExpired(StationCore& station) {
  if (ReturnWatchActive(station)) {
    ReturnWatchStep(station);
  } else {
    ScanTick(station);
  }
}

DeviceOperation::DeviceOperation(StationCore& station) : station_(station) {
  ++station_.operation_depth;
}

DeviceOperation::~DeviceOperation() {
  if (station_.operation_depth > 1) {
    --station_.operation_depth;
    return;
  }
  // Still counted as busy while what was held back runs, so that anything arriving meanwhile is
  // held back again. A close ends it all: what is still queued is dropped.
  for (;;) {
    if (station_.close_pending) {
      std::function<void()> close = std::move(station_.close_pending);
      station_.close_pending = nullptr;
      station_.queued_commands.clear();
      station_.tick_pending = false;
      station_.operation_depth = 0;
      close();
      return;
    }
    if (!station_.queued_commands.empty()) {
      const int id = station_.queued_commands.front();
      station_.queued_commands.pop_front();
      RunPageCommand(station_, id);
      continue;
    }
    if (station_.tick_pending) {
      station_.tick_pending = false;
      TimerExpired(station_);
      continue;
    }
    break;
  }
  station_.operation_depth = 0;
}

}  // namespace stampwright
