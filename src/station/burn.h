#pragma once

#include <cstdint>

#include "programming/burn_edits.h"

namespace stampwright {

struct Station;

constexpr uint32_t kBurnSettleMs = 200;

// Writes the looked-up unit into the image (ApplyBurnEdits with the page's radio buttons, MAC
// and password fields), sends it in chunks and has the unit commit it once every byte was
// confirmed.
void BurnDevice(Station& station);

// Has the unit commit the module just written. Always true, answered or not.
bool CommitModule(Station& station, uint8_t module_id);

}  // namespace stampwright
