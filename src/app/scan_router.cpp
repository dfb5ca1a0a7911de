#include "app/scan_router.h"

#include <cctype>
#include <charconv>
#include <utility>

#include "base/text.h"
#include "resources/controls.h"
#include "station/mac_lookup.h"

namespace stampwright {

std::optional<int> ParseBayCode(std::string_view text) {
  if (text.size() < 5) return std::nullopt;
  for (size_t i = 0; i < 4; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != "BAY-"[i]) return std::nullopt;
  }
  int bay = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + 4, end, bay);
  if (error != std::errc{} || stop != end || bay < 1) return std::nullopt;
  return bay;
}

namespace {

// Twelve upper-case hex digits, as the lookup compares a label.
bool IsMacLabel(std::string_view text) {
  if (text.size() != 12) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// A MAC as twelve upper-case digits, however it was written; empty when it is none.
std::string Digits(std::string_view mac) {
  if (IsMacLabel(mac)) return std::string(mac);
  return NormalizedMacEntry(mac).value_or(std::string());
}

}  // namespace

ScanRouter::ScanRouter(int bays) : bays_(static_cast<size_t>(bays)) {}

ScanRouter::Bay* ScanRouter::Find(int bay) {
  return bay >= 1 && bay <= static_cast<int>(bays_.size()) ? &bays_[static_cast<size_t>(bay - 1)]
                                                           : nullptr;
}

const ScanRouter::Bay* ScanRouter::Find(int bay) const {
  return const_cast<ScanRouter*>(this)->Find(bay);
}

void ScanRouter::NoteUnitFound(int number, const std::string& mac) {
  const std::string digits = Digits(mac);
  for (size_t i = 0; i < bays_.size(); ++i) {
    const int other = static_cast<int>(i + 1);
    if (other == number || digits.empty() || bays_[i].burning != digits) continue;
    crossed_.push_back({digits, other, number,
                        FormatText("MAC %s came back on bay %d; it was burned on bay %d.",
                                   digits.c_str(), number, other)});
    // Told once: the bay's own record ends the burn.
    bays_[i].burning.clear();
  }
}

void ScanRouter::Observe(const StationEvent& event, Clock::time_point now) {
  Bay* bay = Find(event.bay);
  if (bay == nullptr) return;
  if (const auto* phase = std::get_if<PhaseEvent>(&event.body)) {
    bay->phase = phase->phase;
  } else if (const auto* change = std::get_if<PageChange>(&event.body)) {
    if (change->kind == PageChange::Kind::kEnable && change->id == kBurnButton) {
      bay->burn_enabled = change->on;
    }
  } else if (std::holds_alternative<ModuleReadEvent>(event.body)) {
    bay->burned_this_unit = false;
    bay->passed.reset();
  } else if (const auto* unit = std::get_if<UnitEvent>(&event.body)) {
    if (!unit->present) {
      bay->burned_this_unit = false;
      bay->passed.reset();
    } else {
      NoteUnitFound(event.bay, unit->mac);
    }
  } else if (const auto* activity = std::get_if<ActivityEvent>(&event.body)) {
    if (activity->activity == StationActivity::kBurning) {
      bay->burned_this_unit = true;
      bay->burning = Digits(activity->mac);
    }
    if (activity->activity == StationActivity::kPassed) {
      bay->passed = true;
      passes_.push_back(now);
      while (now - passes_.front() >= std::chrono::hours(1)) passes_.pop_front();
    }
    if (activity->activity == StationActivity::kVerifyFailed) bay->passed = false;
  } else if (const auto* record = std::get_if<RecordEvent>(&event.body)) {
    bay->in_flight.clear();
    bay->burning.clear();
    // A unit that was tried and did not pass; a refusal touched no unit.
    const std::optional<Outcome> outcome = record->record.outcome;
    if (outcome && !IsGoodOutcome(*outcome) && !IsRefusal(*outcome) && !bay->passed) {
      bay->passed = false;
    }
  } else if (std::holds_alternative<RefusedEvent>(event.body)) {
    bay->in_flight.clear();
  }
}

bool ScanRouter::WaitingForLabel(int number) const {
  const Bay* bay = Find(number);
  return bay != nullptr && bay->phase == StationPhase::kReady && bay->burn_enabled &&
         !bay->burned_this_unit && bay->in_flight.empty();
}

void ScanRouter::Select(int bay) {
  if (Find(bay) != nullptr) selected_ = bay;
}

std::optional<std::string> ScanRouter::held() const { return held_; }

int ScanRouter::BurningOn(const std::string& label) const {
  for (size_t i = 0; i < bays_.size(); ++i) {
    if (bays_[i].in_flight == label) return static_cast<int>(i + 1);
  }
  return 0;
}

ScanRouter::Result ScanRouter::InFlight(const std::string& label, int burning_on,
                                        int refused_on) const {
  Result result{Result::Kind::kRefused, 0, label,
                FormatText("MAC %s is being burned on bay %d.", label.c_str(), burning_on)};
  result.refused_on = refused_on;
  return result;
}

ScanRouter::Result ScanRouter::RouteTo(int number, const std::string& label) {
  if (!WaitingForLabel(number)) {
    return {Result::Kind::kRefused, number, label,
            FormatText("Bay %d is not waiting for a label.", number)};
  }
  // Never one MAC on two bays at once.
  if (const int burning_on = BurningOn(label); burning_on != 0) {
    return InFlight(label, burning_on, number);
  }
  Bay& bay = *Find(number);
  bay.in_flight = label;
  bay.burned_this_unit = true;
  return {Result::Kind::kBurning, number, label, {}};
}

ScanRouter::Result ScanRouter::Scan(std::string_view text, Clock::time_point now) {
  Expire(now);
  if (const std::optional<int> code = ParseBayCode(text)) {
    if (Find(*code) == nullptr) {
      return {Result::Kind::kRefused, 0, {}, FormatText("There is no bay %d.", *code)};
    }
    if (held_) {
      const std::string label = *std::exchange(held_, std::nullopt);
      return RouteTo(*code, label);
    }
    selected_ = *code;
    return {Result::Kind::kBaySelected, *code, {}, {}};
  }
  const std::optional<std::string> label =
      IsMacLabel(text) ? std::optional<std::string>(text) : NormalizedMacEntry(text);
  if (!label) {
    return {Result::Kind::kRefused, 0, {}, "Not a MAC label: " + std::string(text)};
  }
  if (selected_ != 0) return RouteTo(std::exchange(selected_, 0), *label);
  std::vector<int> waiting;
  for (int bay = 1; bay <= static_cast<int>(bays_.size()); ++bay) {
    if (WaitingForLabel(bay)) waiting.push_back(bay);
  }
  if (waiting.size() == 1) return RouteTo(waiting.front(), *label);
  // No one bay to record it on: refused at once, never held.
  if (const int burning_on = BurningOn(*label); burning_on != 0) return InFlight(*label, burning_on, 0);
  if (waiting.empty()) return {Result::Kind::kRefused, 0, *label, "No bay is waiting for a label."};
  held_ = *label;
  held_at_ = now;
  return {Result::Kind::kHeld, 0, *label, {}};
}

bool ScanRouter::Expire(Clock::time_point now) {
  if (!held_ || now - held_at_ < kHoldLimit) return false;
  held_.reset();
  return true;
}

std::string ScanRouter::TopLine(Clock::time_point now) const {
  std::string next;
  if (held_) next = "Scan the bay code or click the bay for " + *held_;
  for (size_t i = 0; i < bays_.size() && next.empty(); ++i) {
    if (bays_[i].passed && bays_[i].in_flight.empty()) {
      next = FormatText("Bay %d: %s, take the unit", static_cast<int>(i + 1),
                        *bays_[i].passed ? "PASS" : "FAIL");
    }
  }
  for (int bay = 1; bay <= static_cast<int>(bays_.size()) && next.empty(); ++bay) {
    if (WaitingForLabel(bay)) {
      next = FormatText(ask_for_press_ ? "Bay %d: press Burn" : "Bay %d: scan the label", bay);
    }
  }
  if (next.empty()) next = "Cable the next unit";
  size_t per_hour = 0;
  for (const Clock::time_point pass : passes_) per_hour += now - pass < std::chrono::hours(1);
  return next + FormatText("    %zu units/h", per_hour);
}

void TellCrossedReturns(ScanRouter& router, const std::vector<std::unique_ptr<StationHost>>& hosts) {
  TellCrossedReturns(router, [&hosts](int bay) -> StationHost* {
    return bay >= 1 && bay <= static_cast<int>(hosts.size()) ? hosts[static_cast<size_t>(bay - 1)].get()
                                                             : nullptr;
  });
}

void TellCrossedReturns(ScanRouter& router, const std::function<StationHost*(int bay)>& host) {
  for (const ScanRouter::CrossedReturn& crossed : router.TakeCrossedReturns()) {
    if (StationHost* burned_on = host(crossed.burned_on)) {
      burned_on->Post([crossed](Station& station, PageModel&) {
        station.ReturnedOnOtherBay(crossed.mac, crossed.text);
      });
    }
    if (StationHost* came_back_on = host(crossed.came_back_on)) {
      came_back_on->Post([text = crossed.text](Station& station, PageModel&) { station.Warn(text); });
    }
  }
}

}  // namespace stampwright
