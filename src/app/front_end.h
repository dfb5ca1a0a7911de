#pragma once

#include <functional>
#include <string>
#include <vector>

#include "report/mes_publisher.h"
#include "station/station.h"
#include "station/station_events.h"
#include "settings/preferences.h"
#include "transport/arp_flush.h"
#include "transport/clock.h"
#include "transport/packet_driver.h"

namespace stampwright {

class LabelDesk;

// One bay of several: its adapter, a packet driver restricted to it and its own connection to
// the journal.
struct BayEnvironment {
  std::string adapter;
  PacketDriver* driver = nullptr;
  JournalLink journal;
};

// What the program entry hands a front end once the preferences are loaded and the instance
// test has passed: the front end builds its page, timer and Station from it and runs the page
// procedure until the close button. Returns the process's exit code.
struct FrontEndEnvironment {
  PacketDriver& driver;
  Clock& clock;
  ArpFlush& arp_flush;
  Preferences preferences;
  StationSettings settings;
  // The journal the station records into: off, open, or failed to open (then the station
  // refuses Burn and Browse). The front end adds its own on_outcome.
  JournalLink journal;
  // No verdict sounds (--quiet).
  bool quiet = false;
  // Told each of the station's events on the front end's thread, once the front end has shown it.
  std::function<void(const StationEvent&)> on_event;
  // With two or more, the bays, each a station of its own on its own adapter (driver and
  // journal above are then unused); else the one station of the page.
  std::vector<BayEnvironment> bays;
  // Labels made at the station and MACs from its pool (--mac-source pool, --label-printer):
  // null without either. Lives on the front end's thread.
  LabelDesk* labels = nullptr;
  // With --mes: gives the broker connection's state to the listener, on another thread, now and
  // at each change; null takes the listener away before the front end goes.
  std::function<void(std::function<void(const MesConnectionState&)>)> mes_connection = {};
};

int RunWindowFrontEnd(int argc, char** argv, FrontEndEnvironment& environment);
int RunHeadlessFrontEnd(int argc, char** argv, FrontEndEnvironment& environment);

// The refusal of a second copy, shown by the chosen front end: a message box captioned
// "Attention!" with the error icon (the window), or a messagebox event (headless).
void ShowWindowRefusal(int argc, char** argv, const std::string& text);
void ShowHeadlessRefusal(const std::string& text);

}  // namespace stampwright
