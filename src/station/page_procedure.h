#pragma once

#include <functional>

namespace stampwright {

struct StationCore;

// The main page's life, as the front ends deliver it. Each entry runs to its end on the UI
// thread; a scan tick that comes due meanwhile is held back until it returns.

// Page creation: the start-up scans, before the page is first shown.
void OnPageCreated(StationCore& station);
// The page became active: the scan timer starts.
void OnPageActivated(StationCore& station);
// The page is about to be left (the close button).
void OnPageDeactivated(StationCore& station);
// The page is destroyed.
void OnPageDestroyed(StationCore& station);
// A command from control id; ids without a command are ignored. One that arrives while a device
// operation runs (its waits let the event loop run) is queued and runs right after it, never
// inside it; a Burn is dropped while a burn runs or another Burn is already queued.
void OnPageCommand(StationCore& station, int id);
// Runs the command of control id now; OnPageCommand and the end of a device operation use it.
void RunPageCommand(StationCore& station, int id);
// The close button: close runs at once, or right after the device operation under way has ended
// (commands still queued are then dropped).
void OnCloseRequested(StationCore& station, std::function<void()> close);

// The Select command: the database file dialog; the chosen path goes into control 1007 only.
void SelectDatabaseFile(StationCore& station);
// The Burn command: lookup, ARP flush, "Burning...", burn.
void BurnCommand(StationCore& station);
// Writes the state file from the station's summaries.
void SaveState(StationCore& station);

}  // namespace stampwright
