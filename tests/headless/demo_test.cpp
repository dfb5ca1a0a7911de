#include "app/demo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/page_procedure.h"
#include "app/scan_cycle.h"
#include "app/station.h"
#include "app/timer.h"
#include "programming/mac_database.h"
#include "protocol/management_message.h"
#include "resources/controls.h"
#include "resources/recording_page.h"
#include "settings/preferences.h"

namespace stampwright {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the last line has no newline";
  return lines;
}

class DemoFiles : public testing::Test {
 protected:
  void SetUp() override {
    auto made = TemporaryDirectory::Create("stampwright-demo-test-");
    ASSERT_TRUE(made);
    dir_.emplace(std::move(*made));
  }
  std::optional<TemporaryDirectory> dir_;
};

TEST_F(DemoFiles, DatabaseRecordsDecodeToTheDemoMacsAndPasswords) {
  for (const std::string& prefix : {std::string(kDefaultMacPrefix), std::string("0EBEEF")}) {
    const fs::path path = dir_->path() / ("cam-" + prefix + ".dbr");
    ASSERT_EQ(SeedDemoDatabase(path, prefix), SeedResult::kWritten);
    const std::vector<DemoRecord> records = DemoRecords(prefix);
    const std::vector<std::string> lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), records.size());
    ASSERT_GE(records.size(), 3u);
    std::set<std::string> macs;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].size(), kMacRecordLength);
      const std::optional<MacRecord> record = DecodeMacRecord(lines[i], prefix);
      ASSERT_TRUE(record) << lines[i];
      EXPECT_EQ(record->mac_text, records[i].mac_text);
      const std::string& p = records[i].password;
      EXPECT_EQ(record->password_text,
                p.substr(0, 4) + "-" + p.substr(4, 4) + "-" + p.substr(8, 4) + "-" + p.substr(12, 4));
      EXPECT_TRUE(records[i].mac_text.starts_with(prefix));
      macs.insert(records[i].mac_text);
    }
    EXPECT_EQ(macs.size(), records.size()) << "demo MACs must differ";
    // A burn must change the unit's MAC, or "Success" would prove nothing.
    const MacAddress unit = DemoUnitMac(prefix);
    for (const DemoRecord& record : records) {
      EXPECT_NE(MacAddress::Parse(record.mac_text), unit);
    }
    EXPECT_TRUE(unit.ToString().starts_with(prefix.substr(0, 2) + ":"));
  }
}

TEST_F(DemoFiles, AnExistingDatabaseIsNeverOverwritten) {
  const fs::path path = dir_->path() / "cam.dbr";
  {
    std::ofstream(path) << "the plant's own records\n";
  }
  EXPECT_EQ(SeedDemoDatabase(path, kDefaultMacPrefix), SeedResult::kKeptExisting);
  EXPECT_EQ(ReadFile(path), "the plant's own records\n");
  EXPECT_EQ(SeedDemoDatabase(dir_->path() / "missing" / "cam.dbr", kDefaultMacPrefix),
            SeedResult::kFailed);
  const std::string kept = DemoIntroduction(dir_->path(), kDefaultMacPrefix, SeedResult::kKeptExisting);
  EXPECT_NE(kept.find("already exists and was kept"), std::string::npos);
}

TEST_F(DemoFiles, IntroductionNamesTheDirectoryTheUnitAndEveryMac) {
  const std::string text = DemoIntroduction(dir_->path(), kDefaultMacPrefix, SeedResult::kWritten);
  EXPECT_NE(text.find(dir_->path().string()), std::string::npos);
  EXPECT_NE(text.find("02:A0:C5:00:00:01"), std::string::npos);
  EXPECT_NE(text.find("demo0"), std::string::npos);
  for (const DemoRecord& record : DemoRecords(kDefaultMacPrefix)) {
    EXPECT_NE(text.find("  " + record.mac_text + "\n"), std::string::npos);
  }
}

TEST(TemporaryDirectoryTest, LivesUnderTmpdirAndGoesWithEverythingInIt) {
  auto parent = TemporaryDirectory::Create("stampwright-parent-");
  ASSERT_TRUE(parent);
  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved != nullptr ? saved : "";
  ::setenv("TMPDIR", parent->path().c_str(), 1);
  fs::path inner_path;
  {
    auto inner = TemporaryDirectory::Create("demo-");
    ASSERT_TRUE(inner);
    inner_path = inner->path();
    EXPECT_EQ(inner_path.parent_path(), parent->path());
    EXPECT_TRUE(inner_path.filename().string().starts_with("demo-"));
    std::ofstream(inner_path / "cam.dbr") << "x\n";
    fs::create_directory(inner_path / "sub");
    std::ofstream(inner_path / "sub" / "f") << "y";
    TemporaryDirectory moved = std::move(*inner);  // ownership moves; removed once
    EXPECT_EQ(moved.path(), inner_path);
    EXPECT_TRUE(inner->path().empty());
  }
  EXPECT_FALSE(fs::exists(inner_path));
  EXPECT_TRUE(fs::exists(parent->path()));
  if (saved != nullptr) {
    ::setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}

// A clock that keeps every sleep, advancing by it.
class SleepLog final : public Clock {
 public:
  uint32_t TickCount() override { return now; }
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  uint32_t now = 5000;
  std::vector<uint32_t> sleeps;
};

ManagementMessage VersionQuery() {
  ManagementMessage frame{};
  BuildMessageHeader(frame, DemoAdapterMac(), MacAddress::Broadcast());
  WriteMessageType(frame.data(), kVsVerQueryReq, kDefaultVendorOui);
  return frame;
}

TEST(DemoBenchTest, WaitsSleepOnTheClockUntilTheAnswerIsDueOrTheTimeout) {
  SleepLog clock;
  DemoBench bench(clock, kDefaultMacPrefix);
  VirtualDriver& driver = bench.driver();
  const auto names = driver.EnumerateAdapters();
  ASSERT_EQ(names, (std::vector<std::string>{"demo0"}));
  const PacketDriver::Handle handle = driver.OpenAdapter("demo0");
  ASSERT_NE(handle, PacketDriver::kInvalidHandle);
  ASSERT_TRUE(driver.SetPacketFilter(handle, kPacketFilterPromiscuous));

  // Nothing on the wire: one sleep of the whole time-out, not a busy loop.
  EXPECT_FALSE(driver.WaitReadable(handle, 50));
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{50}));

  // A version query: the unit answers after its latency, and the wait sleeps just that long.
  clock.sleeps.clear();
  const ManagementMessage frame = VersionQuery();
  ASSERT_TRUE(driver.SendPacket(handle, frame.data(), kVersionQueryLength));
  EXPECT_TRUE(driver.WaitReadable(handle, 1000));
  uint32_t slept = 0;
  for (const uint32_t ms : clock.sleeps) slept += ms;
  EXPECT_EQ(slept, kDemoUnitLatencyMs);
  std::array<uint8_t, 1514> answer{};
  ASSERT_GE(driver.ReceivePacket(handle, answer.data(), answer.size()), 60u);
  EXPECT_EQ(MacAddress::FromBytes(answer.data() + 6), DemoUnitMac(kDefaultMacPrefix));
  EXPECT_EQ(MacAddress::FromBytes(answer.data()), DemoAdapterMac());
  driver.CloseAdapter(handle);
}

TEST(DemoBenchTest, RealClockWaitsReallySleepAndStillHearTheUnit) {
  SystemClock clock;
  DemoBench bench(clock, kDefaultMacPrefix);
  VirtualDriver& driver = bench.driver();
  const PacketDriver::Handle handle = driver.OpenAdapter("demo0");
  ASSERT_TRUE(driver.SetPacketFilter(handle, kPacketFilterPromiscuous));
  const uint32_t start = clock.TickCount();
  EXPECT_FALSE(driver.WaitReadable(handle, 30));
  EXPECT_GE(ElapsedMs(start, clock.TickCount()), 30u);

  const ManagementMessage frame = VersionQuery();
  ASSERT_TRUE(driver.SendPacket(handle, frame.data(), kVersionQueryLength));
  EXPECT_TRUE(driver.WaitReadable(handle, 5000));
  std::array<uint8_t, 1514> answer{};
  EXPECT_GE(driver.ReceivePacket(handle, answer.data(), answer.size()), 60u);
}

class NoTimer final : public Timer {
 public:
  void Start(uint32_t) override { active = true; }
  void Stop() override { active = false; }
  bool IsActive() const override { return active; }
  bool active = false;
};

// The demo's whole flow in virtual time: read, burn from the seeded database, "Success".
class DemoFlow : public DemoFiles {
 protected:
  void SetUp() override {
    DemoFiles::SetUp();
    // A burn flushes the ARP cache; as root, keep that away from the host's in a namespace of
    // this test's own, left again afterwards.
    if (::geteuid() == 0) {
      host_network_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
      ASSERT_GE(host_network_, 0);
      ASSERT_EQ(::unshare(CLONE_NEWNET), 0);
    }
    previous_ = fs::current_path();
    fs::current_path(dir_->path());
  }
  void TearDown() override {
    fs::current_path(previous_);
    if (host_network_ >= 0) {
      EXPECT_EQ(::setns(host_network_, CLONE_NEWNET), 0);
      ::close(host_network_);
    }
  }
  fs::path previous_;
  int host_network_ = -1;
};

TEST_F(DemoFlow, TypedDemoMacBurnsTheUnitToSuccess) {
  ASSERT_EQ(SeedDemoDatabase("cam.dbr", kDefaultMacPrefix), SeedResult::kWritten);
  VirtualClock clock(1000);
  DemoBench bench(clock, kDefaultMacPrefix);
  RecordingPage page;
  NoTimer timer;
  Preferences preferences = DefaultPreferences();
  preferences.StateFileWords = {1, 1};
  Station station(page, bench.driver(), clock, timer, preferences);

  OnPageCreated(station);
  OnPageActivated(station);
  EXPECT_EQ(page.GetText(kStatusLine, 79), "Read Module OK - PX300 Class B");
  EXPECT_EQ(page.GetText(kChipModelField, 79), "PX300");
  EXPECT_EQ(page.GetText(kFirmwareVersionField, 79), std::string(kDemoVersionText));
  EXPECT_TRUE(page.IsEnabled(kBurnButton));

  const DemoRecord record = DemoRecords(kDefaultMacPrefix)[1];
  page.SetText(kNewMacEdit, record.mac_text);
  OnPageCommand(station, kBurnButton);
  EXPECT_EQ(page.GetText(kStatusLine, 79), "Waiting...");
  EXPECT_TRUE(page.message_boxes().empty());

  // Ticks until the unit is back from its restart under the burned MAC.
  for (int tick = 0; tick < 4 && page.GetText(kStatusLine, 79) != "Success"; ++tick) {
    clock.Advance(kScanIntervalMs);
    OnScanTimer(station);
  }
  EXPECT_EQ(page.GetText(kStatusLine, 79), "Success");
  EXPECT_EQ(bench.unit().CurrentMac(), MacAddress::Parse(record.mac_text));
  EXPECT_EQ(bench.unit().ParameterCommits(), 1u);
  OnPageDeactivated(station);
  OnPageDestroyed(station);
}

}  // namespace
}  // namespace stampwright
