#pragma once

#include <cstddef>
#include <cstdint>

#include "programming/firmware_file.h"

namespace stampwright {

struct StationCore;

// The upgrade's chunk loop alone: length bytes of data (at most kFirmwareImageSize) as module 1
// on the current adapter, no page text of its own. True when every byte was confirmed.
bool WriteFirmwareImage(StationCore& station, const uint8_t* data, size_t length);

// The Browse command: picks a .nvm file, writes it to the unit as module 1 and commits it.
// True once a file was chosen and read, whatever the transfer's outcome.
bool UpgradeFirmware(StationCore& station);

}  // namespace stampwright
