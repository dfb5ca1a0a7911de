#pragma once

// A station on a thread of its own, as a bay runs it, with a virtual clock, adapter and unit of
// its own, for tests of several bays at once.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/controls.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "station/station_host.h"
#include "support/recording_arp_flush.h"
#include "support/station_harness.h"

namespace stampwright::station_test {

inline constexpr auto kBound = std::chrono::seconds(30);

// One station on its thread: a virtual clock, adapter and unit of its own; every event it
// publishes is kept.
class HostedStation {
 public:
  HostedStation(Journal& journal, const std::string& name, int bay, bool operator_answers,
                const MacAddress& unit_mac, UnitFaultPlan faults = {})
      : unit_(UnitAt(unit_mac, std::move(faults))) {
    driver_.AddAdapter("eth0", kAdapter0);
    driver_.AttachPeer("eth0", &unit_);
    JournalLink link;
    link.enabled = true;
    link.journal = &journal;
    link.station_name = name;
    StationParts parts{driver_, clock_, arp_flush_, LoadedDefaults(), {}, link, bay,
                       operator_answers};
    host_ = std::make_unique<StationHost>(std::move(parts), [this](StationEvent event) {
      const std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
      changed_.notify_all();
    });
    host_->Start();
  }
  ~HostedStation() { host_.reset(); }  // closed and joined before the unit goes

  StationHost& host() { return *host_; }
  // On the station's thread only (through Run).
  VirtualDriver& driver() { return driver_; }
  VirtualClock& clock() { return clock_; }

  std::vector<StationEvent> Events() {
    const std::lock_guard lock(mutex_);
    return events_;
  }

  // Runs work on the station's thread and returns what it returned; false when it did not run
  // within the bound (the station is held).
  bool Run(const std::function<bool(Station&, PageModel&)>& work) {
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> result = done->get_future();
    host_->Post([&work, done](Station& station, PageModel& page) {
      done->set_value(work(station, page));
    });
    return result.wait_for(kBound) == std::future_status::ready && result.get();
  }

  void Post(std::function<void(Station&, PageModel&)> work) { host_->Post(std::move(work)); }

  // Finds and reads the unit; true once Burn is enabled.
  bool Ready() {
    return Run([](Station& station, PageModel& page) {
      ScanNow(CoreOf(station));
      ScanNow(CoreOf(station));
      return page.IsEnabled(kBurnButton);
    });
  }

  // Types label and presses Burn, without waiting.
  void PressBurn(const std::string& label) {
    Post([label](Station& station, PageModel& page) {
      page.Type(kNewMacEdit, label);
      station.PageCommand(kBurnButton);
    });
  }

  // Lets the unit's restart pass, a scan tick at a time, until "Success" shows.
  bool TickToSuccess() {
    for (int i = 0; i < 200 && !Saw("Success"); ++i) {
      if (!Run([this](Station& station, PageModel&) {
            clock_.Advance(250);
            station.ScanTick();
            return true;
          })) {
        return false;
      }
    }
    return Saw("Success");
  }

  bool Saw(const std::string& status) {
    const std::lock_guard lock(mutex_);
    for (const StationEvent& event : events_) {
      const auto* change = std::get_if<PageChange>(&event.body);
      if (change != nullptr && change->id == kStatusLine && change->text == status) return true;
    }
    return false;
  }

  // Waits for the first event of type E and returns a copy of it.
  template <typename E>
  std::optional<E> Await() {
    std::unique_lock lock(mutex_);
    std::optional<E> found;
    changed_.wait_for(lock, kBound, [&] {
      for (const StationEvent& event : events_) {
        if (const auto* e = std::get_if<E>(&event.body)) {
          found = *e;
          return true;
        }
      }
      return false;
    });
    return found;
  }

  template <typename E>
  int Count() {
    const std::lock_guard lock(mutex_);
    int count = 0;
    for (const StationEvent& event : events_) count += std::holds_alternative<E>(event.body);
    return count;
  }

  std::vector<std::string_view> Phases() {
    const std::lock_guard lock(mutex_);
    std::vector<std::string_view> phases;
    for (const StationEvent& event : events_) {
      if (const auto* e = std::get_if<PhaseEvent>(&event.body)) phases.push_back(PhaseName(e->phase));
    }
    return phases;
  }

  std::vector<int> Bays() {
    const std::lock_guard lock(mutex_);
    std::vector<int> bays;
    for (const StationEvent& event : events_) bays.push_back(event.bay);
    return bays;
  }

  // On the station's thread only (through Run).
  SimulatedUnit& unit() { return unit_; }

 private:
  static SimulatedUnitConfig UnitAt(const MacAddress& mac, UnitFaultPlan faults) {
    SimulatedUnitConfig config;
    config.mac = mac;
    config.faults = std::move(faults);
    return config;
  }

  VirtualClock clock_{100000};
  VirtualDriver driver_{clock_, 1};
  SimulatedUnit unit_;
  RecordingArpFlush arp_flush_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<StationEvent> events_;
  std::unique_ptr<StationHost> host_;
};

}  // namespace stampwright::station_test
