#pragma once

#include <cstdint>

#include "programming/burn_edits.h"

namespace stampwright {

struct StationCore;

constexpr uint32_t kBurnSettleMs = 200;

// Writes the looked-up unit into the image (ApplyBurnEdits with the page's radio buttons, MAC
// and password fields), sends it in chunks and has the unit commit it once every byte was
// confirmed. True when this commit was confirmed ("Waiting..." shown).
bool BurnDevice(StationCore& station);

// The burn's chunk loop alone: the image as module 2 in VS_WR_MOD chunks on the current adapter.
// True when all 7864 bytes were confirmed.
bool WriteModuleImage(StationCore& station, const ParameterModule& module);

// Has the unit commit the module just written. Always true, answered or not.
bool CommitModule(StationCore& station, uint8_t module_id);

}  // namespace stampwright
