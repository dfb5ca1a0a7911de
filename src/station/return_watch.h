#pragma once

#include <cstdint>

namespace stampwright {

struct StationCore;

// How often the burned unit is asked for its version while it restarts, and how long each ask
// waits for the answer.
constexpr uint32_t kReturnQueryIntervalMs = 100;
constexpr uint32_t kReturnQueryWaitMs = 60;
// Right after its commit a unit may still answer under its old MAC for a moment before it
// restarts: such an answer is not its verdict until it has gone quiet once, or this long.
constexpr uint32_t kRestartGraceMs = 3000;

// The watch for the burned unit's return, started once "Waiting..." is shown (never under classic
// timing). The station's timer then expires every kReturnQueryIntervalMs instead of running scan
// ticks; each expiry asks CurrentAdapter for the unit's version without closing any adapter. The
// answer under BurnedMac goes through the dispatcher as a scan's would ("Success" after the
// read-back verify); an answer under another MAC once the grace is over goes the usual way and
// ends the watch, as does any device command. After kReturnWatchMs the scan cycle takes over.
void StartReturnWatch(StationCore& station);
bool ReturnWatchActive(const StationCore& station);
// One expiry of the timer while the watch is on.
void ReturnWatchStep(StationCore& station);
// Ends the watch (if on) and puts the scan timer back on its own interval.
void EndReturnWatch(StationCore& station);

}  // namespace stampwright
