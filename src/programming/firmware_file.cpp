#include "programming/firmware_file.h"

#include <algorithm>
#include <cstdio>

#include "base/regular_file.h"

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

}  // namespace stampwright
