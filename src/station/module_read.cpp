#include "station/module_read.h"

#include <utility>

#include "station/station_core.h"
#include "base/text.h"
#include "programming/carrier_table.h"
#include "station/chunk_loop.h"
#include "protocol/requests.h"
#include "station/station_wait.h"
#include "resources/controls.h"

namespace stampwright {

const char kReadWarningTextA[] = "Not PX300 Class B, Please change!!";
const char kReadWarningTextB[] = "\xA4\xA3\xAC\x4F PX100 Class B, \xBD\xD0\xA7\xF3\xB4\xAB!!";
const char kReadModuleCaption[] = "Read Module";

namespace {

constexpr uint32_t kWarningType = kMbIconError;
constexpr uint32_t kWarningTypeOther = kMbIconError | kMbSystemModal;

void ShowWarning(StationCore& station, const char* text, uint32_t type) {
  if (station.WarningShown) return;
  station.WarningShown = true;
  if (station.page.MessageBox(text, kReadModuleCaption, type) == kIdOk) {
    station.WarningShown = false;
  }
}

}  // namespace

void IdentifyChip(StationCore& station) {
  Page& page = station.page;
  const bool px300_selected = page.IsChecked(kPx300Radio);
  const bool px100_selected = page.IsChecked(kPx100Radio);
  switch (IdentifyCarrierTable(station.module)) {
    case ChipModel::kPx300:
      station.shown.module_class = "PX300 Class B";
      page.SetText(kStatusLine, "Read Module OK - PX300 Class B");
      if (px100_selected) {
        ShowWarning(station, kReadWarningTextB, kWarningType);
      } else {
        page.Enable(kBurnButton, true);
      }
      break;
    case ChipModel::kPx100:
      station.shown.module_class = "PX100 Class B";
      page.SetText(kStatusLine, "Read Module OK - PX100 Class B");
      if (px300_selected) {
        ShowWarning(station, kReadWarningTextA, kWarningType);
      } else {
        page.Enable(kBurnButton, true);
      }
      break;
    case ChipModel::kNone:
      station.shown.module_class = "Other";
      page.SetText(kStatusLine, "Read Module OK - Other");
      ShowWarning(station, px100_selected ? kReadWarningTextB : kReadWarningTextA,
                  kWarningTypeOther);
      break;
  }
}

bool ReadModuleImage(StationCore& station, ParameterModule& into, bool quiet) {
  TransferRegisters& registers = station.registers;
  constexpr auto kTotal = static_cast<uint32_t>(kModuleSize);
  Page& page = station.page;
  // The dispatcher stores what arrives in the station's image: lend it the destination for the
  // loop and give both back afterwards.
  const bool separate = &into != &station.module;
  if (separate) std::swap(station.module, into);
  const bool outer_quiet = station.quiet_read;
  station.quiet_read = quiet;
  RunChunkLoop(station, registers.ReadTransferOffset, kTotal, 2,
               [&page, quiet](MessageContext& messages, int adapter, uint32_t offset,
                              uint32_t length) {
                 if (!quiet) {
                   page.SetText(kStatusLine,
                                FormatText("Read Module - offset: %d", static_cast<int>(offset)));
                 }
                 SendReadModule(messages, adapter, offset, length);
               });
  station.quiet_read = outer_quiet;
  if (separate) std::swap(station.module, into);
  return registers.ReadTransferOffset == kTotal;
}

void ReadModule(StationCore& station) {
  // Two units on one adapter: nothing is read from either until one answers alone.
  if (SeveralUnitsAnswer(station, station.adapters.CurrentAdapter)) return;
  TransferRegisters& registers = station.registers;
  constexpr auto kTotal = static_cast<uint32_t>(kModuleSize);
  station.shown.module_class.clear();
  const PhaseScope reading(station, StationPhase::kReading);
  TellActivity(station, StationActivity::kReading);
  if (!ReadModuleImage(station, station.module)) {
    station.page.SetText(kStatusLine, FormatText("Read Module - offset: %d, Fail",
                                                 static_cast<int>(registers.ReadTransferOffset)));
    return;
  }
  station.page.SetText(kStatusLine,
                       FormatText("Read Module - offset: %d, OK", static_cast<int>(kTotal)));
  TellActivity(station, StationActivity::kRead);
  IdentifyChip(station);
  if (station.on_module_identified) station.on_module_identified();
}

}  // namespace stampwright
