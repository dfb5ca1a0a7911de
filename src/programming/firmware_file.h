#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace stampwright {

constexpr size_t kFirmwareImageSize = 542248;  // the largest image the station handles
constexpr size_t kFirmwareReadPiece = 10240;

enum class FirmwareReadResult { kOk, kCannotOpen, kNotAFile, kTooLarge, kReadError };

// Reads a firmware file into image (kFirmwareImageSize bytes) in pieces, never past its end.
// A file larger than the image is refused rather than cut: half a firmware must never go out.
// Only regular files are read: a FIFO without a writer would otherwise hold the page for good.
FirmwareReadResult ReadFirmwareFile(const std::string& path, uint8_t* image, size_t* length);

}  // namespace stampwright
