#pragma once

#include <cstdint>

namespace stampwright {

struct StationCore;

// The wait that follows every request: feeds what arrives on the adapter to the confirmation
// dispatcher for timeout_ms, or until the awaited confirmation has been accepted (unless the
// station keeps full waits). Each call has its own early-end flag, so a wait nested inside the
// handling of a frame neither ends the outer wait nor is ended by it.
uint8_t WaitForResponses(StationCore& station, int adapter, uint32_t timeout_ms);

// A sleep of the station's clock that lets the front end's event loop run at least every
// kEventSliceMs (a plain sleep under classic timing or without a front end).
void StationSleep(StationCore& station, uint32_t ms);

// The wait hooks' event-loop entry for a station context.
void YieldHook(void* station);

}  // namespace stampwright
