#include "station/page_procedure.h"

#include <cstring>

#include "station/scan_cycle.h"
#include "station/station.h"
#include "station/attempts.h"
#include "station/burn.h"
#include "station/firmware_upgrade.h"
#include "station/mac_lookup.h"
#include "station/module_read.h"
#include "resources/controls.h"
#include "resources/page_template.h"
#include "settings/state_file.h"

namespace stampwright {

void OnPageCreated(Station& station) {
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

void OnPageActivated(Station& station) {
  DeviceOperation operation(station);
  StartScanTimer(station);
  if (station.preferences.AutoScan == 0) ScanNow(station);
}

void OnPageDeactivated(Station& station) { SaveState(station); }

void OnPageDestroyed(Station& station) {
  EndReturnWatchOnClose(station);
  SaveState(station);
}

void SaveState(Station& station) {
  WriteStateFile(station.preferences.ProductNameText(), station.adapters.CurrentAdapter,
                 station.summaries, station.preferences);
}

void SelectDatabaseFile(Station& station) {
  station.database_path.fill(0);
  const std::optional<std::string> path = station.page.OpenFileDialog(DatabaseFileDialogRequest());
  if (!path || path->size() >= kPathBufferSize) return;
  std::memcpy(station.database_path.data(), path->data(), path->size());
  station.page.SetText(kDbPathEdit, *path);
}

void BurnCommand(Station& station) {
  MacLookupOptions options;
  if (!station.settings.mac_prefix.empty()) options.mac_prefix = station.settings.mac_prefix;
  options.database_path = station.settings.database_file;
  if (RefuseWithoutJournal(station)) return;
  if (!LookupMacRecord(station.page, options)) return RecordLookupFailed(station);
  if (GuardRefuses(station)) return;
  station.arp_flush.Flush();
  station.page.SetText(kStatusLine, "Burning...");
  BurnDevice(station);
}

void OnPageCommand(Station& station, int id) {
  // Commands run one at a time: none may start inside another's message box.
  if (station.operation_depth > 0) return;
  // Not a device operation: scan ticks go on while its dialog is open.
  if (id == kSelectButton) {
    SelectDatabaseFile(station);
    return;
  }
  DeviceOperation operation(station);
  switch (id) {
    case kScanButton:
      ScanNow(station);
      break;
    case kBrowseButton:
      if (!RefuseWithoutJournal(station)) UpgradeFirmware(station);
      break;
    case kBurnButton:
      // Only a read that identified the chip enables Burn: never burn an image not read.
      if (station.page.IsEnabled(kBurnButton)) BurnCommand(station);
      break;
    case kReadButton:
      ReadModule(station);
      break;
    default:
      break;
  }
}

}  // namespace stampwright
