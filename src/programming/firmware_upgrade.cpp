#include "programming/firmware_upgrade.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "app/station.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "programming/burn.h"
#include "programming/chunk_loop.h"
#include "protocol/requests.h"
#include "protocol/station_wait.h"
#include "resources/controls.h"

namespace stampwright {

FirmwareReadResult ReadFirmwareFile(const std::string& path, uint8_t* image, size_t* length) {
  *length = 0;
  OpenResult opened;
  const FileHandle file = OpenRegularFile(path, "rb", &opened);
  if (opened == OpenResult::kNotARegularFile) return FirmwareReadResult::kNotAFile;
  if (!file) return FirmwareReadResult::kCannotOpen;
  size_t total = 0;
  while (total < kFirmwareImageSize) {
    const size_t piece = std::min(kFirmwareReadPiece, kFirmwareImageSize - total);
    const size_t n = std::fread(image + total, 1, piece, file.get());
    total += n;
    if (n == 0) break;
  }
  if (std::ferror(file.get())) return FirmwareReadResult::kReadError;
  if (total == kFirmwareImageSize && std::fgetc(file.get()) != EOF) {
    return FirmwareReadResult::kTooLarge;
  }
  if (std::ferror(file.get())) return FirmwareReadResult::kReadError;
  *length = total;
  return FirmwareReadResult::kOk;
}

bool UpgradeFirmware(Station& station) {
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
  if (ReadFirmwareFile(*path, image.get(), &length) != FirmwareReadResult::kOk) {
    page.MessageBox("Error opening file", "Firmware File", kMbIconError);
    return false;
  }
  page.SetText(kStatusLine, FormatText("File bytes: %d", static_cast<int>(length)));
  // Committing an empty firmware would leave the unit without one.
  if (length == 0) return true;

  TransferRegisters& registers = station.registers;
  const auto total = static_cast<uint32_t>(length);
  const uint8_t* const data = image.get();
  RunChunkLoop(station, registers.WriteTransferOffset, total, 1,
               [data, length](MessageContext& messages, int adapter, uint32_t offset,
                              uint32_t chunk) {
                 SendWriteFirmware(messages, adapter, offset, chunk, kModuleIdFirmware, data,
                                   length);
               });
  image.reset();

  if (registers.WriteTransferOffset == total) {
    page.SetText(kStatusLine, "FW Write Module - OK");
    CommitModule(station, kModuleIdFirmware);
  }
  return true;
}

}  // namespace stampwright
