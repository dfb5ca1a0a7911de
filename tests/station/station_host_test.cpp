// Stations on threads of their own in one process, each on its own virtual adapter and unit, one
// journal file between them: they burn at the same moment, and a box on one stops only that one.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/key_derivation.h"
#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "resources/controls.h"
#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "station/station_host.h"
#include "support/recording_arp_flush.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

constexpr auto kBound = std::chrono::seconds(30);

// One station on its thread: a virtual clock, adapter and unit of its own; every event it
// publishes is kept.
class HostedStation {
 public:
  HostedStation(Journal& journal, const std::string& name, int bay, bool operator_answers,
                const MacAddress& unit_mac)
      : unit_(UnitAt(unit_mac)) {
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
  const SimulatedUnit& unit() const { return unit_; }

 private:
  static SimulatedUnitConfig UnitAt(const MacAddress& mac) {
    SimulatedUnitConfig config;
    config.mac = mac;
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

class BayThreadTest : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    std::ofstream("cam.dbr") << EncodeMacRecord("02A0C5100011", "K7QM2XWP9RTB4HZD") << "\n"
                             << EncodeMacRecord("02A0C5100022", "R4TY8UPL2KQW7MXC") << "\n";
    JournalStatus status;
    first_ = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(first_) << status.error;
    second_ = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(second_) << status.error;
  }

  std::unique_ptr<SqliteJournal> first_, second_;
};

// What a burn must leave in the unit's flash: the label's MAC and DAK, a checksum that holds, and
// every other byte as the station wrote it.
void ExpectBurned(const ParameterModule& flash, const ParameterModule& written, const char* label,
                  const char* password) {
  EXPECT_EQ(MacAddress::FromBytes(flash.bytes.data() + kMacAddressOffset),
            *MacAddress::Parse(label));
  const std::string grouped = std::string(password).substr(0, 4) + "-" +
                              std::string(password).substr(4, 4) + "-" +
                              std::string(password).substr(8, 4) + "-" +
                              std::string(password).substr(12, 4);
  const DerivedKey dak = DeviceAccessKey(grouped.c_str());
  EXPECT_TRUE(std::equal(dak.begin(), dak.end(), flash.bytes.begin() + kDeviceAccessKeyOffset));
  EXPECT_EQ(flash.ImageChecksum(), ExpectedImageChecksum(flash));
  EXPECT_EQ(flash.bytes, written.bytes);
}

TEST_F(BayThreadTest, TwoStationsBurnTheirUnitsAtOnceIntoOneJournal) {
  HostedStation a(*first_, "bay-a", 1, false, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  HostedStation b(*second_, "bay-b", 2, false, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  ASSERT_TRUE(a.Ready());
  ASSERT_TRUE(b.Ready());
  const std::optional<UnitEvent> found = a.Await<UnitEvent>();
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->present);
  EXPECT_EQ(found->mac, "02:A0:C5:00:00:01");
  EXPECT_EQ(found->chip, "PX300");
  const std::optional<ModuleReadEvent> read = a.Await<ModuleReadEvent>();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->module_class, "PX300 Class B");

  a.PressBurn("02A0C5100011");
  b.PressBurn("02A0C5100022");
  ASSERT_TRUE(a.TickToSuccess());
  ASSERT_TRUE(b.TickToSuccess());

  // The units are the stations' threads' to touch: copied there.
  ParameterModule flash_a, written_a, flash_b, written_b;
  ASSERT_TRUE(a.Run([&](Station& s, PageModel&) {
    flash_a = a.unit().Flash();
    written_a = CoreOf(s).written_module;
    return true;
  }));
  ASSERT_TRUE(b.Run([&](Station& s, PageModel&) {
    flash_b = b.unit().Flash();
    written_b = CoreOf(s).written_module;
    return true;
  }));
  ExpectBurned(flash_a, written_a, "02A0C5100011", "K7QM2XWP9RTB4HZD");
  ExpectBurned(flash_b, written_b, "02A0C5100022", "R4TY8UPL2KQW7MXC");
  // One phase at a time, from the read through the restart to the verified return.
  EXPECT_THAT(a.Phases(),
              testing::ElementsAre("ready", "reading", "ready", "burning", "committing", "burning",
                                   "restarting", "verifying", "restarting", "ready"));
  // Every event names its station's bay.
  for (int bay : a.Bays()) ASSERT_EQ(bay, 1);
  for (int bay : b.Bays()) ASSERT_EQ(bay, 2);

  std::vector<JournalRecord> records;
  ASSERT_TRUE(first_->Read({}, &records).ok());
  ASSERT_EQ(records.size(), 2u);
  for (const JournalRecord& record : records) {
    EXPECT_EQ(record.outcome, Outcome::kSuccess);
    EXPECT_EQ(record.station, record.mac == "02A0C5100011" ? "bay-a" : "bay-b");
  }
}

TEST_F(BayThreadTest, ABoxHoldsOnlyTheStationThatRaisedItUntilItIsAnswered) {
  HostedStation a(*first_, "bay-a", 1, true, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  HostedStation b(*second_, "bay-b", 2, true, Mac(0x02, 0xA0, 0xC5, 0, 0, 0x01));
  ASSERT_TRUE(a.Ready());
  ASSERT_TRUE(b.Ready());

  // Not in the database: the lookup's box, which nobody answers yet.
  a.PressBurn("02A0C51000FF");
  const std::optional<Notice> box = a.Await<Notice>();
  ASSERT_TRUE(box && box->answer);
  EXPECT_EQ(box->type, kMbIconWarning);

  b.PressBurn("02A0C5100022");
  ASSERT_TRUE(b.TickToSuccess()) << "the other station's box held this one";
  EXPECT_EQ(a.Count<RecordEvent>(), 0) << "the station went on before its box was answered";

  box->answer->set_value(kIdOk);
  const std::optional<RecordEvent> refused = a.Await<RecordEvent>();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->record.outcome, Outcome::kLookupFailed);
  EXPECT_TRUE(a.Run([&](Station&, PageModel&) { return a.unit().ParameterCommits() == 0; }));
}

}  // namespace
}  // namespace stampwright::station_test
