#include "station/burn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "station/page_procedure.h"
#include "station/mac_lookup.h"
#include "support/station_harness.h"
#include "base/byte_order.h"
#include "crypto/key_derivation.h"
#include "programming/carrier_table.h"
#include "programming/mac_database.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kBurnMacText[] = "02A0C5123456";
constexpr char kPassword[] = "K7QM2XWP9RTB4HZD";
constexpr char kGroupedPassword[] = "K7QM-2XWP-9RTB-4HZD";
const MacAddress kBurnMac = Mac(0x02, 0xA0, 0xC5, 0x12, 0x34, 0x56);
constexpr int kTicksToComeBack = 6;

// "%02X" pairs with a separator, written out here rather than taken from the code under test.
std::string Hex(const uint8_t* bytes, size_t count, const char* separator) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    if (i > 0) text += separator;
    text += pair;
  }
  return text;
}

// The image a burn should leave on the unit, computed from the image read.
ParameterModule ExpectedImage(const ParameterModule& read, const CarrierTable* table,
                              const MacAddress& mac, const std::string& grouped19) {
  ParameterModule expected = read;
  uint8_t* bytes = expected.bytes.data();
  if (table != nullptr) {
    for (size_t i = 0; i < kCarrierCount; ++i) StoreLe32(bytes + 2576 + 4 * i, (*table)[i]);
  }
  const DerivedKey nmk = NetworkMembershipKey("DefaultNPW");
  std::copy(nmk.begin(), nmk.end(), bytes + 100);
  const DerivedKey dak = DeviceAccessKey(grouped19.c_str());
  std::copy(dak.begin(), dak.end(), bytes + 18);
  mac.CopyTo(bytes + 12);
  StoreLe32(bytes + 8, 0);
  StoreLe32(bytes + 8, ModuleChecksum(bytes, bytes[0] == 2 ? 1955 : 1966));
  return expected;
}

// Offsets where two images differ outside the fields a burn may change.
std::vector<size_t> ChangesOutsideBurnFields(const ParameterModule& a, const ParameterModule& b) {
  const auto burned = [](size_t i) {
    return (i >= 8 && i < 34) || (i >= 100 && i < 116) || (i >= 2576 && i < 7196);
  };
  std::vector<size_t> changed;
  for (size_t i = 0; i < kModuleSize; ++i) {
    if (a.bytes[i] != b.bytes[i] && !burned(i)) changed.push_back(i);
  }
  return changed;
}

// The status texts of a burn whose chunks were all confirmed at the first send.
std::vector<std::string> CleanBurnTexts(uint32_t checksum) {
  char text[80];
  std::snprintf(text, sizeof text, "checksum: %08x", checksum);
  std::vector<std::string> texts = {"Burning...", text};
  for (int offset = 0; offset < 7864; offset += 1024) {
    texts.push_back("Write Module - offset: " + std::to_string(offset));
    texts.push_back("Write Module - offset: " + std::to_string(offset));
  }
  texts.insert(texts.end(), {"Write Module - offset: 7864", "Write Module - OK", "Waiting..."});
  return texts;
}

size_t CountOf(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

// Frames sent on the adapter with the given MMTYPE (of the driver's recent history).
size_t SentOfType(const VirtualDriver& driver, uint16_t mmtype) {
  size_t count = 0;
  for (const std::vector<uint8_t>& frame : driver.SentFrames("eth0")) {
    if (frame.size() >= 17 && LoadLe16(frame.data() + 15) == mmtype) ++count;
  }
  return count;
}

// Loses every n-th write confirmation after the unit has stored the chunk.
class LosingCable final : public WirePeer {
 public:
  LosingCable(WirePeer& unit, int every) : unit_(unit), every_(every) {}
  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override {
    unit_.OnFrame(frame, length, now);
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    while (unit_.TakeFrame(now, frame)) {
      if (LoadLe16(frame->data() + 15) != kVsWrModCnf || ++seen_ % every_ != 0) return true;
      ++lost;
    }
    return false;
  }
  std::optional<uint32_t> NextFrameDue() const override { return unit_.NextFrameDue(); }
  int lost = 0;

 private:
  WirePeer& unit_;
  int every_;
  int seen_ = 0;
};

class BurnTest : public InTempDir {
 protected:
  static SimulatedUnitConfig UnitConfig() {
    SimulatedUnitConfig config;
    config.mac = kUnitMac;
    return config;
  }

  // Finds the unit and reads its module, as the page does at start.
  void Connect(SimulatedUnitConfig config = UnitConfig(), bool px300 = true, bool px100 = false) {
    h.AddAdapter("eth0", kAdapter0);
    unit = &h.Plug("eth0", std::move(config));
    h.page.Check(kPx300Radio, px300);
    h.page.Check(kPx100Radio, px100);
    ScanNow(h.station);
    ScanNow(h.station);
    ASSERT_TRUE(h.page.IsEnabled(kBurnButton));
    ASSERT_EQ(h.station.module.bytes, unit->Flash().bytes);
    read_image = h.station.module;
    WriteDatabase({EncodeMacRecord("02A0C5ABCDEF", "AAAABBBBCCCCDDDD"),
                   EncodeMacRecord(kBurnMacText, kPassword)});
  }

  static void WriteDatabase(const std::vector<std::string>& lines) {
    std::ofstream out("cam.dbr", std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
  }

  void Burn(const std::string& mac_text = kBurnMacText) {
    h.page.SetText(kNewMacEdit, mac_text);
    h.page.Clear();
    OnPageCommand(h.station, kBurnButton);
  }

  // Scan ticks until the status line shows "Success", at most kTicksToComeBack of them.
  bool TickUntilSuccess() {
    for (int i = 0; i < kTicksToComeBack; ++i) {
      h.Tick();
      if (CountOf(h.page.StatusTexts(), "Success") > 0) return true;
    }
    return false;
  }

  ParameterModule Expected(const CarrierTable* table = &Px300CarrierTable(),
                           const MacAddress& mac = kBurnMac) const {
    return ExpectedImage(read_image, table, mac, kGroupedPassword);
  }

  std::vector<std::string> WriteBoxes() const {
    std::vector<std::string> boxes;
    for (const auto& box : h.page.message_boxes()) boxes.push_back(box.caption + "|" + box.text);
    return boxes;
  }

  StationHarness h;
  SimulatedUnit* unit = nullptr;
  ParameterModule read_image;
};

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

TEST_F(BurnTest, LostRequestsStillEndInTheSameImage) {
  SimulatedUnitConfig config = UnitConfig();
  config.faults.drop_percent = 10;
  config.faults.seed = 7;
  Connect(config);
  const uint32_t dropped_before = unit->DroppedRequests();
  Burn();
  const std::vector<std::string> status = h.page.StatusTexts();
  // Every send shows its offset once, every accepted confirmation once more, then the final one.
  size_t offset_texts = 0;
  for (const std::string& text : status) offset_texts += text.starts_with("Write Module - offset");
  EXPECT_GT(offset_texts - 8 - 1, 8u) << "no write request was lost: the seed proves nothing";
  EXPECT_GT(unit->DroppedRequests(), dropped_before);
  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(unit->Flash().bytes, Expected().bytes);
}

TEST_F(BurnTest, LostConfirmationsRepeatTheChunkAndEndInTheSameImage) {
  SimulatedUnitConfig config = UnitConfig();
  auto owned = std::make_unique<SimulatedUnit>(config);
  LosingCable cable(*owned, 3);
  h.units.push_back(std::move(owned));
  h.AddAdapter("eth0", kAdapter0);
  h.driver.AttachPeer("eth0", &cable);
  unit = h.units.back().get();
  h.page.Check(kPx300Radio, true);
  ScanNow(h.station);
  ScanNow(h.station);
  read_image = h.station.module;
  WriteDatabase({EncodeMacRecord(kBurnMacText, kPassword)});
  Burn();
  EXPECT_EQ(cable.lost, 3);
  EXPECT_EQ(unit->RequestCount(kVsWrModReq), 11u);
  EXPECT_THAT(h.page.message_boxes(), IsEmpty());
  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(unit->Flash().bytes, Expected().bytes);
}

TEST_F(BurnTest, RejectedChunksShowTheBoxAndAreSentAgain) {
  SimulatedUnitConfig config = UnitConfig();
  config.faults.reject_every = 3;
  Connect(config);
  Burn();
  // Sends 3, 6 and 9 are refused: the chunks at 2048, 4096 and 6144 go out twice.
  const std::string box = "VS_WR_MOD::eMMTypeReq|Write Module response failed";
  EXPECT_THAT(WriteBoxes(), ElementsAreArray({box, box, box}));
  EXPECT_EQ(unit->RequestCount(kVsWrModReq), 11u);
  const std::vector<std::string> status = h.page.StatusTexts();
  EXPECT_EQ(CountOf(status, "Write Module - offset: 2048"), 3u);
  EXPECT_EQ(CountOf(status, "Write Module - offset: 1024"), 2u);
  EXPECT_EQ(status.back(), "Waiting...");
  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(unit->Flash().bytes, Expected().bytes);
}

TEST_F(BurnTest, UnitUnpluggedMidBurnEndsWithoutCommitOrHang) {
  // A first station counts the requests that finding and reading the unit takes.
  uint32_t to_connect = 0;
  {
    StationHarness probe;
    probe.AddAdapter("eth0", kAdapter0);
    SimulatedUnit& probe_unit = probe.Plug("eth0", UnitConfig());
    probe.page.Check(kPx300Radio, true);
    ScanNow(probe.station);
    ScanNow(probe.station);
    for (uint16_t type : {kVsVerQueryReq, kVsRdModReq, kVsWrModReq, kVsModCommitReq}) {
      to_connect += probe_unit.RequestCount(type);
    }
  }
  SimulatedUnitConfig config = UnitConfig();
  config.faults.silent_after = to_connect + 3;  // three chunks confirmed, then nothing
  Connect(config);
  const uint32_t start = h.clock.TickCount();
  Burn();
  const uint32_t elapsed = h.clock.TickCount() - start;

  const std::vector<std::string> status = h.page.StatusTexts();
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.back(), "Write Module - offset: 3072");
  EXPECT_THAT(status, Not(Contains("Write Module - OK")));
  EXPECT_THAT(status, Not(Contains("Waiting...")));
  EXPECT_EQ(SentOfType(h.driver, kVsModCommitReq), 0u);
  EXPECT_GT(SentOfType(h.driver, kVsWrModReq), 4u);
  EXPECT_EQ(h.station.registers.WriteTransferOffset, 3072u);
  EXPECT_EQ(unit->ParameterCommits(), 0u);
  EXPECT_EQ(unit->Flash().bytes, read_image.bytes);
  EXPECT_LT(elapsed, 5000u) << "virtual ms spent on a silent unit";
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
  h.page.SetText(kMacField, kBurnMacText);
  h.page.SetText(kPasswordField, std::string(kGroupedPassword) + "-EXTRA");
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

TEST_F(BurnTest, UnitBackUnderAnotherMacNeverShowsSuccess) {
  SimulatedUnitConfig config = UnitConfig();
  config.faults.return_mac = Mac(0x02, 0xA0, 0xC5, 0x99, 0x99, 0x99);
  Connect(config);
  Burn();
  EXPECT_EQ(h.page.StatusTexts().back(), "Waiting...");
  EXPECT_FALSE(TickUntilSuccess());
  EXPECT_EQ(h.page.GetText(kMacField, 79), "02:A0:C5:99:99:99");
}

struct CommitRow {
  uint8_t status;
  bool confirmed;
  friend void PrintTo(const CommitRow& row, std::ostream* os) { *os << int{row.status}; }
};

class BurnCommitTest : public BurnTest, public ::testing::WithParamInterface<CommitRow> {};

TEST_P(BurnCommitTest, OnlyAnAcceptedCommitLeadsToSuccess) {
  SimulatedUnitConfig config = UnitConfig();
  config.commit_status = GetParam().status;
  Connect(config);
  Burn();
  EXPECT_EQ(h.page.StatusTexts().back(), GetParam().confirmed ? "Waiting..." : "Write Module - OK");
  EXPECT_EQ(TickUntilSuccess(), GetParam().confirmed);
  EXPECT_EQ(unit->Flash().bytes, Expected().bytes);  // the unit committed either way
}

INSTANTIATE_TEST_SUITE_P(Statuses, BurnCommitTest,
                         ::testing::Values(CommitRow{0x00, true}, CommitRow{0x46, true},
                                           CommitRow{0x01, false}));

}  // namespace
}  // namespace stampwright::station_test
