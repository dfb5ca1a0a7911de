#include "station/station_core.h"

#include <utility>

namespace stampwright {

StationCore::StationCore(Page& page_in, PacketDriver& driver_in, Clock& clock_in, Timer& timer_in,
                 ArpFlush& arp_flush_in, Preferences preferences_in, StationSettings settings_in)
    : page(page_in),
      driver(driver_in),
      clock(clock_in),
      timer(timer_in),
      arp_flush(arp_flush_in),
      preferences(std::move(preferences_in)),
      settings(std::move(settings_in)) {
  adapters.driver = &driver;
  if (!settings.auto_read) AutoReadDone = 1;
}

std::string_view PhaseName(StationPhase phase) {
  switch (phase) {
    case StationPhase::kNoUnit:
      return "no-unit";
    case StationPhase::kReady:
      return "ready";
    case StationPhase::kReading:
      return "reading";
    case StationPhase::kBurning:
      return "burning";
    case StationPhase::kCommitting:
      return "committing";
    case StationPhase::kRestarting:
      return "restarting";
    case StationPhase::kVerifying:
      return "verifying";
    case StationPhase::kUpgrading:
      return "upgrading";
  }
  return "ready";
}

namespace {

void TellPhaseIfChanged(StationCore& station, StationPhase before) {
  const StationPhase now = Phase(station);
  if (now != before && station.on_phase) station.on_phase(now);
}

}  // namespace

void SetBasePhase(StationCore& station, StationPhase phase) {
  const StationPhase before = Phase(station);
  station.base_phase = phase;
  TellPhaseIfChanged(station, before);
}

PhaseScope::PhaseScope(StationCore& station, StationPhase phase) : station_(station) {
  const StationPhase before = Phase(station);
  station.operation_phases.push_back(phase);
  TellPhaseIfChanged(station, before);
}

PhaseScope::~PhaseScope() {
  const StationPhase before = Phase(station_);
  station_.operation_phases.pop_back();
  TellPhaseIfChanged(station_, before);
}

MessageContext StationCore::Messages() {
  return MessageContext{adapters, summaries, registers, settings.oui};
}

}  // namespace stampwright
