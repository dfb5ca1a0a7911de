#include "station/firmware_upgrade.h"

#include <cstring>
#include <memory>
#include <optional>

#include "station/station_core.h"
#include "base/text.h"
#include "base/work_directory.h"
#include "programming/firmware_file.h"
#include "station/attempts.h"
#include "station/burn.h"
#include "station/chunk_loop.h"
#include "protocol/requests.h"
#include "station/station_wait.h"
#include "resources/controls.h"

namespace stampwright {

bool WriteFirmwareImage(StationCore& station, const uint8_t* data, size_t length) {
  TransferRegisters& registers = station.registers;
  const auto total = static_cast<uint32_t>(length);
  RunChunkLoop(station, registers.WriteTransferOffset, total, 1,
               [data, length](MessageContext& messages, int adapter, uint32_t offset,
                              uint32_t chunk) {
                 SendWriteFirmware(messages, adapter, offset, chunk, kModuleIdFirmware, data,
                                   length);
               });
  return registers.WriteTransferOffset == total;
}

bool UpgradeFirmware(StationCore& station) {
  const PhaseScope upgrading(station, StationPhase::kUpgrading);
  Page& page = station.page;
  station.firmware_path.fill(0);
  FileDialogRequest request;
  request.filters = {{"NVM Files(*.nvm)", "*.nvm"}};
  request.filter_index = 1;
  request.flags = kOfnPathMustExist | kOfnFileMustExist;
  request.max_path = kPathBufferSize;
  const std::optional<std::string> path = page.OpenFileDialog(request);
  if (!path || path->size() >= kPathBufferSize) return false;
  std::memcpy(station.firmware_path.data(), path->data(), path->size());
  page.SetText(kFirmwarePathEdit, *path);

  // The FirmwareImage lives for one upgrade and is released on every way out.
  auto image = std::make_unique<uint8_t[]>(kFirmwareImageSize);
  size_t length = 0;
  if (ReadFirmwareFile(InDirectory(station.settings.workdir, *path), image.get(), &length) !=
      FirmwareReadResult::kOk) {
    page.MessageBox("Error opening file", "Firmware File", kMbIconError);
    return false;
  }
  page.SetText(kStatusLine, FormatText("File bytes: %d", static_cast<int>(length)));
  if (!BeginFirmwareAttempt(station, *path, image.get(), length)) return true;
  // Committing an empty firmware would leave the unit without one.
  if (length == 0) {
    EndFirmwareTransfer(station, false, false);
    return true;
  }

  const bool written = WriteFirmwareImage(station, image.get(), length);
  image.reset();

  const bool all_confirmed = written;
  if (all_confirmed) {
    page.SetText(kStatusLine, "FW Write Module - OK");
    CommitModule(station, kModuleIdFirmware);
  }
  // As for the burn: this commit's answer is its own, CommitConfirmed may be older.
  EndFirmwareTransfer(station, all_confirmed, all_confirmed && station.commit_answered);
  return true;
}

}  // namespace stampwright
