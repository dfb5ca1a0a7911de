#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "station/timer.h"
#include "base/byte_order.h"
#include "base/mac_address.h"
#include "protocol/management_message.h"
#include "protocol/simulated_unit.h"
#include "resources/controls.h"
#include "support/recording_arp_flush.h"
#include "support/recording_page.h"
#include "settings/preferences.h"
#include "transport/clock.h"
#include "transport/virtual_driver.h"

namespace stampwright::station_test {

inline MacAddress Mac(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t e, uint8_t f) {
  return {{a, b, c, d, e, f}};
}
inline const MacAddress kAdapter0 = Mac(0x02, 0xAA, 0, 0, 0, 0x10);
inline const MacAddress kAdapter1 = Mac(0x02, 0xAA, 0, 0, 0, 0x11);
inline const MacAddress kUnitMac = Mac(0x02, 0xA0, 0xC5, 0x00, 0x00, 0x01);

class ManualTimer final : public Timer {
 public:
  void Start(uint32_t interval_ms) override {
    active = true;
    interval = interval_ms;
    ++starts;
  }
  void Stop() override { active = false; }
  bool IsActive() const override { return active; }

  bool active = false;
  uint32_t interval = 0;
  int starts = 0;
};

// Passes frames on to the unit only from the n-th one on: a unit that misses the first queries.
class LateListener final : public WirePeer {
 public:
  LateListener(WirePeer& unit, int ignore_first) : unit_(unit), ignore_(ignore_first) {}
  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override {
    if (ignore_ > 0) {
      --ignore_;
      return;
    }
    unit_.OnFrame(frame, length, now);
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    return unit_.TakeFrame(now, frame);
  }
  std::optional<uint32_t> NextFrameDue() const override { return unit_.NextFrameDue(); }

 private:
  WirePeer& unit_;
  int ignore_;
};

// Several peers on one cable (a switch, a bridge, a third party on the unit's side): each hears
// every frame the station sends; their frames reach the station in the order they fall due.
class WireHub final : public WirePeer {
 public:
  void Add(WirePeer& peer) { peers_.push_back(&peer); }
  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override {
    for (WirePeer* peer : peers_) peer->OnFrame(frame, length, now);
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    WirePeer* first = nullptr;
    std::optional<uint32_t> first_due;
    for (WirePeer* peer : peers_) {
      const std::optional<uint32_t> due = peer->NextFrameDue();
      if (due && (!first_due || static_cast<int32_t>(*due - *first_due) < 0)) {
        first = peer;
        first_due = due;
      }
    }
    return first != nullptr && first->TakeFrame(now, frame);
  }
  std::optional<uint32_t> NextFrameDue() const override {
    std::optional<uint32_t> first_due;
    for (const WirePeer* peer : peers_) {
      const std::optional<uint32_t> due = peer->NextFrameDue();
      if (due && (!first_due || static_cast<int32_t>(*due - *first_due) < 0)) first_due = due;
    }
    return first_due;
  }

 private:
  std::vector<WirePeer*> peers_;
};

inline Preferences LoadedDefaults() {
  Preferences preferences = DefaultPreferences();
  preferences.StateFileWords = {1, 1};
  return preferences;
}

// A station on virtual adapters, a virtual clock and a recording page.
struct StationHarness {
  explicit StationHarness(StationSettings settings = {}, Preferences preferences = LoadedDefaults())
      : station(page, driver, clock, timer, arp_flush, std::move(preferences), std::move(settings)) {}

  void AddAdapter(const std::string& name, const MacAddress& mac) { driver.AddAdapter(name, mac); }

  SimulatedUnit& Plug(const std::string& adapter, SimulatedUnitConfig config = {}) {
    units.push_back(std::make_unique<SimulatedUnit>(std::move(config)));
    driver.AttachPeer(adapter, units.back().get());
    return *units.back();
  }
  void Unplug(const std::string& adapter) { driver.DetachPeer(adapter); }

  // One expiry of the scan timer, 3 s after the last.
  void Tick() {
    clock.Advance(kScanIntervalMs);
    OnScanTimer(station);
  }

  // One expiry of the timer at whatever interval it runs (the return watch's or the scan's).
  void Expire() {
    clock.Advance(timer.interval);
    OnScanTimer(station);
  }

  // A confirmation frame as a unit would send it, addressed from `source` to `destination`.
  static std::vector<uint8_t> Confirmation(const MacAddress& destination, const MacAddress& source,
                                           uint16_t mmtype, size_t length = 60) {
    std::vector<uint8_t> frame(length, 0);
    destination.CopyTo(frame.data());
    source.CopyTo(frame.data() + 6);
    frame[12] = 0x88;
    frame[13] = 0xE1;
    StoreLe16(frame.data() + 15, mmtype);
    frame[17] = kDefaultVendorOui[0];
    frame[18] = kDefaultVendorOui[1];
    frame[19] = kDefaultVendorOui[2];
    return frame;
  }

  VirtualClock clock{100000};
  VirtualDriver driver{clock, 1};
  RecordingPage page;
  ManualTimer timer;
  RecordingArpFlush arp_flush;
  std::vector<std::unique_ptr<SimulatedUnit>> units;
  StationCore station;
};

}  // namespace stampwright::station_test
