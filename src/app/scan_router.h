#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "station/station_events.h"
#include "station/station_host.h"

namespace stampwright {

// Where a scanned label goes when several bays run at once: to the one bay waiting for a label
// (its unit read, Burn possible, no burn on this unit yet), or to the bay named by a scanned bay
// code ("BAY-n") or a click; never by the order of the scans. Fed every bay's events on the
// front end's thread; pure otherwise.
class ScanRouter {
 public:
  using Clock = std::chrono::steady_clock;
  // A scan held for its bay is dropped after this long.
  static constexpr std::chrono::seconds kHoldLimit{30};

  struct Result {
    enum class Kind { kBurning, kHeld, kRefused, kBaySelected };
    Kind kind = Kind::kRefused;
    int bay = 0;        // the bay it went to (0: none)
    std::string label;  // the label as the lookup compares it (12 upper-case hex digits)
    std::string reason;  // why it was refused
    // A label already being burned on another bay, refused for the bay it would have gone to:
    // that bay records the refusal and shows it (0: nothing to record).
    int refused_on = 0;
  };

  // A unit burned on one bay that answered on another: both bays are told, and the first ends
  // the attempt "returned-on-other-bay".
  struct CrossedReturn {
    std::string mac;  // 12 digits
    int burned_on = 0;
    int came_back_on = 0;
    std::string text;  // the notice both bays show
  };

  explicit ScanRouter(int bays);

  void Observe(const StationEvent& event, Clock::time_point now = Clock::now());
  // A bay clicked: the next label goes to it.
  void Select(int bay);
  int selected() const { return selected_; }
  // A scanned line: a label, or a bay code. A label that goes to a bay counts as burning there
  // from now on (the caller starts the Burn).
  Result Scan(std::string_view text, Clock::time_point now = Clock::now());
  // Drops a held scan that has waited too long; true when one was dropped.
  bool Expire(Clock::time_point now = Clock::now());
  std::optional<std::string> held() const;
  // The crossings seen since the last call.
  std::vector<CrossedReturn> TakeCrossedReturns() { return std::exchange(crossed_, {}); }

  bool WaitingForLabel(int bay) const;
  // What the operator should do next, and the units per hour.
  std::string TopLine(Clock::time_point now = Clock::now()) const;
  // The station types each bay's MAC itself and leaves Burn to the operator (a confirmed pool):
  // a bay waiting asks for the press, not a scan.
  void AskForBurnPress(bool press) { ask_for_press_ = press; }

 private:
  struct Bay {
    StationPhase phase = StationPhase::kNoUnit;
    bool burn_enabled = false;
    bool burned_this_unit = false;  // a burn began since the unit was read
    std::string in_flight;          // the label being burned, until its record is written
    std::string burning;            // the MAC its Burn writes (12 digits), until its record
    std::optional<bool> passed;     // the last unit's verdict, until the next unit
  };

  Bay* Find(int bay);
  const Bay* Find(int bay) const;
  Result RouteTo(int bay, const std::string& label);
  void NoteUnitFound(int bay, const std::string& mac);
  // The bay burning label, or 0.
  int BurningOn(const std::string& label) const;
  Result InFlight(const std::string& label, int burning_on, int refused_on) const;

  std::vector<Bay> bays_;
  int selected_ = 0;
  std::optional<std::string> held_;
  Clock::time_point held_at_{};
  std::deque<Clock::time_point> passes_;  // within the last hour
  std::vector<CrossedReturn> crossed_;
  bool ask_for_press_ = false;
};

// Tells both bays of each crossing the router has seen, on their own threads: the bay that
// burned the unit ends its attempt, the other shows the notice.
// host(n) is bay n's station, or null.
void TellCrossedReturns(ScanRouter& router, const std::function<StationHost*(int bay)>& host);
void TellCrossedReturns(ScanRouter& router, const std::vector<std::unique_ptr<StationHost>>& hosts);

// "BAY-n" (any case): n, or nothing.
std::optional<int> ParseBayCode(std::string_view text);

}  // namespace stampwright
