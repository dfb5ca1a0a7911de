#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/verdict_band.h"
#include "station/station_events.h"

namespace stampwright {

// What a bay's tile says in one word, most urgent first: a verdict stays until the operator
// takes the unit away or the next unit is read, over whatever the station does meanwhile.
enum class TileWord {
  kNoAdapter,
  kNoUnit,
  kUnitFound,  // a unit answers, but nothing can be burned on it (not read, or not burnable)
  kReading,
  kScanLabel,  // read and Burn enabled: the bay waits for the operator's label
  kBurning,    // the image written and committed
  kRestarting,
  kVerifying,
  kUpgrading,
  kVerdict,
};

// Attempts are burns that sent a frame to a unit; refusals sent nothing and are counted apart,
// as the day's counts do.
struct TileCounts {
  int attempts = 0;
  int passed = 0;
  int failed = 0;
  int refused = 0;
  bool operator==(const TileCounts&) const = default;
};

// One tile's content at one moment.
struct TileFace {
  TileWord word = TileWord::kNoUnit;
  // "Scan label", "Restarting 3 s", "PASS 02A0C5100011", ...
  std::string headline;
  // Pass, fail or refused with a verdict; neutral while the station works; clear otherwise.
  VerdictTone tone = VerdictTone::kClear;
  std::optional<int> written;  // module bytes confirmed, while burning
  std::string mac;             // the unit's, as it answered
  std::string chip;
  std::string module_class;
  // The bay's last message box, "caption: text"; it goes with the verdict, and when the next
  // burn begins.
  std::string notice;
  TileCounts counts;
};

// Counts "Attempts 3  Passed 2  Failed 1  Refused 0".
std::string CountsText(const TileCounts& counts);

// What one bay's tile shows, from that bay's events in order. Times are a steady clock's
// milliseconds, given by the caller, so that the seconds of a restart can be told without one.
class TileState {
 public:
  void Apply(const StationEventBody& event, int64_t now_ms);
  // A pulled adapter takes its unit with it; the counts stay with the bay.
  void SetAdapterPresent(bool present);

  TileFace Face(int64_t now_ms) const;
  // The face changes with time alone (the seconds of a restart).
  bool Ticking() const;
  // The verdict shown, if any.
  const std::optional<Verdict>& verdict() const { return verdict_; }

 private:
  void ApplyActivity(const ActivityEvent& event);
  void ApplyPhase(StationPhase phase, int64_t now_ms);
  void ApplyStatus(const std::string& text);
  void ApplyRecord(const JournalRecord& record);
  // The operator took the unit, or the next one is being read: its verdict and notice go.
  void ForgetResult();
  void ForgetUnit();

  bool adapter_present_ = true;
  bool unit_present_ = false;
  StationPhase phase_ = StationPhase::kNoUnit;
  bool burn_enabled_ = false;
  std::string mac_;
  std::string chip_;
  std::string module_class_;
  int written_ = 0;
  int64_t restart_since_ms_ = 0;
  std::optional<Verdict> verdict_;
  std::string notice_;
  TileCounts counts_;
};

}  // namespace stampwright
