// The capture: pcapng blocks read back field by field, against the frames that really passed.

#include "transport/capturing_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "support/virtual_wire.h"
#include "transport/pcapng_file.h"

namespace stampwright {
namespace {

using transport_test::AnsweringPeer;
using transport_test::HomePlugFrame;
using transport_test::Mac;
using transport_test::MakeFrame;

struct Block {
  uint32_t type = 0;
  std::vector<uint8_t> body;  // between the leading length and the trailing one
};

// Splits a pcapng file into blocks, checking that both length fields agree and are aligned.
std::vector<Block> ReadBlocks(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  std::vector<Block> blocks;
  size_t at = 0;
  while (at + 12 <= bytes.size()) {
    const uint32_t length = LoadLe32(&bytes[at + 4]);
    EXPECT_EQ(length % 4, 0u);
    if (length < 12 || at + length > bytes.size()) {
      ADD_FAILURE() << "block at " << at << " runs past the file";
      break;
    }
    EXPECT_EQ(LoadLe32(&bytes[at + length - 4]), length) << "trailing length of block at " << at;
    blocks.push_back({LoadLe32(&bytes[at]),
                      std::vector<uint8_t>(bytes.begin() + static_cast<long>(at) + 8,
                                           bytes.begin() + static_cast<long>(at + length) - 4)});
    at += length;
  }
  EXPECT_EQ(at, bytes.size());
  return blocks;
}

// Options from the given offset of a block body: code -> value.
std::vector<std::pair<uint16_t, std::vector<uint8_t>>> Options(const std::vector<uint8_t>& body,
                                                              size_t at) {
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> options;
  while (at + 4 <= body.size()) {
    const uint16_t code = LoadLe16(&body[at]);
    const uint16_t length = LoadLe16(&body[at + 2]);
    if (code == 0) break;
    options.push_back({code, std::vector<uint8_t>(body.begin() + static_cast<long>(at) + 4,
                                                  body.begin() + static_cast<long>(at) + 4 + length)});
    at += 4 + ((length + 3u) & ~3u);
  }
  return options;
}

struct Packet {
  uint32_t interface_id;
  uint64_t microseconds;
  std::vector<uint8_t> frame;
  uint32_t direction;
};

Packet ReadPacket(const Block& block) {
  const auto& b = block.body;
  Packet packet;
  packet.interface_id = LoadLe32(&b[0]);
  packet.microseconds = (uint64_t{LoadLe32(&b[4])} << 32) | LoadLe32(&b[8]);
  const uint32_t captured = LoadLe32(&b[12]);
  EXPECT_EQ(LoadLe32(&b[16]), captured);
  packet.frame.assign(b.begin() + 20, b.begin() + 20 + captured);
  const auto options = Options(b, 20 + ((captured + 3u) & ~3u));
  EXPECT_EQ(options.size(), 1u);
  packet.direction = options.empty() ? 0 : LoadLe32(options[0].second.data());
  return packet;
}

class CapturingDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "capture-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::filesystem::remove(pattern);  // the capture creates it
    path_ = pattern;
  }
  void TearDown() override { std::filesystem::remove(path_); }

  std::string path_;
};

TEST_F(CapturingDriverTest, EveryManagementFrameEachWayOnEveryAdapterWithItsInterfaceAndDirection) {
  VirtualClock clock(1000);
  VirtualDriver inner(clock, 1);
  inner.AddAdapter("eth0", Mac(0x10));
  inner.AddAdapter("eth1", Mac(0x11));
  AnsweringPeer peer0(2), peer1(2);
  inner.AttachPeer("eth0", &peer0);
  inner.AttachPeer("eth1", &peer1);
  std::string error;
  auto capture = PcapngFile::Open(path_, &error);
  ASSERT_TRUE(capture) << error;
  CapturingDriver driver(inner, *capture);

  const auto h0 = driver.OpenAdapter("eth0");
  const auto h1 = driver.OpenAdapter("eth1");
  ASSERT_TRUE(driver.SetPacketFilter(h0, kPacketFilterPromiscuous));
  ASSERT_TRUE(driver.SetPacketFilter(h1, kPacketFilterPromiscuous));
  const auto on0 = HomePlugFrame(1496 - 14, 7);
  const auto on1 = HomePlugFrame(60 - 14, 9);
  const auto ip = MakeFrame(Mac(1), Mac(0x10), 0x0800, 46);
  ASSERT_TRUE(driver.SendPacket(h0, on0.data(), on0.size()));
  ASSERT_TRUE(driver.SendPacket(h0, ip.data(), ip.size()));  // sent, never captured
  ASSERT_TRUE(driver.SendPacket(h1, on1.data(), on1.size()));
  clock.Sleep(10);
  // The caller's buffer cuts the answer; the capture keeps it whole.
  std::vector<uint8_t> small(100);
  ASSERT_EQ(driver.ReceivePacket(h0, small.data(), small.size()), 100u);
  EXPECT_TRUE(std::equal(small.begin(), small.begin() + 6, on0.begin() + 6));
  EXPECT_TRUE(std::equal(small.begin() + 12, small.end(), on0.begin() + 12));
  std::vector<uint8_t> buffer(1500);
  ASSERT_GT(driver.ReceivePacket(h0, buffer.data(), buffer.size()), 0u);  // the IP frame's echo
  ASSERT_EQ(driver.ReceivePacket(h1, buffer.data(), buffer.size()), on1.size());
  // Reopened: same interface id, no second description.
  driver.CloseAdapter(h1);
  const auto h1_again = driver.OpenAdapter("eth1");
  ASSERT_NE(h1_again, h1);
  ASSERT_TRUE(driver.SendPacket(h1_again, on1.data(), on1.size()));

  const auto blocks = ReadBlocks(path_);
  ASSERT_EQ(blocks.size(), 1u + 2u + 5u);
  EXPECT_EQ(blocks[0].type, 0x0A0D0D0Au);
  EXPECT_EQ(LoadLe32(&blocks[0].body[0]), 0x1A2B3C4Du);
  EXPECT_EQ(LoadLe16(&blocks[0].body[4]), 1u);

  std::vector<std::string> names;
  for (int i = 1; i <= 2; ++i) {
    ASSERT_EQ(blocks[i].type, 1u);
    EXPECT_EQ(LoadLe16(&blocks[i].body[0]), 1u);  // Ethernet
    std::string name;
    uint8_t resolution = 0;
    for (const auto& [code, value] : Options(blocks[i].body, 8)) {
      if (code == 2) name.assign(value.begin(), value.end());
      if (code == 9 && value.size() == 1) resolution = value[0];
    }
    names.push_back(name);
    EXPECT_EQ(resolution, 6) << "microseconds";
  }
  EXPECT_EQ(names, (std::vector<std::string>{"eth0", "eth1"}));

  std::vector<Packet> packets;
  for (size_t i = 3; i < blocks.size(); ++i) {
    ASSERT_EQ(blocks[i].type, 6u);
    packets.push_back(ReadPacket(blocks[i]));
  }
  EXPECT_EQ(packets[0].frame, on0);
  EXPECT_EQ(packets[0].interface_id, 0u);
  EXPECT_EQ(packets[0].direction, 2u);
  EXPECT_EQ(packets[1].frame, on1);
  EXPECT_EQ(packets[1].interface_id, 1u);
  // The answer on eth0, whole: 1496 bytes, addresses swapped.
  EXPECT_EQ(packets[2].frame.size(), on0.size());
  EXPECT_EQ(packets[2].interface_id, 0u);
  EXPECT_EQ(packets[2].direction, 1u);
  EXPECT_TRUE(std::equal(on0.begin() + 12, on0.end(), packets[2].frame.begin() + 12));
  EXPECT_EQ(packets[3].direction, 1u);
  EXPECT_EQ(packets[3].interface_id, 1u);
  EXPECT_EQ(packets[4].interface_id, 1u);
  EXPECT_EQ(packets[4].direction, 2u);
  for (size_t i = 1; i < packets.size(); ++i) {
    EXPECT_GE(packets[i].microseconds, packets[i - 1].microseconds);
  }
  EXPECT_GT(packets[0].microseconds, 1'600'000'000'000'000u);  // wall time, not the test clock
}

TEST_F(CapturingDriverTest, ASecondRunAppendsASectionAndOtherFilesAreRefused) {
  std::string error;
  {
    auto first = PcapngFile::Open(path_, &error);
    ASSERT_TRUE(first) << error;
    first->InterfaceId("eth0");
  }
  {
    auto second = PcapngFile::Open(path_, &error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(second->InterfaceId("eth9"), 0u);  // ids start again in the new section
  }
  const auto blocks = ReadBlocks(path_);
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0].type, 0x0A0D0D0Au);
  EXPECT_EQ(blocks[1].type, 1u);
  EXPECT_EQ(blocks[2].type, 0x0A0D0D0Au);
  EXPECT_EQ(blocks[3].type, 1u);

  const std::string other = path_ + ".txt";
  std::ofstream(other) << "not a capture\n";
  EXPECT_FALSE(PcapngFile::Open(other, &error));
  EXPECT_NE(error.find("something else than a pcapng capture"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(other), 14u);  // left as it was
  std::filesystem::remove(other);
  EXPECT_FALSE(PcapngFile::Open(std::filesystem::temp_directory_path().string(), &error));
  EXPECT_FALSE(PcapngFile::Open("/nonexistent-dir/capture.pcapng", &error));
  EXPECT_NE(error.find("/nonexistent-dir/capture.pcapng"), std::string::npos);
}

}  // namespace
}  // namespace stampwright
