#include "base/mac_address.h"

#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "base/text.h"

namespace stampwright {
namespace {

TEST(MacAddress, FormatsUpperCaseWithColons) {
  const MacAddress mac{{0x00, 0x1a, 0xb2, 0x0c, 0xde, 0xff}};
  EXPECT_EQ(mac.ToString(), "00:1A:B2:0C:DE:FF");
}

TEST(MacAddress, ParsesSeparatedAndBareForms) {
  const MacAddress expected{{0x02, 0xAB, 0xCD, 0x01, 0x02, 0x03}};
  EXPECT_EQ(MacAddress::Parse("02:ab:cd:01:02:03"), expected);
  EXPECT_EQ(MacAddress::Parse("02-AB-CD-01-02-03"), expected);
  EXPECT_EQ(MacAddress::Parse("02ABCD010203"), expected);
}

TEST(MacAddress, RejectsMalformedText) {
  EXPECT_FALSE(MacAddress::Parse(""));
  EXPECT_FALSE(MacAddress::Parse("02ABCD01020"));
  EXPECT_FALSE(MacAddress::Parse("02ABCD01020G"));
  EXPECT_FALSE(MacAddress::Parse("02:AB:CD:01:02;03"));
}

TEST(ByteOrder, LittleAndBigEndianRoundTrip) {
  uint8_t buffer[4];
  StoreLe32(buffer, 0x11223344);
  EXPECT_EQ(buffer[0], 0x44);
  EXPECT_EQ(LoadLe32(buffer), 0x11223344u);
  StoreBe16(buffer, 0x88E1);
  EXPECT_EQ(buffer[0], 0x88);
  EXPECT_EQ(LoadBe16(buffer), 0x88E1);
  EXPECT_EQ(LoadLe16(buffer), 0xE188);
}

TEST(Text, FormatTextIsCutAt79Characters) {
  const std::string long_text(200, 'x');
  EXPECT_EQ(FormatText("%s", long_text.c_str()).size(), 79u);
  EXPECT_EQ(FormatText("checksum: %08x", 0xABCu), "checksum: 00000abc");
}

TEST(Text, HexBytesUsesUpperCasePairs) {
  const unsigned char bytes[] = {0x50, 0xD3, 0x0e};
  EXPECT_EQ(HexBytes(bytes, 3, " "), "50 D3 0E");
  EXPECT_EQ(HexBytes(bytes, 3, ""), "50D30E");
}

}  // namespace
}  // namespace stampwright
