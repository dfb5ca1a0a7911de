#include "protocol/simulated_unit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "base/byte_order.h"
#include "programming/carrier_table.h"

namespace stampwright {
namespace {

const MacAddress kStation{{0x02, 0x5A, 0x00, 0x00, 0x00, 0x01}};
const MacAddress kUnit{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}};
const MacAddress kBurned{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
constexpr Oui kOui = {0x00, 0xB0, 0x52};

// Independent of the code under test: the XOR of little-endian words, complemented.
uint32_t XorChecksum(const uint8_t* data, size_t bytes) {
  uint32_t acc = 0;
  for (size_t i = 0; i < bytes; i += 4) {
    uint32_t word = 0;
    for (size_t b = 0; b < 4 && i + b < bytes; ++b) word |= uint32_t{data[i + b]} << (8 * b);
    acc ^= word;
  }
  return ~acc;
}

// Requests written out field by field, as the station lays them out.
std::vector<uint8_t> Request(uint16_t mmtype, const MacAddress& destination, size_t length,
                             const Oui& oui = kOui) {
  std::vector<uint8_t> f(length, 0);
  destination.CopyTo(&f[0]);
  kStation.CopyTo(&f[6]);
  f[12] = 0x88;
  f[13] = 0xE1;
  StoreLe16(&f[15], mmtype);
  std::memcpy(&f[17], oui.data(), 3);
  return f;
}

std::vector<uint8_t> VersionQuery(const MacAddress& destination = MacAddress::Broadcast(),
                                  const Oui& oui = kOui) {
  return Request(0xA000, destination, 1510, oui);
}

std::vector<uint8_t> ReadRequest(uint32_t offset, uint16_t length, uint16_t module = 2,
                                 const MacAddress& destination = kUnit) {
  std::vector<uint8_t> f = Request(0xA024, destination, 1496);
  StoreLe16(&f[20], module);
  StoreLe16(&f[22], length);
  StoreLe32(&f[24], offset);
  return f;
}

std::vector<uint8_t> WriteRequest(uint32_t offset, const uint8_t* data, uint16_t length,
                                  uint16_t module = 2, const MacAddress& destination = kUnit) {
  std::vector<uint8_t> f = Request(0xA020, destination, 1070);
  StoreLe16(&f[20], module);
  StoreLe16(&f[22], length);
  StoreLe32(&f[24], offset);
  std::memcpy(&f[32], data, length);
  StoreLe32(&f[28], XorChecksum(&f[32], 1024));
  std::memset(&f[1056], 0xCD, 14);
  return f;
}

std::vector<uint8_t> CommitRequest(uint8_t module, const MacAddress& destination = kUnit) {
  std::vector<uint8_t> f = Request(0xA028, destination, 60);
  f[20] = module;
  return f;
}

// Hands a request to the unit at `now` and takes what it answers once its latency is over.
std::optional<std::vector<uint8_t>> Exchange(SimulatedUnit& unit, const std::vector<uint8_t>& f,
                                             uint32_t now) {
  unit.OnFrame(f.data(), f.size(), now);
  std::vector<uint8_t> answer;
  if (!unit.TakeFrame(now + unit.config().latency_ms, &answer)) return std::nullopt;
  return answer;
}

// Writes the whole image in 1024-byte chunks; returns how many writes were accepted.
int WriteImage(SimulatedUnit& unit, const ParameterModule& image, uint32_t now) {
  int accepted = 0;
  for (uint32_t offset = 0; offset < kModuleSize; offset += 1024) {
    const auto length = static_cast<uint16_t>(std::min<size_t>(1024, kModuleSize - offset));
    auto answer = Exchange(unit, WriteRequest(offset, &image.bytes[offset], length), now);
    if (answer && (*answer)[20] == 0) ++accepted;
  }
  return accepted;
}

void ExpectHeader(const std::vector<uint8_t>& a, uint16_t mmtype, const MacAddress& source) {
  ASSERT_GE(a.size(), 60u);
  EXPECT_EQ(MacAddress::FromBytes(&a[0]), kStation);
  EXPECT_EQ(MacAddress::FromBytes(&a[6]), source);
  EXPECT_EQ(a[12], 0x88);
  EXPECT_EQ(a[13], 0xE1);
  EXPECT_EQ(a[14], 0x00);
  EXPECT_EQ(LoadLe16(&a[15]), mmtype);
  EXPECT_EQ(a[17], kOui[0]);
  EXPECT_EQ(a[18], kOui[1]);
  EXPECT_EQ(a[19], kOui[2]);
}

ParameterModule PatternImage(const MacAddress& mac) {
  ParameterModule image;
  for (size_t i = 0; i < kModuleSize; ++i) image.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  image.bytes[0] = 2;
  image.SetMacAddress(mac);
  UpdateImageChecksum(image);
  return image;
}

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
    ASSERT_EQ(LoadLe32(&(*a)[28]), collected.size());
    const uint16_t got = LoadLe16(&(*a)[26]);
    ASSERT_GT(got, 0);
    collected.insert(collected.end(), a->begin() + 36, a->begin() + 36 + got);
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

TEST(SimulatedUnitFilter, IgnoresOtherOuiEthertypeUnknownTypesAndOtherDestinations) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  EXPECT_FALSE(Exchange(unit, VersionQuery(MacAddress::Broadcast(), {0x02, 0x12, 0x34}), 0));

  std::vector<uint8_t> ipv4 = VersionQuery();
  ipv4[12] = 0x08;
  ipv4[13] = 0x00;
  EXPECT_FALSE(Exchange(unit, ipv4, 10));

  EXPECT_FALSE(Exchange(unit, Request(0xA030, kUnit, 60), 20));
  EXPECT_FALSE(Exchange(unit, Request(0xA001, kUnit, 60), 30));  // a confirmation, not a request
  EXPECT_FALSE(Exchange(unit, ReadRequest(0, 16, 2, MacAddress::Broadcast()), 40));
  std::vector<uint8_t> runt = VersionQuery();
  runt.resize(19);
  EXPECT_FALSE(Exchange(unit, runt, 50));
  EXPECT_EQ(unit.RequestCount(0xA000) + unit.RequestCount(0xA024), 0u);

  // A unit configured for another OUI answers it and echoes it.
  config.oui = {0x02, 0x12, 0x34};
  SimulatedUnit other(config);
  auto a = Exchange(other, VersionQuery(MacAddress::Broadcast(), {0x02, 0x12, 0x34}), 0);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[17], 0x02);
  EXPECT_EQ((*a)[18], 0x12);
  EXPECT_EQ((*a)[19], 0x34);
  EXPECT_FALSE(Exchange(other, VersionQuery(), 10));
}

TEST(SimulatedUnitTiming, AnswersAreDueAfterTheLatencyAcrossTheTickWrap) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.latency_ms = 20;
  SimulatedUnit unit(config);
  const std::vector<uint8_t> q = VersionQuery();
  const uint32_t now = 0xFFFFFFF0u;
  unit.OnFrame(q.data(), q.size(), now);
  ASSERT_TRUE(unit.NextFrameDue());
  EXPECT_EQ(*unit.NextFrameDue(), now + 20);  // wraps to 4
  std::vector<uint8_t> answer;
  EXPECT_FALSE(unit.TakeFrame(now + 19, &answer));
  EXPECT_FALSE(unit.TakeFrame(0xFFFFFFFFu, &answer));
  EXPECT_TRUE(unit.TakeFrame(4, &answer));
  EXPECT_FALSE(unit.TakeFrame(5, &answer));
}

TEST(SimulatedUnitFaults, DropsAShareOfRequestsDeterministically) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.faults.drop_percent = 30;
  config.faults.seed = 42;
  SimulatedUnit first(config);
  SimulatedUnit second(config);
  std::vector<bool> answered_first, answered_second;
  for (uint32_t i = 0; i < 1000; ++i) {
    answered_first.push_back(Exchange(first, VersionQuery(), i * 10).has_value());
    answered_second.push_back(Exchange(second, VersionQuery(), i * 10).has_value());
  }
  EXPECT_EQ(answered_first, answered_second);
  EXPECT_GT(first.DroppedRequests(), 230u);
  EXPECT_LT(first.DroppedRequests(), 370u);
  EXPECT_EQ(first.DroppedRequests() + first.RequestCount(0xA000), 1000u);

  config.faults.seed = 43;
  SimulatedUnit third(config);
  std::vector<bool> answered_third;
  for (uint32_t i = 0; i < 1000; ++i) {
    answered_third.push_back(Exchange(third, VersionQuery(), i * 10).has_value());
  }
  EXPECT_NE(answered_first, answered_third);

  config.faults.drop_percent = 100;
  SimulatedUnit deaf(config);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_FALSE(Exchange(deaf, VersionQuery(), i));
}

TEST(SimulatedUnitFaults, RejectsEveryNthWriteAndSkewsOneOffset) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.faults.reject_every = 3;
  config.faults.wrong_offset_at = 2;
  SimulatedUnit unit(config);
  std::vector<uint8_t> data(64, 0x42);
  std::vector<uint8_t> statuses;
  std::vector<uint32_t> offsets;
  for (uint32_t i = 0; i < 6; ++i) {
    auto a = Exchange(unit, WriteRequest(i * 64, data.data(), 64), i * 10);
    ASSERT_TRUE(a);
    statuses.push_back((*a)[20]);
    offsets.push_back(LoadLe32(&(*a)[25]));
  }
  EXPECT_EQ(statuses, (std::vector<uint8_t>{0, 0, 3, 0, 0, 3}));
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 65, 128, 192, 256, 320}));
}

TEST(SimulatedUnitFaults, GoesSilentAfterNRequests) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.faults.silent_after = 2;
  SimulatedUnit unit(config);
  EXPECT_TRUE(Exchange(unit, VersionQuery(), 0));
  EXPECT_TRUE(Exchange(unit, ReadRequest(0, 16), 10));
  EXPECT_FALSE(Exchange(unit, VersionQuery(), 20));
  EXPECT_FALSE(Exchange(unit, ReadRequest(0, 16), 30));
}

TEST(SimulatedUnitFaults, ReturnsUnderAnotherMacThanTheImageSays) {
  const MacAddress stray{{0x02, 0xEE, 0xEE, 0xEE, 0xEE, 0x01}};
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.restart_ms = 100;
  config.faults.return_mac = stray;
  SimulatedUnit unit(config);
  ASSERT_EQ(WriteImage(unit, DefaultUnitImage(kBurned), 0), 8);
  auto a = Exchange(unit, CommitRequest(2), 10);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0);
  a = Exchange(unit, VersionQuery(), 500);
  ASSERT_TRUE(a);
  EXPECT_EQ(MacAddress::FromBytes(&(*a)[6]), stray);
  EXPECT_EQ(unit.Flash().GetMacAddress(), kBurned);
}

}  // namespace
}  // namespace stampwright
