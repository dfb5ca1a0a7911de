// A burn as the operator runs it: looked up, written, committed, back under the new MAC.
#include <unistd.h>

#include <cstdlib>

#include "station/burn_fixture.h"
#include "station/mac_lookup.h"

namespace stampwright::station_test {
namespace {

TEST_F(BurnTest, LookedUpRecordIsBurnedCommittedAndComesBackAsSuccess) {
  Connect();
  Burn();
  EXPECT_EQ(h.arp_flush.flushes, 1) << "ARP cache not flushed";
  const ParameterModule expected = Expected();
  EXPECT_THAT(h.page.StatusTexts(), ElementsAreArray(CleanBurnTexts(expected.ImageChecksum())));
  EXPECT_EQ(unit->RequestCount(kVsWrModReq), 8u);
  EXPECT_EQ(unit->ParameterCommits(), 1u);
  EXPECT_EQ(h.station.BurnedMac, kBurnMac);
  EXPECT_EQ(h.station.module.bytes, expected.bytes);

  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(unit->CurrentMac(), kBurnMac);
  EXPECT_EQ(h.page.GetText(kMacField, 79), "02:A0:C5:12:34:56");
  EXPECT_EQ(unit->Flash().bytes, expected.bytes);
  EXPECT_THAT(ChangesOutsideBurnFields(unit->Flash(), read_image), IsEmpty());
  EXPECT_EQ(h.station.CommitConfirmed, 0);
}

TEST_F(BurnTest, KeyFieldsShowTheKeysStoredInTheImage) {
  Connect();
  Burn();
  const ParameterModule& flash = unit->Flash();
  EXPECT_EQ(h.page.GetText(kDakField, 79), Hex(flash.bytes.data() + 18, 16, ""));
  EXPECT_EQ(h.page.GetText(kNmkField, 79), Hex(flash.bytes.data() + 100, 16, " "));
  const DerivedKey dak = DeviceAccessKey(kGroupedPassword);
  const DerivedKey nmk = NetworkMembershipKey("DefaultNPW");
  EXPECT_EQ(h.page.GetText(kDakField, 79), Hex(dak.data(), dak.size(), ""));
  EXPECT_EQ(h.page.GetText(kNmkField, 79), Hex(nmk.data(), nmk.size(), " "));
  EXPECT_EQ(h.page.GetText(kDakField, 79).size(), 32u);
  EXPECT_EQ(h.page.GetText(kNmkField, 79).size(), 47u);
}

TEST_F(BurnTest, NeitherRadioWritesTheCarrierRegionBackAsRead) {
  SimulatedUnitConfig config = UnitConfig();
  ParameterModule px100_image = DefaultUnitImage(kUnitMac);
  CopyCarrierTable(Px100CarrierTable(), px100_image);
  UpdateImageChecksum(px100_image);
  config.image = px100_image;
  Connect(config, false, false);
  Burn();
  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(unit->Flash().bytes, Expected(nullptr).bytes);
  EXPECT_EQ(FirstCarrierDifference(unit->Flash(), Px100CarrierTable()), kCarrierCount);
}

TEST_F(BurnTest, Px100RadioCopiesThePx100Table) {
  SimulatedUnitConfig config = UnitConfig();
  ParameterModule px100_image = DefaultUnitImage(kUnitMac);
  CopyCarrierTable(Px100CarrierTable(), px100_image);
  px100_image.bytes[0] = 3;  // the checksum then covers all 1966 words
  UpdateImageChecksum(px100_image);
  config.image = px100_image;
  Connect(config, false, true);
  Burn();
  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(unit->Flash().bytes, Expected(&Px100CarrierTable()).bytes);
}

struct MacTextRow {
  const char* text;
  MacAddress burned;
  friend void PrintTo(const MacTextRow& row, std::ostream* os) { *os << row.text; }
};

class BurnMacTextTest : public BurnTest, public ::testing::WithParamInterface<MacTextRow> {};

TEST_P(BurnMacTextTest, RecordTextBecomesTheBurnedMac) {
  Connect();
  // A lower-case entry is shown and looked up in upper case.
  WriteDatabase({EncodeMacRecord(NormalizedMacEntry(GetParam().text).value_or(GetParam().text),
                                 kPassword)});
  Burn(GetParam().text);
  EXPECT_EQ(h.station.BurnedMac, GetParam().burned);
  EXPECT_EQ(unit->Flash().bytes, Expected(&Px300CarrierTable(), GetParam().burned).bytes);
  EXPECT_TRUE(TickUntilSuccess());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BurnMacTextTest,
    ::testing::Values(MacTextRow{"02A0C5abcdef", Mac(0x02, 0xA0, 0xC5, 0xAB, 0xCD, 0xEF)},
                      MacTextRow{"02A0C5ABCDEF", Mac(0x02, 0xA0, 0xC5, 0xAB, 0xCD, 0xEF)},
                      // 'G' counts with its code: 71 * 16 + 0, kept to 8 bits.
                      MacTextRow{"02A0C5G01234", Mac(0x02, 0xA0, 0xC5, 0x70, 0x12, 0x34)}));

TEST(HexDigitValue, DigitsAndLettersOfBothCasesElseTheCharacterCode) {
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('A'), 10);
  EXPECT_EQ(HexDigitValue('f'), 15);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('G'), 71);
  EXPECT_EQ(HexDigitValue('g'), 103);
  EXPECT_EQ(HexDigitValue(':'), 58);
  EXPECT_EQ(HexDigitValue('\0'), 0);
  EXPECT_EQ(HexDigitValue('\xC0'), 0xC0);
  EXPECT_EQ(ParseBurnMacText("AB"), Mac(0xAB, 0, 0, 0, 0, 0));
  EXPECT_EQ(ParseBurnMacText("02a0c5abcdef99"), Mac(0x02, 0xA0, 0xC5, 0xAB, 0xCD, 0xEF));
}

TEST_F(BurnTest, PasswordTextLongerThan19IsHashedFromItsFirst19) {
  Connect();
  h.station.shown.mac = kBurnMacText;
  h.station.shown.password = std::string(kGroupedPassword) + "-EXTRA";
  h.page.Clear();
  BurnDevice(h.station);
  const DerivedKey dak = DeviceAccessKey(kGroupedPassword);
  EXPECT_EQ(h.page.GetText(kDakField, 79), Hex(dak.data(), dak.size(), ""));
  EXPECT_EQ(unit->Flash().bytes, Expected().bytes);
}

TEST_F(BurnTest, MacNotInTheDatabaseShowsOnlyTheLookupBox) {
  Connect();
  const std::string status_before = h.page.GetText(kStatusLine, 79);
  const size_t sent_before = h.driver.FramesSent("eth0");
  Burn("02A0C5FFFFFF");
  EXPECT_EQ(h.arp_flush.flushes, 0) << "ARP cache flushed";
  ASSERT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_EQ(h.page.message_boxes()[0].text, "The input MAC is invalid.");
  EXPECT_EQ(h.page.message_boxes()[0].caption, "Info");
  EXPECT_EQ(h.page.message_boxes()[0].type, 48u);
  EXPECT_THAT(h.page.texts(), IsEmpty());
  EXPECT_EQ(h.page.GetText(kStatusLine, 79), status_before);
  EXPECT_EQ(h.driver.FramesSent("eth0"), sent_before);
  EXPECT_EQ(unit->Flash().bytes, read_image.bytes);
  EXPECT_EQ(h.station.module.bytes, read_image.bytes);
}

}  // namespace
}  // namespace stampwright::station_test
