#pragma once

#include "programming/firmware_file.h"

namespace stampwright {

struct Station;

// The Browse command: picks a .nvm file, writes it to the unit as module 1 and commits it.
// True once a file was chosen and read, whatever the transfer's outcome.
bool UpgradeFirmware(Station& station);

}  // namespace stampwright
