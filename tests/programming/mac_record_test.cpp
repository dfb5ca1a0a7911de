// The record layout: MAC digits and password characters at their positions.
#include "mac_database_fixture.h"

namespace stampwright {
namespace {

TEST(MacRecordLayout, EncodePlacesDigitsAndPasswordAtTheirPositions) {
  std::string expected = kGoldenRecord;
  expected[21] = kMacRecordFiller;
  EXPECT_EQ(EncodeMacRecord(kGoldenMac, "ABCDEFGHIJKLMNOP"), expected);
}

TEST(MacRecordLayout, DecodeReadsTheGoldenRecord) {
  const auto record = DecodeMacRecord(std::string(kGoldenRecord) + "\n");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->mac_text, kGoldenMac);
  EXPECT_EQ(record->password_text, kGoldenPassword);
  EXPECT_EQ(DecodeMacRecord(kGoldenRecord, "0AFFFF")->mac_text, "0AFFFF123456");
}

TEST(MacRecordLayout, EncodeThenDecodeRoundTripsAnyCharacters) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string mac = "02A0C5", password;
    for (int i = 0; i < 6; ++i) mac += "0123456789ABCDEF"[random() % 16];
    for (int i = 0; i < 16; ++i) password += static_cast<char>(33 + random() % 94);
    const auto record = DecodeMacRecord(EncodeMacRecord(mac, password));
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->mac_text, mac);
    EXPECT_EQ(record->password_text, password.substr(0, 4) + "-" + password.substr(4, 4) + "-" +
                                         password.substr(8, 4) + "-" + password.substr(12, 4));
  }
}

TEST(MacRecordLayout, EncodeRefusesWrongLengths) {
  EXPECT_EQ(EncodeMacRecord("02A0C512345", "ABCDEFGHIJKLMNOP"), "");
  EXPECT_EQ(EncodeMacRecord("02A0C5123456", "ABCDEFGHIJKLMNO"), "");
  EXPECT_EQ(EncodeMacRecord("02A0C5123456", "ABCD-EFGH-IJKL-MNOP"), "");
}

TEST(MacRecordLayout, DecodeRefusesShortAndDamagedReads) {
  const std::string record = kGoldenRecord;
  EXPECT_FALSE(DecodeMacRecord(record.substr(0, 22)).has_value());
  EXPECT_FALSE(DecodeMacRecord(record.substr(0, 22) + "\n").has_value());
  EXPECT_FALSE(DecodeMacRecord(record.substr(0, 10) + "\n" + record.substr(11)).has_value());
  std::string nul_in_password = record;
  nul_in_password[0] = '\0';
  EXPECT_FALSE(DecodeMacRecord(nul_in_password).has_value());
  std::string nul_in_mac = record;
  nul_in_mac[22] = '\0';
  EXPECT_FALSE(DecodeMacRecord(nul_in_mac).has_value());
  std::string nul_at_filler = record;
  nul_at_filler[21] = '\0';
  EXPECT_TRUE(DecodeMacRecord(nul_at_filler).has_value());
}

// --- the two failure boxes ---

}  // namespace
}  // namespace stampwright
