#pragma once

#include <cstdint>

namespace stampwright {

struct Station;

constexpr const char* kDefaultNetworkPassword = "DefaultNPW";
constexpr uint32_t kBurnSettleMs = 200;

// A hexadecimal digit's value; any other character gives its own character code.
int HexDigitValue(char c);

// Writes the looked-up unit into the image (carrier table, NMK, DAK, MAC, checksum), sends it in
// chunks and has the unit commit it once every byte was confirmed.
void BurnDevice(Station& station);

// Has the unit commit the module just written. Always true, answered or not.
bool CommitModule(Station& station, uint8_t module_id);

}  // namespace stampwright
