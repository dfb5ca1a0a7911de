#pragma once

#include <string_view>

namespace stampwright {

// What a station is doing, in one word: the operation under way (the innermost when one runs
// inside another, as the read-back inside a return), else whether a unit is there or the burned
// unit is awaited.
enum class StationPhase {
  kNoUnit,      // no unit answers on the adapter
  kReady,       // a unit answers; nothing runs
  kReading,     // its module is being read
  kBurning,     // a Burn: lookup, guard, the image written
  kCommitting,  // the image is being committed to flash
  kRestarting,  // the burned unit is awaited under its new MAC
  kVerifying,   // the returned unit's module is read back and compared
  kUpgrading,   // a firmware image is being written
};

std::string_view PhaseName(StationPhase phase);

}  // namespace stampwright
