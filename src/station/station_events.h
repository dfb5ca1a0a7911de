#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "journal/outcome.h"
#include "journal/record.h"
#include "resources/page.h"
#include "resources/page_model.h"
#include "station/station.h"

namespace stampwright {

// What a station tells its front ends, in the order it happens, from the station's own thread.
// Each event names the bay it comes from (1 with one adapter).

// A message box. With an answer to give, the station waits until the front end gives it (the
// button pressed); an answer never given, because the front end went away, counts as OK.
struct Notice {
  std::string text;
  std::string caption;
  uint32_t type = 0;
  std::shared_ptr<std::promise<int>> answer;  // null: the station did not wait
};

// A file-open dialog the operator answers; the station waits for the path, or nothing.
struct FileDialogAsked {
  FileDialogRequest request;
  std::shared_ptr<std::promise<std::optional<std::string>>> answer;
};

// A burn or a read reached a point a verdict depends on (see StationActivity).
struct ActivityEvent {
  StationActivity activity = StationActivity::kReading;
  std::string mac;  // the MAC field's text; the burned label's with kPassed
};

// A unit came onto the station's adapter (its MAC, chip and firmware text as shown) or left it.
struct UnitEvent {
  bool present = false;
  std::string mac;
  std::string chip;
  std::string firmware;
};

// The station's phase changed.
struct PhaseEvent {
  StationPhase phase = StationPhase::kNoUnit;
};

// A module read ended complete: the chip chosen and the class the read identified.
struct ModuleReadEvent {
  std::string chip;
  std::string module_class;
};

// A Burn or a firmware upgrade was refused before anything was sent.
struct RefusedEvent {
  Outcome reason = Outcome::kLookupFailed;
};

// A journal record whose outcome has just been written.
struct RecordEvent {
  JournalRecord record;
};

// The journal could not be opened at first and now is.
struct JournalReopenedEvent {};

// A line's journal lost or regained its database.
struct JournalConnectionEvent {
  bool connected = false;
  std::string text;
};

// The station's adapter went away (pulled, or down) or came back: the station keeps its number
// and its state meanwhile. Told once per change, and once at the first scan if it is missing.
struct AdapterEvent {
  bool present = false;
  std::string adapter;  // its name; empty for a station on every adapter
};

// The start-up scans are done and the scan timer runs.
struct StartedEvent {};
// The page was closed (the state file written); the station's thread ends after this.
struct ClosedEvent {};

using StationEventBody =
    std::variant<PageChange, Notice, FileDialogAsked, ActivityEvent, PhaseEvent, UnitEvent,
                 ModuleReadEvent,
                 RefusedEvent, RecordEvent, JournalReopenedEvent, JournalConnectionEvent,
                 AdapterEvent, StartedEvent, ClosedEvent>;

struct StationEvent {
  int bay = 1;
  StationEventBody body;
};

}  // namespace stampwright
