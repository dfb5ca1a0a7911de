#include "app/demo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "programming/mac_database.h"
#include "protocol/management_message.h"

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

}  // namespace
}  // namespace stampwright
