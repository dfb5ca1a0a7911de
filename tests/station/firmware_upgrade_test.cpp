#include "station/firmware_upgrade.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "station/page_procedure.h"
#include "support/station_harness.h"
#include "base/byte_order.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr size_t kLargest = 542248;

// A module write or commit as it left the station, read from the wire bytes.
struct SentRequest {
  uint16_t mmtype;
  uint16_t module_id;
  uint16_t length;
  uint32_t offset;
  uint32_t checksum;
  std::vector<uint8_t> area;  // the 1024-byte data area of a write
};

// Sits on the cable in front of the unit and keeps every write and commit the station sends.
class Tap final : public WirePeer {
 public:
  explicit Tap(WirePeer& unit) : unit_(unit) {}
  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override {
    if (length >= 60) {
      const uint16_t mmtype = LoadLe16(frame + 15);
      if (mmtype == kVsWrModReq && length >= 1056) {
        requests.push_back({mmtype, LoadLe16(frame + 20), LoadLe16(frame + 22),
                            LoadLe32(frame + 24), LoadLe32(frame + 28),
                            std::vector<uint8_t>(frame + 32, frame + 1056)});
      } else if (mmtype == kVsModCommitReq) {
        requests.push_back({mmtype, frame[20], 0, 0, 0, {}});
      }
    }
    unit_.OnFrame(frame, length, now);
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    return unit_.TakeFrame(now, frame);
  }
  std::optional<uint32_t> NextFrameDue() const override { return unit_.NextFrameDue(); }

  std::vector<SentRequest> Of(uint16_t mmtype) const {
    std::vector<SentRequest> found;
    for (const SentRequest& request : requests) {
      if (request.mmtype == mmtype) found.push_back(request);
    }
    return found;
  }

  std::vector<SentRequest> requests;

 private:
  WirePeer& unit_;
};

std::vector<uint8_t> FirmwareBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = 0x12345678;
  for (uint8_t& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

class FirmwareUpgradeTest : public InTempDir {
 protected:
  void Connect(SimulatedUnitConfig config = {}) {
    config.mac = kUnitMac;
    h.AddAdapter("eth0", kAdapter0);
    unit = &h.Plug("eth0", std::move(config));
    tap = std::make_unique<Tap>(*unit);
    h.driver.AttachPeer("eth0", tap.get());
    h.page.Check(kPx300Radio, true);
    ScanNow(h.station);
    ScanNow(h.station);
    ASSERT_TRUE(h.page.IsEnabled(kBurnButton));
    tap->requests.clear();
    h.page.Clear();
  }

  // The Browse command with the dialog answering path.
  void Browse(const std::string& path) {
    h.page.QueueFileDialogAnswer(path);
    OnPageCommand(h.station, kBrowseButton);
  }

  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  StationHarness h;
  SimulatedUnit* unit = nullptr;
  std::unique_ptr<Tap> tap;
};

class FirmwareSizeTest : public FirmwareUpgradeTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FirmwareSizeTest, FileGoesOutInChunksAndIsCommittedAsModule1) {
  const size_t size = GetParam();
  Connect();
  const std::vector<uint8_t> firmware = FirmwareBytes(size);
  WriteBytes("unit.nvm", firmware);
  Browse(PathOf("unit.nvm"));

  ASSERT_EQ(h.page.file_dialogs().size(), 1u);
  const FileDialogRequest& request = h.page.file_dialogs()[0].request;
  ASSERT_EQ(request.filters.size(), 1u);
  EXPECT_EQ(request.filters[0].display, "NVM Files(*.nvm)");
  EXPECT_EQ(request.filters[0].pattern, "*.nvm");
  EXPECT_EQ(request.filter_index, 1);
  EXPECT_EQ(request.flags, 0x1800u);
  EXPECT_EQ(request.max_path, 256u);
  EXPECT_EQ(h.page.GetText(kFirmwarePathEdit, 255), PathOf("unit.nvm"));
  EXPECT_THAT(h.page.message_boxes(), IsEmpty());

  const std::vector<SentRequest> writes = tap->Of(kVsWrModReq);
  const size_t chunks = (size + 1023) / 1024;
  ASSERT_EQ(writes.size(), chunks);
  std::vector<std::string> expected_status = {"File bytes: " + std::to_string(size)};
  for (size_t i = 0; i < chunks; ++i) {
    const size_t offset = i * 1024;
    const size_t length = std::min<size_t>(1024, size - offset);
    EXPECT_EQ(writes[i].module_id, 1u);
    EXPECT_EQ(writes[i].offset, offset);
    ASSERT_EQ(writes[i].length, length);
    std::vector<uint8_t> area(1024, 0);
    std::copy_n(firmware.begin() + static_cast<std::ptrdiff_t>(offset), length, area.begin());
    ASSERT_EQ(writes[i].area, area) << "chunk " << i;
    EXPECT_EQ(writes[i].checksum, ModuleChecksum(area.data(), 256));
    expected_status.push_back("Write Module - offset: " + std::to_string(offset));
  }
  expected_status.insert(expected_status.end(), {"FW Write Module - OK", "Waiting..."});
  EXPECT_THAT(h.page.StatusTexts(), ElementsAreArray(expected_status));

  ASSERT_EQ(tap->Of(kVsModCommitReq).size(), 1u);
  EXPECT_EQ(tap->Of(kVsModCommitReq)[0].module_id, 1u);
  EXPECT_EQ(tap->requests.back().mmtype, kVsModCommitReq);
  EXPECT_EQ(unit->FirmwareCommits(), 1u);
  EXPECT_EQ(unit->Firmware(), firmware);
  EXPECT_EQ(unit->ParameterCommits(), 0u);
}

// 542248 bytes is the largest image: 530 chunks, the last of 552 bytes.
INSTANTIATE_TEST_SUITE_P(Sizes, FirmwareSizeTest,
                         ::testing::Values(size_t{1}, size_t{1024}, size_t{1025}, size_t{10241},
                                           kLargest));

TEST_F(FirmwareUpgradeTest, EmptyFileSendsAndCommitsNothing) {
  Connect();
  WriteBytes("empty.nvm", {});
  h.page.QueueFileDialogAnswer(PathOf("empty.nvm"));
  EXPECT_TRUE(UpgradeFirmware(h.station));
  EXPECT_THAT(h.page.StatusTexts(), ElementsAre("File bytes: 0"));
  EXPECT_THAT(tap->requests, IsEmpty());
  EXPECT_EQ(unit->FirmwareCommits(), 0u);
}

TEST_F(FirmwareUpgradeTest, FileLargerThanTheImageIsRefusedAndNothingIsSent) {
  Connect();
  WriteBytes("big.nvm", FirmwareBytes(kLargest + 1));
  h.page.QueueFileDialogAnswer(PathOf("big.nvm"));
  EXPECT_FALSE(UpgradeFirmware(h.station));
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_EQ(h.page.message_boxes()[0].text, "Error opening file");
  EXPECT_EQ(h.page.message_boxes()[0].caption, "Firmware File");
  EXPECT_EQ(h.page.message_boxes()[0].type, 16u);
  EXPECT_THAT(h.page.StatusTexts(), IsEmpty());
  EXPECT_EQ(h.page.GetText(kFirmwarePathEdit, 255), PathOf("big.nvm"));
  EXPECT_THAT(tap->requests, IsEmpty());
}

// Files that name something the upgrade cannot read all end the same way: the path is shown, one
// box, nothing sent. A FIFO without a writer would block the open; /proc/self/mem opens and then
// fails on the first read.
class UnreadableFirmwareTest : public FirmwareUpgradeTest,
                               public ::testing::WithParamInterface<const char*> {};

TEST_P(UnreadableFirmwareTest, IsReportedAndNothingIsSent) {
  Connect();
  std::filesystem::create_directory(dir_ / "folder.nvm");
  ASSERT_EQ(::mkfifo((dir_ / "fifo.nvm").c_str(), 0600), 0);
  const std::string path = std::string(GetParam()).starts_with("/") ? GetParam() : PathOf(GetParam());
  h.page.QueueFileDialogAnswer(path);
  EXPECT_FALSE(UpgradeFirmware(h.station));
  EXPECT_EQ(h.page.GetText(kFirmwarePathEdit, 255), path);
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_EQ(h.page.message_boxes()[0].text, "Error opening file");
  EXPECT_THAT(h.page.StatusTexts(), IsEmpty());
  EXPECT_THAT(tap->requests, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Paths, UnreadableFirmwareTest,
                         ::testing::Values("missing.nvm", "folder.nvm", "fifo.nvm", "/proc/self/mem"));

TEST_F(FirmwareUpgradeTest, CancelledDialogChangesNothing) {
  Connect();
  h.page.SetText(kFirmwarePathEdit, "before");
  h.page.Clear();
  h.page.QueueFileDialogAnswer(std::nullopt);
  EXPECT_FALSE(UpgradeFirmware(h.station));
  // A path longer than the 256-character buffer is refused by the dialog itself.
  h.page.QueueFileDialogAnswer("/" + std::string(300, 'x') + ".nvm");
  EXPECT_FALSE(UpgradeFirmware(h.station));
  EXPECT_EQ(h.page.file_dialogs().size(), 2u);
  EXPECT_THAT(h.page.texts(), IsEmpty());
  EXPECT_THAT(h.page.message_boxes(), IsEmpty());
  EXPECT_THAT(tap->requests, IsEmpty());
  EXPECT_EQ(h.station.firmware_path[0], '\0');
}

TEST_F(FirmwareUpgradeTest, RejectedChunksAreSentAgain) {
  SimulatedUnitConfig config;
  config.faults.reject_every = 4;
  Connect(config);
  const std::vector<uint8_t> firmware = FirmwareBytes(10241);
  WriteBytes("unit.nvm", firmware);
  h.page.QueueFileDialogAnswer(PathOf("unit.nvm"));
  EXPECT_TRUE(UpgradeFirmware(h.station));
  EXPECT_EQ(h.page.message_boxes().size(), 3u);  // sends 4, 8 and 12 of 14
  EXPECT_EQ(tap->Of(kVsWrModReq).size(), 14u);
  EXPECT_EQ(unit->Firmware(), firmware);
  EXPECT_EQ(h.page.StatusTexts().back(), "Waiting...");
}

TEST_F(FirmwareUpgradeTest, StalledUnitEndsTheLoopWithoutCommit) {
  SimulatedUnitConfig config;
  config.faults.silent_after = 0;  // answers nothing: the station still thinks it is there
  config.mac = kUnitMac;
  h.AddAdapter("eth0", kAdapter0);
  unit = &h.Plug("eth0", config);
  tap = std::make_unique<Tap>(*unit);
  h.driver.AttachPeer("eth0", tap.get());
  h.station.adapters.CurrentAdapter = 0;
  OpenAllAdapters(h.station.adapters);
  h.station.adapters.records[0].DeviceMac = kUnitMac;

  WriteBytes("unit.nvm", FirmwareBytes(5000));
  h.page.QueueFileDialogAnswer(PathOf("unit.nvm"));
  const uint32_t start = h.clock.TickCount();
  EXPECT_TRUE(UpgradeFirmware(h.station));
  EXPECT_LT(h.clock.TickCount() - start, 5000u) << "virtual ms spent on a silent unit";
  EXPECT_THAT(h.page.StatusTexts(), ElementsAre("File bytes: 5000"));
  EXPECT_GT(tap->Of(kVsWrModReq).size(), 1u);
  EXPECT_THAT(tap->Of(kVsModCommitReq), IsEmpty());
  for (const SentRequest& write : tap->Of(kVsWrModReq)) EXPECT_EQ(write.offset, 0u);
}

using ReadFirmwareFileTest = InTempDir;

TEST_F(ReadFirmwareFileTest, ReadsInPiecesUpToTheImageAndRefusesMore) {
  const auto image = std::make_unique<uint8_t[]>(kFirmwareImageSize + 16);
  for (size_t size : {size_t{0}, size_t{10240}, size_t{10241}, kLargest}) {
    WriteBytes("piece.nvm", FirmwareBytes(size));
    size_t length = 99;
    std::fill_n(image.get(), kFirmwareImageSize + 16, uint8_t{0xEE});
    ASSERT_EQ(ReadFirmwareFile("piece.nvm", image.get(), &length), FirmwareReadResult::kOk);
    EXPECT_EQ(length, size);
    const std::vector<uint8_t> expected = FirmwareBytes(size);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.get())) << size;
    EXPECT_EQ(image[kFirmwareImageSize], 0xEE) << "written past the image";
  }
  WriteBytes("big.nvm", FirmwareBytes(kLargest + 1));
  size_t length = 99;
  EXPECT_EQ(ReadFirmwareFile("big.nvm", image.get(), &length), FirmwareReadResult::kTooLarge);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(image[kFirmwareImageSize], 0xEE);
  EXPECT_EQ(ReadFirmwareFile("none.nvm", image.get(), &length), FirmwareReadResult::kCannotOpen);
  EXPECT_EQ(ReadFirmwareFile(".", image.get(), &length), FirmwareReadResult::kNotAFile);
  ASSERT_EQ(::mkfifo("fifo.nvm", 0600), 0);
  EXPECT_EQ(ReadFirmwareFile("fifo.nvm", image.get(), &length), FirmwareReadResult::kNotAFile);
  EXPECT_EQ(ReadFirmwareFile("/proc/self/mem", image.get(), &length),
            FirmwareReadResult::kReadError);
  EXPECT_EQ(length, 0u);
}

}  // namespace
}  // namespace stampwright::station_test
