// The simulated unit's image and the confirmations it answers with, byte by byte.
#include "simulated_unit_fixture.h"

namespace stampwright {
namespace {

TEST(SimulatedUnitImage, DefaultImageIsFormat2Px300WithItsMacAndAValidChecksum) {
  const ParameterModule image = DefaultUnitImage(kBurned);
  EXPECT_EQ(image.bytes[0], 2);
  EXPECT_EQ(image.GetMacAddress(), kBurned);
  EXPECT_EQ(IdentifyCarrierTable(image), ChipModel::kPx300);
  ParameterModule zeroed = image;  // the checksum covers words 0..1954 with itself taken as 0
  zeroed.SetImageChecksum(0);
  EXPECT_EQ(image.ImageChecksum(), XorChecksum(zeroed.bytes.data(), 7820));
  EXPECT_EQ(DefaultUnitImage(kBurned).bytes, image.bytes);  // deterministic
}

TEST(SimulatedUnitConfirmations, VersionCarriesChipTypeAndNulTerminatedText) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.chip_type = 1;
  config.version_text = "PX100-v3.0.2";
  SimulatedUnit unit(config);
  auto a = Exchange(unit, VersionQuery(), 100);
  ASSERT_TRUE(a);
  ExpectHeader(*a, 0xA001, kUnit);
  EXPECT_EQ((*a)[20], 0x00);
  EXPECT_EQ((*a)[21], 1);
  EXPECT_EQ((*a)[22], 12);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*a)[23])), "PX100-v3.0.2");
  EXPECT_EQ((*a)[23 + 12], 0);
  EXPECT_EQ(a->size(), 60u);  // padded to Ethernet's minimum

  // Unicast to this unit is answered too; unicast to someone else is not.
  EXPECT_TRUE(Exchange(unit, VersionQuery(kUnit), 200));
  EXPECT_FALSE(Exchange(unit, VersionQuery(kBurned), 300));
  EXPECT_EQ(unit.RequestCount(0xA000), 2u);
}

TEST(SimulatedUnitConfirmations, ReadCarriesStatusLengthOffsetChecksumAndData) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.image = PatternImage(kUnit);
  SimulatedUnit unit(config);

  auto a = Exchange(unit, ReadRequest(1024, 1024), 0);
  ASSERT_TRUE(a);
  ExpectHeader(*a, 0xA025, kUnit);
  EXPECT_EQ((*a)[20], 0);
  EXPECT_EQ(LoadLe16(&(*a)[26]), 1024);
  EXPECT_EQ(LoadLe32(&(*a)[28]), 1024u);
  EXPECT_EQ(LoadLe32(&(*a)[32]), XorChecksum(&config.image->bytes[1024], 1024));
  ASSERT_EQ(a->size(), 36u + 1024u);
  EXPECT_EQ(0, std::memcmp(&(*a)[36], &config.image->bytes[1024], 1024));

  // An odd length: the checksum completes the last word with zeros.
  a = Exchange(unit, ReadRequest(5, 3), 10);
  ASSERT_TRUE(a);
  EXPECT_EQ(LoadLe16(&(*a)[26]), 3);
  EXPECT_EQ(LoadLe32(&(*a)[32]), ~(uint32_t{config.image->bytes[5]} |
                                   uint32_t{config.image->bytes[6]} << 8 |
                                   uint32_t{config.image->bytes[7]} << 16));
  EXPECT_EQ(a->size(), 60u);
}

TEST(SimulatedUnitConfirmations, ReadNeverDeliversPastTheImageOrTheChunk) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  auto a = Exchange(unit, ReadRequest(7168, 1024), 0);  // 696 bytes are left
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0);
  EXPECT_EQ(LoadLe16(&(*a)[26]), 696);
  EXPECT_EQ(a->size(), 36u + 696u);

  a = Exchange(unit, ReadRequest(0, 2000), 10);
  ASSERT_TRUE(a);
  EXPECT_EQ(LoadLe16(&(*a)[26]), 1024);

  a = Exchange(unit, ReadRequest(7864, 16), 20);
  ASSERT_TRUE(a);
  EXPECT_NE((*a)[20], 0);
  EXPECT_EQ(LoadLe16(&(*a)[26]), 0);
  EXPECT_EQ(LoadLe32(&(*a)[28]), 7864u);

  a = Exchange(unit, ReadRequest(0, 16, /*module=*/1), 30);
  ASSERT_TRUE(a);
  EXPECT_NE((*a)[20], 0);

  std::vector<uint8_t> truncated = ReadRequest(0, 16);
  truncated.resize(24);  // offset missing
  a = Exchange(unit, truncated, 40);
  ASSERT_TRUE(a);
  EXPECT_NE((*a)[20], 0);
}

TEST(SimulatedUnitConfirmations, ReadingTheWholeImageByChunksGivesTheConfiguredImage) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.image = PatternImage(kUnit);
  SimulatedUnit unit(config);
  std::vector<uint8_t> collected;
  uint32_t now = 0;
  while (collected.size() < kModuleSize) {
    const auto length = static_cast<uint16_t>(std::min<size_t>(1024, kModuleSize - collected.size()));
    auto a = Exchange(unit, ReadRequest(static_cast<uint32_t>(collected.size()), length), now += 50);
    ASSERT_TRUE(a);
    // Through the station's own parser: the unit and the station agree on the layout.
    const auto read = ParseReadConfirmation(FrameReader(a->data(), a->size()));
    ASSERT_TRUE(read && read->data_complete);
    ASSERT_EQ(read->status, 0);
    ASSERT_EQ(read->offset, collected.size());
    ASSERT_EQ(read->length, length);
    collected.insert(collected.end(), read->data.begin(), read->data.end());
  }
  EXPECT_EQ(0, std::memcmp(collected.data(), config.image->bytes.data(), kModuleSize));
  EXPECT_EQ(unit.RequestCount(0xA024), 8u);
}

TEST(SimulatedUnitConfirmations, WriteCarriesStatusLengthAndOffset) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  std::vector<uint8_t> data(696, 0xA5);
  auto a = Exchange(unit, WriteRequest(7168, data.data(), 696), 0);
  ASSERT_TRUE(a);
  ExpectHeader(*a, 0xA021, kUnit);
  EXPECT_EQ((*a)[20], 0);
  EXPECT_EQ(LoadLe16(&(*a)[23]), 696);
  EXPECT_EQ(LoadLe32(&(*a)[25]), 7168u);
  EXPECT_EQ(a->size(), 60u);
  const auto write = ParseWriteConfirmation(FrameReader(a->data(), a->size()));
  ASSERT_TRUE(write);
  EXPECT_EQ(write->length, 696);
  EXPECT_EQ(write->offset, 7168u);
}

TEST(SimulatedUnitConfirmations, WriteWithBadChecksumOrOutOfRangeIsRefused) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  std::vector<uint8_t> data(1024, 0x11);
  std::vector<uint8_t> bad = WriteRequest(0, data.data(), 1024);
  bad[28] ^= 0x01;
  auto a = Exchange(unit, bad, 0);
  ASSERT_TRUE(a);
  EXPECT_NE((*a)[20], 0);

  a = Exchange(unit, WriteRequest(7000, data.data(), 1024), 10);  // past 7864
  ASSERT_TRUE(a);
  EXPECT_NE((*a)[20], 0);

  std::vector<uint8_t> oversize = WriteRequest(0, data.data(), 1024);
  StoreLe16(&oversize[22], 1025);
  a = Exchange(unit, oversize, 20);
  ASSERT_TRUE(a);
  EXPECT_NE((*a)[20], 0);

  std::vector<uint8_t> truncated = WriteRequest(0, data.data(), 16);
  truncated.resize(100);  // shorter than the data area it claims
  a = Exchange(unit, truncated, 30);
  ASSERT_TRUE(a);
  EXPECT_NE((*a)[20], 0);
}

}  // namespace
}  // namespace stampwright
