#include "programming/parameter_module.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "base/byte_order.h"

namespace stampwright {
namespace {

// An image with every byte different from its neighbours, so a misplaced range shows.
ParameterModule PatternedImage(uint8_t format) {
  ParameterModule module;
  for (size_t i = 0; i < kModuleSize; ++i) module.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  module.bytes[0] = format;
  return module;
}

TEST(ModuleChecksum, ComplementOfXorOfLittleEndianWords) {
  EXPECT_EQ(ModuleChecksum(nullptr, 0), 0xFFFFFFFFu);
  const uint8_t one_two[] = {1, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(ModuleChecksum(one_two, 2), 0xFFFFFFFCu);
  const uint8_t word[] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(ModuleChecksum(word, 1), ~0x12345678u);
  // Only count words are read.
  const uint8_t longer[] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(ModuleChecksum(longer, 1), 0xFFFFFFFEu);
}

TEST(ModuleChecksum, ZeroTailOfAChunkAreaChangesNothing) {
  uint8_t area[1024] = {};
  for (size_t i = 0; i < 300; ++i) area[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(ModuleChecksum(area, 256), ModuleChecksum(area, 75));
}

TEST(ImageChecksum, CoverageDependsOnByteZeroOnly) {
  EXPECT_EQ(ImageChecksumWords(PatternedImage(2)), 1955u);
  EXPECT_EQ(ImageChecksumWords(PatternedImage(3)), 1966u);
  EXPECT_EQ(ImageChecksumWords(PatternedImage(0)), 1966u);
  ParameterModule module = PatternedImage(2);
  module.bytes[1] = 1;  // the 32-bit word at 0 is now 0x...0102, still format 2
  EXPECT_EQ(ImageChecksumWords(module), 1955u);
  module.bytes[1] = 0;
  module.bytes[0] = 0x82;  // only equality with 2 counts, not the low bits
  EXPECT_EQ(ImageChecksumWords(module), 1966u);
}

TEST(ImageChecksum, FormatTwoIgnoresTheLast44Bytes) {
  ParameterModule module = PatternedImage(2);
  const uint32_t before = UpdateImageChecksum(module);
  for (size_t offset : {size_t{7820}, size_t{7841}, size_t{7863}}) {
    ParameterModule changed = module;
    changed.bytes[offset] ^= 0xFF;
    EXPECT_EQ(UpdateImageChecksum(changed), before) << offset;
  }
  ParameterModule changed = module;
  changed.bytes[7819] ^= 0x01;  // the last covered byte
  EXPECT_NE(UpdateImageChecksum(changed), before);
}

TEST(ImageChecksum, OtherFormatsCoverTheWholeImage) {
  for (uint8_t format : {uint8_t{3}, uint8_t{0}}) {
    ParameterModule module = PatternedImage(format);
    const uint32_t before = UpdateImageChecksum(module);
    for (size_t offset : {size_t{7820}, size_t{7863}}) {
      ParameterModule changed = module;
      changed.bytes[offset] ^= 0x10;
      EXPECT_EQ(UpdateImageChecksum(changed), before ^ (0x10u << (8 * (offset % 4))))
          << int{format} << " " << offset;
    }
  }
}

TEST(ImageChecksum, StoredLittleEndianAtOffset8AndComputedWithTheFieldZero) {
  ParameterModule module = PatternedImage(3);
  ParameterModule zeroed = module;
  StoreLe32(&zeroed.bytes[8], 0);
  const uint32_t expected = ModuleChecksum(zeroed.bytes.data(), 1966);

  EXPECT_EQ(ExpectedImageChecksum(module), expected);
  const ParameterModule untouched = module;
  ExpectedImageChecksum(module);
  EXPECT_EQ(module.bytes, untouched.bytes);

  EXPECT_EQ(UpdateImageChecksum(module), expected);
  EXPECT_EQ(LoadLe32(&module.bytes[8]), expected);
  EXPECT_EQ(module.ImageChecksum(), expected);
  // Recomputing over an image that already carries its checksum gives the same value.
  EXPECT_EQ(UpdateImageChecksum(module), expected);
  EXPECT_EQ(ExpectedImageChecksum(module), expected);
  // Every other byte is untouched.
  for (size_t i = 0; i < kModuleSize; ++i) {
    if (i < 8 || i >= 12) {
      ASSERT_EQ(module.bytes[i], untouched.bytes[i]) << i;
    }
  }
}

TEST(ParameterModule, FieldsAtTheirOffsets) {
  ParameterModule module;
  const MacAddress mac{{0x00, 0xB0, 0x52, 0x01, 0x02, 0x03}};
  Key dak;
  Key nmk;
  for (size_t i = 0; i < kKeySize; ++i) {
    dak[i] = static_cast<uint8_t>(0x10 + i);
    nmk[i] = static_cast<uint8_t>(0x80 + i);
  }
  module.SetMacAddress(mac);
  module.SetDeviceAccessKey(dak);
  module.SetNetworkMembershipKey(nmk);
  module.SetImageChecksum(0xA1B2C3D4);
  module.SetCarrierValue(0, 0x11223344);
  module.SetCarrierValue(1154, 0x55667788);

  EXPECT_EQ(module.bytes[8], 0xD4);
  EXPECT_EQ(module.bytes[11], 0xA1);
  EXPECT_EQ(module.bytes[12], 0x00);
  EXPECT_EQ(module.bytes[17], 0x03);
  EXPECT_EQ(module.bytes[18], 0x10);  // DAK byte 0 right after the MAC
  EXPECT_EQ(module.bytes[33], 0x1F);
  EXPECT_EQ(module.bytes[34], 0x00);
  EXPECT_EQ(module.bytes[99], 0x00);
  EXPECT_EQ(module.bytes[100], 0x80);
  EXPECT_EQ(module.bytes[115], 0x8F);
  EXPECT_EQ(module.bytes[116], 0x00);
  EXPECT_EQ(module.bytes[2576], 0x44);
  EXPECT_EQ(module.bytes[2579], 0x11);
  EXPECT_EQ(module.bytes[7192], 0x88);
  EXPECT_EQ(module.bytes[7195], 0x55);
  EXPECT_EQ(module.bytes[7196], 0x00);

  EXPECT_EQ(module.GetMacAddress(), mac);
  EXPECT_EQ(module.GetDeviceAccessKey(), dak);
  EXPECT_EQ(module.GetNetworkMembershipKey(), nmk);
  EXPECT_EQ(module.CarrierValue(1154), 0x55667788u);
}

TEST(ParameterModule, CarrierIndexPastTheRegionIsHarmless) {
  ParameterModule module;
  module.bytes.fill(0xEE);
  const ParameterModule before = module;
  module.SetCarrierValue(kCarrierCount, 0);
  module.SetCarrierValue(SIZE_MAX / 4, 0);
  EXPECT_EQ(module.bytes, before.bytes);
  EXPECT_EQ(module.CarrierValue(kCarrierCount), 0u);
}

}  // namespace
}  // namespace stampwright
