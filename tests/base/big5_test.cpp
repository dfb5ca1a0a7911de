#include "base/big5.h"

#include <gtest/gtest.h>

namespace stampwright {
namespace {

TEST(Big5, AsciiPassesThrough) { EXPECT_EQ(Big5ToUtf8("Read Module OK"), "Read Module OK"); }

TEST(Big5, ConvertsTheChipWarning) {
  const std::string big5 = "\xA4\xA3\xAC\x4F PX100 Class B, \xBD\xD0\xA7\xF3\xB4\xAB!!";
  EXPECT_EQ(Big5ToUtf8(big5), "不是 PX100 Class B, 請更換!!");
}

TEST(Big5, UndecodableBytesBecomeReplacementCharacters) {
  const std::string converted = Big5ToUtf8("A\xFF" "B");
  EXPECT_EQ(converted.front(), 'A');
  EXPECT_EQ(converted.back(), 'B');
  EXPECT_NE(converted.find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(Big5, TruncatedLeadByteDoesNotHang) {
  const std::string converted = Big5ToUtf8("ok\xA4");
  EXPECT_EQ(converted.substr(0, 2), "ok");
}

}  // namespace
}  // namespace stampwright
