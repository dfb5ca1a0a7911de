#pragma once

// The fault soak: one station burns unit after unit through the real page procedure (the Burn
// command with a "cam.dbr", then scan ticks), each unit behind a cable and with a fault plan
// drawn from a seed: lost frames both ways (up to 30 %), rejected chunks, wrong confirmed
// offsets, a unit unplugged in the middle of the write, a unit that comes back under another MAC.
// Every burn must end in "Success" with the unit's flash byte for byte the image expected, or in
// a failure that left the unit's flash alone; a commit is only ever sent after all 7864 bytes
// were confirmed, and "Success" never shows for a unit that is not under BurnedMac. Virtual
// time bounds every burn. Shared by the short ctest form and the long bench form.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/station_harness.h"
#include "station/page_procedure.h"
#include "base/byte_order.h"
#include "crypto/key_derivation.h"
#include "programming/carrier_table.h"
#include "programming/mac_database.h"
#include "programming/parameter_module.h"

namespace stampwright::soak {

enum class Outcome {
  kSuccess,            // "Success", the expected image in flash, the unit under BurnedMac
  kNoCommit,           // no commit: the unit's flash as it was
  kUnconfirmedCommit,  // the image committed whole, its confirmation lost: no "Success"
  kWrongMac,           // the image committed whole, the unit back under another MAC
  kCount,
};
inline constexpr const char* kOutcomeNames[] = {"success", "no commit", "commit unconfirmed",
                                                "back under another MAC"};

struct SoakReport {
  std::array<int, static_cast<size_t>(Outcome::kCount)> outcomes{};
  int vanished = 0;       // units unplugged mid-write
  int boxes = 0;          // write boxes answered
  int lost_frames = 0;    // frames the cable lost
  int commits_sent = 0;   // VS_MOD_COMMIT requests for the parameter module
  uint32_t longest_burn_ms = 0;  // virtual time of the longest Burn command
  std::vector<std::string> violations;

  int Count(Outcome outcome) const { return outcomes[static_cast<size_t>(outcome)]; }
};

inline uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(SplitMix64(state_) % n); }
  bool Percent(uint32_t p) { return Below(100) < p; }

 private:
  uint64_t state_;
};

// The cable between the adapter and the unit. While armed it loses frames both ways, and it can
// be pulled after a given number of write requests. It also watches what the station sends: a
// VS_MOD_COMMIT for the parameter module is only allowed once the write offset reached 7864.
class FaultyCable final : public WirePeer {
 public:
  FaultyCable(WirePeer& unit, const StationCore& station, uint64_t seed)
      : unit_(unit), station_(station), random_(seed) {}

  void Arm(uint32_t drop_percent, std::optional<uint32_t> pull_after_writes) {
    drop_percent_ = drop_percent;
    pull_after_writes_ = pull_after_writes;
  }
  void Disarm() { drop_percent_ = 0; }

  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override {
    // What the station sends is checked whether or not a unit is still there to take it.
    const uint16_t mmtype = length >= 17 ? LoadLe16(frame + 15) : 0;
    if (mmtype == kVsModCommitReq && length > kModuleIdOffset &&
        frame[kModuleIdOffset] == kModuleIdParameter) {
      ++commits_;
      if (station_.registers.WriteTransferOffset != kModuleSize) ++early_commits_;
    }
    if (pulled_) return;
    if (mmtype == kVsWrModReq && pull_after_writes_ && writes_++ >= *pull_after_writes_) {
      pulled_ = true;
      return;
    }
    if (Lose()) return;
    unit_.OnFrame(frame, length, now);
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    while (unit_.TakeFrame(now, frame)) {
      if (!pulled_ && !Lose()) return true;
    }
    return false;
  }
  std::optional<uint32_t> NextFrameDue() const override { return unit_.NextFrameDue(); }

  bool pulled() const { return pulled_; }
  int commits() const { return commits_; }
  int early_commits() const { return early_commits_; }
  int lost() const { return lost_; }

 private:
  bool Lose() {
    if (drop_percent_ == 0 || !random_.Percent(drop_percent_)) return false;
    ++lost_;
    return true;
  }

  WirePeer& unit_;
  const StationCore& station_;
  Random random_;
  uint32_t drop_percent_ = 0;
  std::optional<uint32_t> pull_after_writes_;
  uint32_t writes_ = 0;
  bool pulled_ = false;
  int commits_ = 0;
  int early_commits_ = 0;
  int lost_ = 0;
};

// The faults of one unit, drawn from the burn's seed.
struct UnitFaults {
  uint32_t drop_percent = 0;
  uint32_t reject_every = 0;
  uint32_t wrong_offset_at = 0;
  std::optional<uint32_t> pull_after_writes;
  bool wrong_mac = false;
  bool slow_operator = false;  // takes a scan interval to close each box
};

inline UnitFaults DrawFaults(Random& random) {
  UnitFaults faults;
  if (random.Percent(70)) faults.drop_percent = random.Below(31);
  if (random.Percent(25)) faults.reject_every = 1 + random.Below(6);  // 1: every chunk refused
  if (random.Percent(25)) faults.wrong_offset_at = 1 + random.Below(10);
  if (random.Percent(12)) faults.pull_after_writes = random.Below(8);
  faults.wrong_mac = random.Percent(10);
  faults.slow_operator = random.Percent(20);
  return faults;
}

// The image a burn must leave on the unit, built here from the image read rather than by the
// code under test: PX300 carrier table, NMK of "DefaultNPW", DAK of the grouped password, MAC,
// checksum over 1955 words for format 2.
inline ParameterModule ExpectedImage(const ParameterModule& read, const MacAddress& mac,
                                     const std::string& grouped_password) {
  ParameterModule expected = read;
  uint8_t* bytes = expected.bytes.data();
  const CarrierTable& table = Px300CarrierTable();
  for (size_t i = 0; i < kCarrierCount; ++i) StoreLe32(bytes + 2576 + 4 * i, table[i]);
  const DerivedKey nmk = NetworkMembershipKey("DefaultNPW");
  std::copy(nmk.begin(), nmk.end(), bytes + 100);
  const DerivedKey dak = DeviceAccessKey(grouped_password.c_str());
  std::copy(dak.begin(), dak.end(), bytes + 18);
  mac.CopyTo(bytes + 12);
  StoreLe32(bytes + 8, 0);
  StoreLe32(bytes + 8, ModuleChecksum(bytes, bytes[0] == 2 ? 1955 : 1966));
  return expected;
}

inline std::string MacText(const MacAddress& mac) {
  char text[13];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac.octets[0], mac.octets[1],
                mac.octets[2], mac.octets[3], mac.octets[4], mac.octets[5]);
  return text;
}

inline std::string Grouped(const std::string& password16) {
  return password16.substr(0, 4) + "-" + password16.substr(4, 4) + "-" + password16.substr(8, 4) +
         "-" + password16.substr(12, 4);
}

// Runs `burns` burns on one station, in the current directory (it writes "cam.dbr" there).
// on_burn, if set, is called after every burn with its index.
class Soak {
 public:
  static constexpr int kConnectTicks = 3;
  static constexpr int kComeBackTicks = 8;
  // Eight chunks, each sent at most ten times without progress, 52 ms a send, the commit and
  // the settling pause: a burn is far shorter than this unless boxes stay open.
  static constexpr uint32_t kBurnBoundMs = 8 * 11 * 52 + 2000;

  Soak(int burns, uint64_t seed) : burns_(burns), seed_(seed) {}

  // The station under test, for what a test links to it before Run (a journal).
  StationCore& station() { return h_.station; }

  SoakReport Run(const std::function<void(int)>& on_burn = {}) {
    WriteDatabase();
    h_.AddAdapter("eth0", station_test::kAdapter0);
    // Start close to the wrap of the 32-bit tick count, so that it wraps during the first burns.
    h_.clock.Advance(0xFFFFFFFFu - h_.clock.TickCount() - 20000);
    h_.page.on_message_box = [this] { OnBox(); };
    OnPageCreated(h_.station);
    OnPageActivated(h_.station);
    for (int i = 0; i < burns_; ++i) {
      BurnOne(i);
      if (on_burn) on_burn(i);
    }
    h_.driver.DetachPeer("eth0");
    return std::move(report_);
  }

 private:
  MacAddress BurnMac(int i) const {
    return {{0x02, 0xA0, 0xC5, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
             static_cast<uint8_t>(i)}};
  }
  std::string Password(int i) const {
    uint64_t state = seed_ ^ (uint64_t(i) << 20);
    std::string password;
    for (int c = 0; c < 16; ++c) {
      password += "ABCDEFGHJKLMNPQRSTUVWXYZ23456789"[SplitMix64(state) % 32];
    }
    return password;
  }

  void WriteDatabase() const {
    std::ofstream out(std::string(kDefaultMacDatabasePath), std::ios::binary | std::ios::trunc);
    for (int i = 0; i < burns_; ++i) out << EncodeMacRecord(MacText(BurnMac(i)), Password(i)) << '\n';
  }

  void Violation(int i, const std::string& what) {
    if (report_.violations.size() < 50) {
      report_.violations.push_back("burn " + std::to_string(i) + ": " + what);
    }
  }

  bool StatusShown(const char* text) const {
    const std::vector<std::string> status = h_.page.StatusTexts();
    return std::find(status.begin(), status.end(), text) != status.end();
  }

  // A box stays open as long as the operator takes; the scan timer keeps firing meanwhile and
  // its tick is held back until the burn returns.
  void OnBox() {
    ++report_.boxes;
    if (!slow_operator_) return;
    h_.clock.Advance(kScanIntervalMs);
    OnScanTimer(h_.station);
  }

  void Plug(int i, const UnitFaults& faults, Random& random) {
    SimulatedUnitConfig config;
    config.mac = {{0x02, 0x55, 0x00, 0x00, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}};
    // Each unit's image differs a little outside the fields a burn writes.
    ParameterModule image = DefaultUnitImage(config.mac);
    for (int k = 0; k < 8; ++k) image.bytes[116 + random.Below(2576 - 116)] ^= 0x5A;
    UpdateImageChecksum(image);
    config.image = image;
    config.faults.reject_every = faults.reject_every;
    config.faults.wrong_offset_at = faults.wrong_offset_at;
    if (faults.wrong_mac) config.faults.return_mac = config.mac;
    unit_ = std::make_unique<SimulatedUnit>(std::move(config));
    cable_ = std::make_unique<FaultyCable>(*unit_, h_.station, seed_ * 7919 + uint64_t(i));
    h_.driver.AttachPeer("eth0", cable_.get());
  }

  void Unplug() {
    h_.driver.DetachPeer("eth0");
    cable_.reset();
    unit_.reset();
  }

  void BurnOne(int i) {
    Random random(seed_ * 1000003 + uint64_t(i));
    const UnitFaults faults = DrawFaults(random);

    // The operator takes the last unit off (a scan shows "No Device") and cables the next.
    Unplug();
    h_.Tick();
    Plug(i, faults, random);
    h_.page.Clear();
    for (int t = 0; t < kConnectTicks && !h_.page.IsEnabled(kBurnButton); ++t) h_.Tick();
    if (!h_.page.IsEnabled(kBurnButton)) return Violation(i, "a clean unit was not read");
    const ParameterModule before = unit_->Flash();
    if (h_.station.module.bytes != before.bytes) return Violation(i, "the read image differs");

    const MacAddress mac = BurnMac(i);
    const ParameterModule expected = ExpectedImage(before, mac, Grouped(Password(i)));
    h_.page.SetText(kNewMacEdit, MacText(mac));
    h_.page.Clear();
    cable_->Arm(faults.drop_percent, faults.pull_after_writes);
    slow_operator_ = faults.slow_operator;
    const uint32_t start = h_.clock.TickCount();
    OnPageCommand(h_.station, kBurnButton);
    const uint32_t took = h_.clock.TickCount() - start;
    const auto boxes = static_cast<uint32_t>(h_.page.message_boxes().size());
    slow_operator_ = false;
    cable_->Disarm();
    report_.longest_burn_ms = std::max(report_.longest_burn_ms, took);
    if (took > kBurnBoundMs + boxes * kScanIntervalMs) Violation(i, "the burn took too long");
    const bool confirmed = StatusShown("Waiting...");

    for (int t = 0; t < kComeBackTicks && !StatusShown("Success"); ++t) h_.Tick();
    Judge(i, faults, before, expected, confirmed);
  }

  void Judge(int i, const UnitFaults& faults, const ParameterModule& before,
             const ParameterModule& expected, bool confirmed) {
    const bool success = StatusShown("Success");
    const uint32_t commits = unit_->ParameterCommits();
    report_.vanished += cable_->pulled();
    report_.lost_frames += cable_->lost();
    report_.commits_sent += cable_->commits();
    if (cable_->early_commits() != 0) Violation(i, "VS_MOD_COMMIT sent before offset 7864");
    if (cable_->commits() > 1) Violation(i, "more than one VS_MOD_COMMIT");
    if (commits > 1) Violation(i, "the unit committed more than once");

    Outcome outcome;
    if (success) {
      outcome = Outcome::kSuccess;
      if (commits != 1 || unit_->Flash().bytes != expected.bytes) {
        Violation(i, "\"Success\" without the expected image in flash");
      }
      if (unit_->CurrentMac() != h_.station.BurnedMac || faults.wrong_mac) {
        Violation(i, "\"Success\" for a unit not under BurnedMac");
      }
    } else if (commits == 0) {
      outcome = Outcome::kNoCommit;
      if (unit_->Flash().bytes != before.bytes) Violation(i, "flash changed without a commit");
      if (faults.drop_percent == 0 && faults.reject_every != 1 && !faults.pull_after_writes) {
        Violation(i, "a burn with nothing against it did not commit");
      }
    } else {
      if (unit_->Flash().bytes != expected.bytes) Violation(i, "a commit of the wrong image");
      if (faults.wrong_mac) {
        outcome = Outcome::kWrongMac;
      } else {
        outcome = Outcome::kUnconfirmedCommit;
        if (confirmed) Violation(i, "a confirmed commit under BurnedMac without \"Success\"");
      }
    }
    ++report_.outcomes[static_cast<size_t>(outcome)];
  }

  int burns_;
  uint64_t seed_;
  station_test::StationHarness h_;
  std::unique_ptr<SimulatedUnit> unit_;
  std::unique_ptr<FaultyCable> cable_;
  bool slow_operator_ = false;
  SoakReport report_;
};

}  // namespace stampwright::soak
