#pragma once

// The station's own state, for the code in station/ only: scripts/check-layers.sh refuses an
// include of this header from anywhere else but tests and benchmarks.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/mac_address.h"
#include "programming/parameter_module.h"
#include "protocol/management_message.h"
#include "protocol/requests.h"
#include "resources/page.h"
#include "settings/device_summary.h"
#include "settings/preferences.h"
#include "transport/adapter_set.h"
#include "transport/arp_flush.h"
#include "transport/clock.h"
#include "transport/packet_driver.h"
#include "station/journal_link.h"
#include "station/station.h"
#include "station/station_phase.h"
#include "station/timer.h"

namespace stampwright {

constexpr size_t kPathBufferSize = 256;

// The distinct units that answered the version query on one adapter in a query pass; two are
// enough to refuse.
struct AnsweringUnits {
  MacAddress first;
  MacAddress second;
  int count = 0;  // 0, 1 or 2
};

// The watch for the burned unit's return (see return_watch.h); on while the phase is kRestarting.
struct ReturnWatch {
  int adapter = -1;
  uint32_t started = 0;     // tick count when it began
  bool went_quiet = false;  // a query went unanswered: the unit has begun its restart
};

// Points the station's early-end flag at a wait's own flag for as long as it lives, and back at
// the enclosing wait's after: a wait nested in a confirmation handler ends only itself.
class AwaitedScope;

// All state of one station: what the original kept in process-wide variables. Only the code in
// station/ (and white-box tests) holds it; everything else goes through Station. Field names
// follow the station's vocabulary.
struct StationCore {
  StationCore(Page& page, PacketDriver& driver, Clock& clock, Timer& timer, ArpFlush& arp_flush,
              Preferences preferences, StationSettings settings = {});
  StationCore(const StationCore&) = delete;
  StationCore& operator=(const StationCore&) = delete;

  MessageContext Messages();

  Page& page;
  PacketDriver& driver;
  Clock& clock;
  Timer& timer;
  ArpFlush& arp_flush;
  Preferences preferences;
  StationSettings settings;

  AdapterSet adapters;
  DeviceSummaries summaries{};
  TransferRegisters registers;
  ParameterModule module{};

  // Confirmation dispatcher.
  std::array<uint32_t, kMaxAdapters> VersionAnswered{};
  uint8_t CommitConfirmed = 0;
  // Write, read and commit confirmations ignored because they did not come from the unit being
  // programmed, per receiving adapter. Runtime only: never saved.
  std::array<uint32_t, kMaxAdapters> ForeignConfirmations{};

  // Device discovery: the units answering on each adapter in the current (or last) query pass,
  // and the pair last reported to the operator.
  std::array<AnsweringUnits, kMaxAdapters> answering{};
  std::array<AnsweringUnits, kMaxAdapters> reported_units{};
  bool query_pass_active = false;
  bool listening_for_units = false;

  // Scan cycle.
  uint32_t AutoScanSuspended = 0;
  uint8_t AutoReadDone = 0;

  // Module read and burn.
  bool WarningShown = false;
  MacAddress BurnedMac;

  // Page buffers.
  std::array<char, kPathBufferSize> database_path{};
  std::array<char, kPathBufferSize> firmware_path{};

  // Where the waits copy what they take; nobody reads it back.
  std::array<uint8_t, 1500> response_buffer{};

  // The early-end flag of the innermost wait in progress; nested waits each have their own, set
  // through an AwaitedScope.
  bool* awaited_accepted = nullptr;

  ShownUnit shown;
  // This commit's confirmation came (the status line then reads "Waiting..."); CommitConfirmed
  // may still be set by an earlier one.
  bool commit_answered = false;

  // Device operations in progress on the UI thread, and a scan tick held back meanwhile.
  int operation_depth = 0;
  bool tick_pending = false;
  // Commands that came during a device operation, run in order once it has ended; at most one
  // Burn among them, and none while a burn runs.
  std::deque<int> queued_commands;
  // The front end's close, held back until the device operation under way has ended.
  std::function<void()> close_pending;

  // Given by the front end: lets its event loop run for a moment (repaint, typing, clicks), at
  // least every kEventSliceMs of a wait. None in tests.
  std::function<void()> yield_to_events;

  // The production journal (off unless the front end links one).
  JournalLink journal;
  // Told when a Burn or a firmware upgrade is refused before anything was sent, with the outcome
  // that says why, whether the journal is off, could record it or not.
  std::function<void(Outcome)> on_refused;

  // Set while a caller waits for the burned unit's return: its answer under BurnedMac is
  // verified against the image written before "Success" shows.
  bool verify_return = false;
  // The image the last burn wrote, for that verify: the station's own image may be read over
  // before the unit is back.
  ParameterModule written_module{};
  // The last burn's verify found the burned fields differ ("Verify failed").
  bool verify_failed = false;
  // Told each activity; mac is the MAC field's text (the burned label's with kPassed).
  std::function<void(StationActivity activity, const std::string& mac)> on_activity;
  // The phase: the operations under way, outermost first (set through PhaseScope only), over
  // the phase between them (SetBasePhase). Told to on_phase when the phase changes.
  StationPhase base_phase = StationPhase::kNoUnit;
  std::vector<StationPhase> operation_phases;
  std::function<void(StationPhase phase)> on_phase;
  // The connection field last said a unit is connected; told to on_unit when that changes.
  bool unit_present = false;
  std::function<void(bool present)> on_unit;
  // Told once a complete read has identified the module (shown.module_class is set).
  std::function<void()> on_module_identified;
  // A read that leaves the status line alone (the verify's read-back).
  bool quiet_read = false;
  ReturnWatch return_watch;
};

class AwaitedScope {
 public:
  AwaitedScope(StationCore& station, bool* flag) : station_(station), outer_(station.awaited_accepted) {
    station.awaited_accepted = flag;
  }
  ~AwaitedScope() { station_.awaited_accepted = outer_; }
  AwaitedScope(const AwaitedScope&) = delete;
  AwaitedScope& operator=(const AwaitedScope&) = delete;

 private:
  StationCore& station_;
  bool* const outer_;
};

inline StationPhase Phase(const StationCore& station) {
  return station.operation_phases.empty() ? station.base_phase : station.operation_phases.back();
}

// True while an operation of this phase runs, however deep inside it the station is.
inline bool InPhase(const StationCore& station, StationPhase phase) {
  for (const StationPhase running : station.operation_phases) {
    if (running == phase) return true;
  }
  return false;
}

// Sets the phase that holds between operations.
void SetBasePhase(StationCore& station, StationPhase phase);

// The phase of an operation, for as long as the scope lives.
class PhaseScope {
 public:
  PhaseScope(StationCore& station, StationPhase phase);
  ~PhaseScope();
  PhaseScope(const PhaseScope&) = delete;
  PhaseScope& operator=(const PhaseScope&) = delete;

 private:
  StationCore& station_;
};

inline void TellActivity(StationCore& station, StationActivity activity) {
  if (station.on_activity) station.on_activity(activity, station.shown.mac);
}

// True when more than one unit answered on the adapter in the last query pass: nothing is read
// from or written to either of them.
inline bool SeveralUnitsAnswer(const StationCore& station, int adapter) {
  return adapter >= 0 && adapter < kMaxAdapters && station.answering[adapter].count > 1;
}

// Whether waits run their full length.
inline bool FullWaits(const StationSettings& settings) {
  return settings.full_waits || settings.classic;
}

// Runs the front end's event loop for a moment, unless classic timing is chosen.
inline void YieldToEvents(StationCore& station) {
  if (station.yield_to_events && !station.settings.classic) station.yield_to_events();
}

// Marks the awaited confirmation of the innermost wait as accepted.
inline void NoteAwaitedAccepted(StationCore& station) {
  if (station.awaited_accepted != nullptr) *station.awaited_accepted = true;
}

// The state behind a Station, for the code in station/.
StationCore& CoreOf(Station& station);

}  // namespace stampwright
