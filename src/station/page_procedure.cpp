#include "station/page_procedure.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "station/attempts.h"
#include "station/burn.h"
#include "station/firmware_upgrade.h"
#include "station/mac_lookup.h"
#include "station/module_read.h"
#include "station/return_watch.h"
#include "resources/controls.h"
#include "resources/page_template.h"
#include "settings/state_file.h"

namespace stampwright {

void OnPageCreated(StationCore& station) {
  DeviceOperation operation(station);
  station.database_path.fill(0);
  SetAutoScanSuspended(station);
  station.page.Check(kPx300Radio, true);
  RescanDevices(station, station.preferences.AutoScan);
  DeriveAutoScanSuspended(station, station.preferences.AutoScan);
  ScanNow(station);
  ShowConnection(station);
  station.page.SetText(kTickCounter, "0");
}

void OnPageActivated(StationCore& station) {
  DeviceOperation operation(station);
  StartScanTimer(station);
  if (station.preferences.AutoScan == 0) ScanNow(station);
}

void OnPageDeactivated(StationCore& station) { SaveState(station); }

void OnPageDestroyed(StationCore& station) {
  EndReturnWatchOnClose(station);
  SaveState(station);
}

void SaveState(StationCore& station) {
  // Each bay keeps a state file of its own; one station without bays keeps today's name.
  std::string name = station.preferences.ProductNameText();
  if (station.settings.bay > 0) name += " bay " + std::to_string(station.settings.bay);
  WriteStateFile(name, station.adapters.CurrentAdapter,
                 station.summaries, station.preferences, station.settings.workdir);
}

void SelectDatabaseFile(StationCore& station) {
  station.database_path.fill(0);
  const std::optional<std::string> path = station.page.OpenFileDialog(DatabaseFileDialogRequest());
  if (!path || path->size() >= kPathBufferSize) return;
  std::memcpy(station.database_path.data(), path->data(), path->size());
  station.page.SetText(kDbPathEdit, *path);
}

void BurnCommand(StationCore& station) {
  if (RefuseWithoutJournal(station)) return;
  if (!LookupLabel(station)) return RecordLookupFailed(station);
  if (GuardRefuses(station)) return;
  station.arp_flush.Flush();
  station.page.SetText(kStatusLine, "Burning...");
  TellActivity(station, StationActivity::kBurning);
  if (BurnDevice(station)) StartReturnWatch(station);
}

namespace {

// Enough for any command pressed while one operation runs; more are clicks nobody meant.
constexpr size_t kQueuedCommandLimit = 8;

bool HasCommand(int id) {
  return id == kSelectButton || id == kScanButton || id == kBrowseButton || id == kBurnButton ||
         id == kReadButton;
}

// A MAC typed or scanned with separators or in lower case is shown as the lookup compares it.
void NormalizeNewMac(Page& page) {
  const std::string typed = page.GetText(kNewMacEdit, kMacEntryScanLength);
  if (const std::optional<std::string> normalized = NormalizedMacEntry(typed)) {
    page.SetText(kNewMacEdit, *normalized);
  }
}

}  // namespace

void OnPageCommand(StationCore& station, int id) {
  if (!HasCommand(id)) return;
  // Commands run one at a time: one pressed meanwhile runs after the operation, never inside it.
  if (station.operation_depth > 0) {
    auto& queue = station.queued_commands;
    if (id == kBurnButton &&
        (InPhase(station, StationPhase::kBurning) ||
         std::find(queue.begin(), queue.end(), id) != queue.end())) {
      return;
    }
    if (queue.size() < kQueuedCommandLimit) queue.push_back(id);
    return;
  }
  // Not a device operation: scan ticks go on while its dialog is open.
  if (id == kSelectButton) {
    SelectDatabaseFile(station);
    return;
  }
  DeviceOperation operation(station);
  RunPageCommand(station, id);
}

void OnCloseRequested(StationCore& station, std::function<void()> close) {
  if (station.operation_depth > 0) {
    station.close_pending = std::move(close);
    return;
  }
  close();
}

void RunPageCommand(StationCore& station, int id) {
  // The operator moved on: a return watch still on gives way to the scan cycle. A Burn that
  // cannot run (a scanner's Enter while the unit restarts) does not end it.
  const bool burn_runs = id == kBurnButton && station.page.IsEnabled(kBurnButton);
  if (id == kScanButton || id == kBrowseButton || id == kReadButton || burn_runs) {
    EndReturnWatch(station);
  }
  switch (id) {
    case kSelectButton:
      SelectDatabaseFile(station);
      break;
    case kScanButton:
      ScanNow(station);
      break;
    case kBrowseButton:
      if (!RefuseWithoutJournal(station)) UpgradeFirmware(station);
      break;
    case kBurnButton:
      // Only a read that identified the chip enables Burn: never burn an image not read.
      if (burn_runs) {
        NormalizeNewMac(station.page);
        {
          const PhaseScope burning(station, StationPhase::kBurning);
          BurnCommand(station);
        }
        // Whatever the outcome, the next scan replaces the MAC instead of adding to it.
        station.page.SelectText(kNewMacEdit);
      }
      break;
    case kReadButton:
      ReadModule(station);
      break;
    default:
      break;
  }
}

}  // namespace stampwright
