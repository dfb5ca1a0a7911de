#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/mac_address.h"

namespace stampwright {

struct StationCore;

// How often the watch for one unit repeats its version query.
constexpr uint32_t kUnitQueryIntervalMs = 250;

// A unit that answered a version query, as the dispatcher took it.
struct AnsweringUnit {
  MacAddress mac;
  uint8_t chip_type = 0;  // as the confirmation carries it: 1 PX100, 2 PX300
  std::string firmware;   // the version text
};

// One broadcast VS_VER_QUERY on the open adapter, then every confirmation for timeout_ms, each
// handed to the station's dispatcher in full (as the first after a commit is): the units whose
// identity it took, once each, in the order they answered. A station whose AutoReadDone is clear
// reads the module of the first, as a scan would.
std::vector<AnsweringUnit> ListAnsweringUnits(StationCore& station, int adapter, uint32_t timeout_ms);

// Repeats the broadcast VS_VER_QUERY every kUnitQueryIntervalMs until the unit answers under
// mac, or timeout_ms have passed. Every version confirmation meanwhile is handled by the
// dispatcher in full (identity, "Success" after a commit). True when the unit answered; the
// dispatcher has then taken it as the adapter's unit (DeviceMac, CurrentAdapter), so the module
// requests that follow go to it.
bool WaitForUnitAnswer(StationCore& station, int adapter, const MacAddress& mac, uint32_t timeout_ms);

}  // namespace stampwright
