#pragma once

// Two stations burn one label at once, each on its own thread, unit and connection to one
// journal. A seam holds the first between its early guard check (the label not burned yet) and
// its claim, while the second burns the same label to "Success"; only then may the first claim.
// The race that a loaded line hits by chance, every time.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "journal/journal.h"
#include "support/forwarding_journal.h"
#include "station/page_procedure.h"
#include "support/station_harness.h"

namespace stampwright::station_test {

// A journal that runs a step of the test's just before a burn's claim, once.
class HoldBeforeClaim final : public ForwardingJournal {
 public:
  HoldBeforeClaim(Journal& inner, std::function<void()> hold)
      : ForwardingJournal(inner), hold_(std::move(hold)) {}

  JournalStatus Append(JournalRecord& record) override {
    if (record.kind == RecordKind::kBurn && !record.outcome && hold_) std::exchange(hold_, {})();
    return inner_.Append(record);
  }

 private:
  std::function<void()> hold_;
};

// One station of the race: its own unit (answering under unit_mac), page and journal link.
struct RaceStation {
  RaceStation(Journal& journal, const std::string& name, const MacAddress& unit_mac) {
    h.AddAdapter("eth0", kAdapter0);
    SimulatedUnitConfig config;
    config.mac = unit_mac;
    unit = &h.Plug("eth0", std::move(config));
    JournalLink& link = h.station.journal;
    link.enabled = true;
    link.journal = &journal;
    link.station_name = name;
    link.on_outcome = [this](const JournalRecord& record) { outcomes.push_back(record); };
  }

  // Finds and reads the unit; true once Burn is enabled.
  bool Ready() {
    ScanNow(h.station);
    ScanNow(h.station);
    return h.page.IsEnabled(kBurnButton);
  }

  // Burn with label in New MAC; true once "Success" shows (the return watch ticked through).
  bool BurnToSuccess(const std::string& label) {
    h.page.SetText(kNewMacEdit, label);
    OnPageCommand(h.station, kBurnButton);
    frames_after_command = h.driver.FramesSent("eth0");
    for (int i = 0; i < 6; ++i) {
      const auto texts = h.page.StatusTexts();
      if (std::find(texts.begin(), texts.end(), "Success") != texts.end()) return true;
      h.Tick();
    }
    return false;
  }

  StationHarness h;
  SimulatedUnit* unit = nullptr;
  size_t frames_after_command = 0;
  std::vector<JournalRecord> outcomes;
};

struct ClaimRaceResult {
  bool first_ready = false, second_ready = false;
  bool held = false;            // the seam ran: the first was between its check and its claim
  bool second_success = false;  // the second burned the label meanwhile
  bool first_success = false;
  size_t first_frames_after_check = 0;  // frames the first's Burn sent from its claim on
  std::vector<JournalRecord> first_outcomes, second_outcomes;
  std::vector<RecordingPage::MessageBoxShown> first_boxes;
};

// first and second are two connections to one journal (two handles on one file, or two stations'
// journals on one database). Each station runs on a thread of its own.
inline ClaimRaceResult RunClaimRace(Journal& first, Journal& second, const std::string& label) {
  ClaimRaceResult result;
  std::mutex mutex;
  std::condition_variable changed;
  bool go = false, done = false;
  constexpr auto kBound = std::chrono::seconds(60);

  size_t frames_at_claim = 0;
  RaceStation* a_station = nullptr;
  HoldBeforeClaim held_first(first, [&] {
    frames_at_claim = a_station->h.driver.FramesSent("eth0");
    std::unique_lock lock(mutex);
    go = true;
    changed.notify_all();
    result.held = changed.wait_for(lock, kBound, [&] { return done; });
  });
  RaceStation a(held_first, "race-a", Mac(0x02, 0xA0, 0xC5, 0x00, 0x00, 0x01));
  RaceStation b(second, "race-b", Mac(0x02, 0xA0, 0xC5, 0x00, 0x00, 0x02));
  a_station = &a;

  std::thread second_thread([&] {
    result.second_ready = b.Ready();
    {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, kBound, [&] { return go; });
    }
    if (result.second_ready) result.second_success = b.BurnToSuccess(label);
    std::lock_guard lock(mutex);
    done = true;
    changed.notify_all();
  });
  std::thread first_thread([&] {
    result.first_ready = a.Ready();
    if (result.first_ready) {
      result.first_success = a.BurnToSuccess(label);
      result.first_frames_after_check = a.frames_after_command - frames_at_claim;
    }
    // Never leave the second waiting for a seam that did not run.
    std::lock_guard lock(mutex);
    go = true;
    changed.notify_all();
  });
  first_thread.join();
  second_thread.join();
  result.first_outcomes = a.outcomes;
  result.second_outcomes = b.outcomes;
  result.first_boxes = a.h.page.message_boxes();
  return result;
}

}  // namespace stampwright::station_test
