#include "settings/state_file.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

using StateFile = InTempDir;

DeviceSummaries SampleSummaries() {
  DeviceSummaries summaries{};
  for (uint8_t i = 0; i < kMaxAdapters; ++i) {
    DeviceSummary& s = summaries[i];
    s.AdapterMac = MacAddress{{0x02, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(0x10 + i)}};
    s.Present = i % 2;
    s.DeviceMac = MacAddress{{0x00, 0xB0, 0x52, 0x00, 0x00, static_cast<uint8_t>(0x20 + i)}};
    s.FramesReceived = 1000u + i;
    s.BytesReceived = 0x01020304u * (i + 1);
    s.FramesSent = 3000u + i;
    s.BytesSent = 1510u * (i + 1);
  }
  return summaries;
}

StateFileIo& PlainIo() {
  static StateFileIo io;
  return io;
}

// Records every write call and fails the chosen one (0 = none), the sync or the first close.
class ScriptedIo : public StateFileIo {
 public:
  size_t Write(const void* data, size_t size, size_t count, std::FILE* file) override {
    calls.emplace_back(size, count);
    if (calls.size() == fail_write) return 0;
    return StateFileIo::Write(data, size, count, file);
  }
  int Sync(std::FILE* file) override {
    if (fail_sync) return EOF;
    return StateFileIo::Sync(file);
  }
  int Close(std::FILE* file) override {
    const int result = StateFileIo::Close(file);
    return ++closes == 1 && fail_first_close ? EOF : result;
  }

  size_t fail_write = 0;
  bool fail_first_close = false;
  bool fail_sync = false;
  int closes = 0;
  std::vector<std::pair<size_t, size_t>> calls;
};

TEST_F(StateFile, LayoutFieldByField) {
  const DeviceSummaries summaries = SampleSummaries();
  ASSERT_TRUE(WriteStateFile("Linewave Utility", 5, summaries, {0x11111111, 0x22222222},
                             PlainIo()));
  const std::vector<uint8_t> file = ReadBytes("Linewave Utility.data");
  ASSERT_EQ(file.size(), 97492u);
  EXPECT_EQ(LoadLe32(&file[0]), 306u);
  EXPECT_EQ(LoadLe32(&file[4]), 5u);
  EXPECT_EQ(LoadLe32(&file[97480]), 0u);
  EXPECT_EQ(LoadLe32(&file[97484]), 0x11111111u);
  EXPECT_EQ(LoadLe32(&file[97488]), 0x22222222u);
  for (size_t i = 0; i < kMaxAdapters; ++i) {
    SCOPED_TRACE(i);
    const uint8_t* record = &file[8 + 12184 * i];
    EXPECT_EQ(MacAddress::FromBytes(record + 0), summaries[i].AdapterMac);
    EXPECT_EQ(LoadLe32(record + 32), summaries[i].Present);
    EXPECT_EQ(MacAddress::FromBytes(record + 40), summaries[i].DeviceMac);
    EXPECT_EQ(LoadLe32(record + 12104), summaries[i].FramesReceived);
    EXPECT_EQ(LoadLe32(record + 12108), summaries[i].BytesReceived);
    EXPECT_EQ(LoadLe32(record + 12112), summaries[i].FramesSent);
    EXPECT_EQ(LoadLe32(record + 12116), summaries[i].BytesSent);
    // The unnamed spans and the StationArea are zero.
    size_t non_zero = 0;
    for (size_t b = 6; b < 32; ++b) non_zero += record[b] != 0;
    for (size_t b = 36; b < 40; ++b) non_zero += record[b] != 0;
    for (size_t b = 46; b < 12104; ++b) non_zero += record[b] != 0;
    for (size_t b = 12120; b < 12184; ++b) non_zero += record[b] != 0;
    EXPECT_EQ(non_zero, 0u);
  }
}

TEST_F(StateFile, SixWriteCallsWithTheSummariesAsOneItem) {
  ScriptedIo io;
  ASSERT_TRUE(WriteStateFile("P", 0, SampleSummaries(), {1, 1}, io));
  const std::vector<std::pair<size_t, size_t>> expected = {{4, 1}, {4, 1}, {97472, 1},
                                                           {4, 1}, {4, 1}, {4, 1}};
  EXPECT_EQ(io.calls, expected);
  EXPECT_EQ(io.closes, 1);
}

TEST_F(StateFile, PreferencesGiveTheTrailingWords) {
  Preferences preferences = LoadPreferences();  // no file here: the defaults, words 1 and 1
  ASSERT_TRUE(WriteStateFile(preferences.ProductNameText(), 0, DeviceSummaries{}, preferences));
  const std::vector<uint8_t> file = ReadBytes("Linewave Utility.data");
  ASSERT_EQ(file.size(), 97492u);
  EXPECT_EQ(LoadLe32(&file[0]), 306u);
  EXPECT_EQ(LoadLe32(&file[4]), 0u);
  EXPECT_EQ(LoadLe32(&file[97484]), 1u);
  EXPECT_EQ(LoadLe32(&file[97488]), 1u);
}

TEST_F(StateFile, RewriteReplacesTheFile) {
  WriteBytes("P.data", std::vector<uint8_t>(200000, 0xEE));
  DeviceSummaries summaries = SampleSummaries();
  ASSERT_TRUE(WriteStateFile("P", 1, summaries, {1, 1}, PlainIo()));
  summaries[7].FramesSent = 0xCAFE;
  ASSERT_TRUE(WriteStateFile("P", 7, summaries, {1, 1}, PlainIo()));
  const std::vector<uint8_t> file = ReadBytes("P.data");
  ASSERT_EQ(file.size(), 97492u);
  EXPECT_EQ(LoadLe32(&file[4]), 7u);
  EXPECT_EQ(LoadLe32(&file[8 + 12184 * 7 + 12112]), 0xCAFEu);
}

TEST_F(StateFile, ProductNamesThatLeaveTheDirectoryWriteTheDefaultName) {
  std::filesystem::create_directory("inner");
  for (const char* name : {"", ".", "..", "../x", "a/b", "inner/P"}) {
    SCOPED_TRACE(name);
    std::filesystem::remove("Linewave Utility.data");
    ASSERT_TRUE(WriteStateFile(name, 0, DeviceSummaries{}, {1, 1}, PlainIo()));
    EXPECT_EQ(std::filesystem::file_size("Linewave Utility.data"), 97492u);
  }
  EXPECT_FALSE(std::filesystem::exists("../x.data"));
  EXPECT_FALSE(std::filesystem::exists(".data"));
  EXPECT_TRUE(std::filesystem::is_empty("inner"));
  EXPECT_EQ(StateFileName("..x"), "..x.data");  // dots alone are no path step
}

TEST_F(StateFile, AnyFailingWriteOrSyncKeepsTheOldFile) {
  for (size_t failing = 1; failing <= 7; ++failing) {
    SCOPED_TRACE(failing);
    WriteBytes("P.data", std::vector<uint8_t>(5000, 0xEE));
    ScriptedIo io;
    io.fail_write = failing <= 6 ? failing : 0;
    io.fail_sync = failing == 7;
    EXPECT_FALSE(WriteStateFile("P", 3, SampleSummaries(), {1, 1}, io));
    EXPECT_EQ(io.calls.size(), std::min<size_t>(failing, 6));  // nothing more after a failure
    EXPECT_EQ(io.closes, 1);
    EXPECT_EQ(ReadBytes("P.data"), std::vector<uint8_t>(5000, 0xEE));
    EXPECT_FALSE(std::filesystem::exists("P.data.tmp"));
  }
}

TEST_F(StateFile, FailingCloseKeepsTheOldFile) {
  ScriptedIo io;
  io.fail_first_close = true;
  EXPECT_FALSE(WriteStateFile("P", 3, SampleSummaries(), {1, 1}, io));
  EXPECT_EQ(io.calls.size(), 6u);
  EXPECT_FALSE(std::filesystem::exists("P.data"));
  EXPECT_FALSE(std::filesystem::exists("P.data.tmp"));
}

TEST_F(StateFile, FullDeviceFailsTheWrite) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", "Full.data.tmp");
  ScriptedIo io;
  EXPECT_FALSE(WriteStateFile("Full", 0, SampleSummaries(), {1, 1}, io));
  // The 97472-byte item is larger than any stdio buffer and cannot be stored.
  EXPECT_EQ(io.calls.size(), 3u);
  EXPECT_EQ(io.closes, 1);
  EXPECT_FALSE(std::filesystem::exists("Full.data"));
}

TEST_F(StateFile, UncreatableFileIsSkipped) {
  std::filesystem::create_directory("P.data.tmp");  // the temporary name is taken
  EXPECT_FALSE(WriteStateFile("P", 0, SampleSummaries(), {1, 1}, PlainIo()));
  EXPECT_FALSE(std::filesystem::exists("P.data"));
}

// A station killed while it closes: at any moment the state file is the old complete one or the
// new complete one; never absent, empty or cut. A complete file is there before the first kill,
// so the check does not depend on how fast the child gets going on a loaded machine.
TEST_F(StateFile, KilledAtAnyPointOfAWriteLeavesACompleteFileOrNone) {
  StateFileIo first;
  ASSERT_TRUE(WriteStateFile("K", 0, DeviceSummaries{}, {1, 1}, first));
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      StateFileIo io;
      for (int i = 0; i < 1000; ++i) WriteStateFile("K", i, DeviceSummaries{}, {1, 1}, io);
      _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 12000));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::error_code error;
    const auto size = std::filesystem::file_size("K.data", error);
    ASSERT_FALSE(error) << "round " << round << ": the state file is gone";
    ASSERT_EQ(size, 97492u) << "round " << round;
  }
}

TEST_F(StateFile, ReadBackWhatWasWritten) {
  const DeviceSummaries summaries = SampleSummaries();
  ASSERT_TRUE(WriteStateFile("P", 2, summaries, {1, 9}, PlainIo()));
  std::string error;
  const std::optional<StateFileContents> read = ReadStateFile("P.data", &error);
  ASSERT_TRUE(read.has_value()) << error;
  EXPECT_EQ(read->StateFileVersion, 306);
  EXPECT_EQ(read->CurrentAdapter, 2);
  EXPECT_EQ(read->NameCount, 0);
  EXPECT_EQ(read->Words, (std::array<uint32_t, 2>{1, 9}));
  for (size_t i = 0; i < kMaxAdapters; ++i) {
    EXPECT_EQ(read->Summaries[i].AdapterMac, summaries[i].AdapterMac);
    EXPECT_EQ(read->Summaries[i].DeviceMac, summaries[i].DeviceMac);
    EXPECT_EQ(read->Summaries[i].Present, summaries[i].Present);
    EXPECT_EQ(read->Summaries[i].BytesReceived, summaries[i].BytesReceived);
    EXPECT_EQ(read->Summaries[i].BytesSent, summaries[i].BytesSent);
  }
}

TEST_F(StateFile, ReaderWantsExactly97492Bytes) {
  std::string error;
  EXPECT_FALSE(ReadStateFile("missing.data", &error));
  EXPECT_NE(error.find("missing.data"), std::string::npos);
  for (size_t size : {size_t{0}, size_t{97491}, size_t{97493}, size_t{300000}}) {
    WriteBytes("odd.data", std::vector<uint8_t>(size, 0));
    EXPECT_FALSE(ReadStateFile("odd.data", &error)) << size;
    EXPECT_NE(error.find("97492"), std::string::npos) << error;
  }
  WriteBytes("odd.data", std::vector<uint8_t>(97492, 0));
  EXPECT_TRUE(ReadStateFile("odd.data"));
}

TEST(DeviceSummary, WriteToFillsEveryByteAndReadFromInverts) {
  DeviceSummary summary;
  summary.AdapterMac = MacAddress{{1, 2, 3, 4, 5, 6}};
  summary.Present = 1;
  summary.DeviceMac = MacAddress{{7, 8, 9, 10, 11, 12}};
  summary.FramesReceived = 0x0A0B0C0D;
  summary.BytesReceived = 2;
  summary.FramesSent = 3;
  summary.BytesSent = 0xFFFFFFFF;
  std::vector<uint8_t> record(kDeviceSummarySize + 1, 0xEE);
  summary.WriteTo(record.data());
  EXPECT_EQ(record[kDeviceSummarySize], 0xEE);  // nothing past the record
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[5], 6);
  EXPECT_EQ(record[6], 0);
  EXPECT_EQ(record[40], 7);
  EXPECT_EQ(record[12104], 0x0D);
  EXPECT_EQ(record[12107], 0x0A);
  EXPECT_EQ(record[12183], 0);
  const DeviceSummary back = DeviceSummary::ReadFrom(record.data());
  EXPECT_EQ(back.AdapterMac, summary.AdapterMac);
  EXPECT_EQ(back.Present, 1u);
  EXPECT_EQ(back.DeviceMac, summary.DeviceMac);
  EXPECT_EQ(back.FramesReceived, 0x0A0B0C0Du);
  EXPECT_EQ(back.BytesReceived, 2u);
  EXPECT_EQ(back.FramesSent, 3u);
  EXPECT_EQ(back.BytesSent, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace stampwright
