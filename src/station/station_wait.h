#pragma once

#include <cstdint>

namespace stampwright {

struct Station;

// The wait that follows every request: feeds what arrives on the adapter to the confirmation
// dispatcher for timeout_ms, or until the awaited confirmation has been accepted (unless the
// station keeps full waits). Each call has its own early-end flag, so a wait nested inside the
// handling of a frame neither ends the outer wait nor is ended by it.
uint8_t WaitForResponses(Station& station, int adapter, uint32_t timeout_ms);

}  // namespace stampwright
