// Commits: what the unit refuses, what it keeps in flash, and its restart.
#include "simulated_unit_fixture.h"

namespace stampwright {
namespace {

TEST(SimulatedUnitCommit, MissingChunkOrBadImageChecksumIsRefusedAndFlashKept) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  const ParameterModule before = unit.Flash();
  ParameterModule image = DefaultUnitImage(kBurned);

  // All chunks but the third.
  for (uint32_t offset = 0; offset < kModuleSize; offset += 1024) {
    if (offset == 2048) continue;
    const auto length = static_cast<uint16_t>(std::min<size_t>(1024, kModuleSize - offset));
    Exchange(unit, WriteRequest(offset, &image.bytes[offset], length), 0);
  }
  auto a = Exchange(unit, CommitRequest(2), 10);
  ASSERT_TRUE(a);
  ExpectHeader(*a, 0xA029, kUnit);
  EXPECT_EQ((*a)[20], 0x01);
  EXPECT_EQ(unit.Flash().bytes, before.bytes);
  EXPECT_EQ(unit.ParameterCommits(), 0u);

  // Every chunk, but the image checksum is off by one bit.
  image.bytes[500] ^= 0x80;
  EXPECT_EQ(WriteImage(unit, image, 20), 8);
  a = Exchange(unit, CommitRequest(2), 30);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x01);
  EXPECT_EQ(unit.Flash().bytes, before.bytes);

  // No restart: still answering under the old MAC.
  a = Exchange(unit, VersionQuery(), 40);
  ASSERT_TRUE(a);
  EXPECT_EQ(MacAddress::FromBytes(&(*a)[6]), kUnit);
}

TEST(SimulatedUnitCommit, BadChecksumChunkIsNotStored) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  const ParameterModule image = DefaultUnitImage(kBurned);
  EXPECT_EQ(WriteImage(unit, image, 0), 8);
  // A corrupted rewrite of chunk 0 is refused and leaves the good chunk staged.
  std::vector<uint8_t> junk(1024, 0xEE);
  std::vector<uint8_t> bad = WriteRequest(0, junk.data(), 1024);
  bad[28] ^= 0xFF;
  auto a = Exchange(unit, bad, 10);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x02);
  a = Exchange(unit, CommitRequest(2), 20);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x00);
  EXPECT_EQ(unit.Flash().bytes, image.bytes);
}

TEST(SimulatedUnitCommit, AcceptedCommitRestartsSilentlyAndReturnsUnderTheImageMac) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.latency_ms = 3;
  config.restart_ms = 1000;
  config.commit_status = 0x46;
  SimulatedUnit unit(config);
  const ParameterModule image = DefaultUnitImage(kBurned);
  ASSERT_EQ(WriteImage(unit, image, 0), 8);

  auto a = Exchange(unit, CommitRequest(2), 100);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x46);
  EXPECT_EQ(MacAddress::FromBytes(&(*a)[6]), kUnit);  // the answer still comes from the old MAC
  EXPECT_EQ(unit.ParameterCommits(), 1u);
  EXPECT_EQ(unit.Flash().bytes, image.bytes);

  // Restarting until 100 + 3 + 1000: nothing is answered, broadcast or unicast.
  EXPECT_TRUE(unit.IsRestarting(1102));
  EXPECT_FALSE(Exchange(unit, VersionQuery(), 500));
  EXPECT_FALSE(Exchange(unit, ReadRequest(0, 16, 2, kBurned), 1102));
  EXPECT_FALSE(unit.NextFrameDue());

  a = Exchange(unit, VersionQuery(), 1103);
  ASSERT_TRUE(a);
  EXPECT_EQ(MacAddress::FromBytes(&(*a)[6]), kBurned);
  EXPECT_EQ(unit.CurrentMac(), kBurned);
  EXPECT_FALSE(Exchange(unit, ReadRequest(0, 16, 2, kUnit), 1200));  // the old MAC is gone
  a = Exchange(unit, ReadRequest(12, 6, 2, kBurned), 1300);
  ASSERT_TRUE(a);
  EXPECT_EQ(MacAddress::FromBytes(&(*a)[36]), kBurned);

  // Staging was consumed by the commit: a second commit needs a new image.
  a = Exchange(unit, CommitRequest(2, kBurned), 1400);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x01);
}

TEST(SimulatedUnitCommit, FirmwareIsStagedAndKeptOnCommit) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  std::vector<uint8_t> firmware(2050);
  for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<uint8_t>(i ^ 0x5A);

  // A gap (the second chunk missing) is refused.
  Exchange(unit, WriteRequest(0, &firmware[0], 1024, 1), 0);
  Exchange(unit, WriteRequest(2048, &firmware[2048], 2, 1), 10);
  auto a = Exchange(unit, CommitRequest(1), 20);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x01);
  EXPECT_TRUE(unit.Firmware().empty());

  Exchange(unit, WriteRequest(0, &firmware[0], 1024, 1), 30);
  Exchange(unit, WriteRequest(1024, &firmware[1024], 1024, 1), 40);
  Exchange(unit, WriteRequest(2048, &firmware[2048], 2, 1), 50);
  a = Exchange(unit, CommitRequest(1), 60);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x00);
  EXPECT_EQ(unit.Firmware(), firmware);
  EXPECT_EQ(unit.FirmwareCommits(), 1u);
  EXPECT_FALSE(unit.IsRestarting(61));

  // Nothing staged: refused.
  a = Exchange(unit, CommitRequest(1), 70);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0x01);
}

}  // namespace
}  // namespace stampwright
