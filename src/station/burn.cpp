#include "station/burn.h"

#include <string>

#include "station/station_core.h"
#include "base/hex.h"
#include "base/text.h"
#include "programming/carrier_table.h"
#include "station/attempts.h"
#include "station/chunk_loop.h"
#include "protocol/requests.h"
#include "station/station_wait.h"
#include "resources/controls.h"

namespace stampwright {
namespace {

constexpr size_t kControlTextChars = 79;

ChipModel SelectedChipModel(const Page& page) {
  if (page.IsChecked(kPx300Radio)) return ChipModel::kPx300;
  if (page.IsChecked(kPx100Radio)) return ChipModel::kPx100;
  return ChipModel::kNone;
}

}  // namespace

bool CommitModule(StationCore& station, uint8_t module_id) {
  station.VersionAnswered.fill(0);
  station.commit_answered = false;
  MessageContext messages = station.Messages();
  const int adapter = station.adapters.CurrentAdapter;
  SendModuleCommit(messages, adapter, module_id);
  station.clock.Sleep(1);
  WaitForResponses(station, adapter, 50);
  station.clock.Sleep(1);
  return true;
}

bool WriteModuleImage(StationCore& station, const ParameterModule& module) {
  TransferRegisters& registers = station.registers;
  constexpr auto kTotal = static_cast<uint32_t>(kModuleSize);
  RunChunkLoop(station, registers.WriteTransferOffset, kTotal, 2,
               [&module, &station](MessageContext& messages, int adapter, uint32_t offset,
                                   uint32_t length) {
                 station.page.SetText(kStatusLine, FormatText("Write Module - offset: %d",
                                                              static_cast<int>(offset)));
                 SendWriteModule(messages, adapter, offset, length, kModuleIdParameter, module);
               });
  return registers.WriteTransferOffset == kTotal;
}

bool BurnDevice(StationCore& station) {
  Page& page = station.page;
  const ChipModel chip = SelectedChipModel(page);
  // The fields as the page holds them: at most kControlTextChars of each.
  const std::string grouped = station.shown.password.substr(0, kControlTextChars);
  const std::string mac_text = station.shown.mac.substr(0, kControlTextChars);
  const BurnKeys keys = ApplyBurnEdits(station.module, chip, mac_text, grouped);
  station.shown.nmk = HexBytes(keys.nmk.data(), keys.nmk.size(), " ");
  station.shown.dak = HexBytes(keys.dak.data(), keys.dak.size(), "");
  page.SetText(kNmkField, station.shown.nmk);
  page.SetText(kDakField, station.shown.dak);
  station.BurnedMac = keys.mac;
  station.verify_failed = false;
  page.SetText(kStatusLine, FormatText("checksum: %08x", keys.checksum));
  // Never burn unrecorded: the attempt is in the journal before the first module frame leaves.
  if (!BeginBurnAttempt(station, keys.checksum)) return false;

  TransferRegisters& registers = station.registers;
  constexpr auto kTotal = static_cast<uint32_t>(kModuleSize);
  station.written_module = station.module;
  WriteModuleImage(station, station.module);

  page.SetText(kStatusLine, FormatText("Write Module - offset: %d",
                                       static_cast<int>(registers.WriteTransferOffset)));
  const bool all_confirmed = registers.WriteTransferOffset == kTotal;
  if (all_confirmed) {
    page.SetText(kStatusLine, "Write Module - OK");
    const PhaseScope committing(station, StationPhase::kCommitting);
    CommitModule(station, kModuleIdParameter);
  }
  // CommitConfirmed may still be set by an earlier burn; this commit's answer is its own.
  const bool commit_confirmed = all_confirmed && station.commit_answered;
  EndBurnTransfer(station, all_confirmed, commit_confirmed);
  StationSleep(station, kBurnSettleMs);
  return commit_confirmed;
}

}  // namespace stampwright
