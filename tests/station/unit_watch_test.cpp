// The bench's and the return watch's pieces: listing every unit that answers, waiting for one
// MAC, reading into a separate buffer, and comparing what a burn wrote with what came back.

#include "station/unit_watch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "programming/carrier_table.h"
#include "protocol/requests.h"
#include "station/burn.h"
#include "station/burn_verify.h"
#include "station/module_read.h"
#include "support/station_harness.h"
#include "transport/adapter_set.h"

namespace stampwright::station_test {
namespace {

const MacAddress kSecondUnit = Mac(0x02, 0xA0, 0xC5, 0x00, 0x00, 0x02);

// Two units on one cable: each hears every frame, and their answers share the wire.
class SharedCable final : public WirePeer {
 public:
  SharedCable(WirePeer& a, WirePeer& b) : a_(a), b_(b) {}
  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override {
    a_.OnFrame(frame, length, now);
    b_.OnFrame(frame, length, now);
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    return a_.TakeFrame(now, frame) || b_.TakeFrame(now, frame);
  }
  std::optional<uint32_t> NextFrameDue() const override {
    const auto a = a_.NextFrameDue();
    const auto b = b_.NextFrameDue();
    if (a && b) return std::min(*a, *b);
    return a ? a : b;
  }

 private:
  WirePeer& a_;
  WirePeer& b_;
};

SimulatedUnitConfig UnitConfig(const MacAddress& mac, uint8_t chip, const std::string& version,
                               uint32_t latency_ms) {
  SimulatedUnitConfig config;
  config.mac = mac;
  config.chip_type = chip;
  config.version_text = version;
  config.latency_ms = latency_ms;
  config.restart_ms = 700;
  return config;
}

class UnitWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.AddAdapter("eth0", kAdapter0);
    h.station.AutoReadDone = 1;  // as on the bench: no module read behind the caller's back
  }
  void OpenAdapter() { ASSERT_EQ(OpenAllAdapters(h.station.adapters), 1); }

  StationHarness h;
};

TEST_F(UnitWatchTest, ListsEveryUnitOnTheCableOnceInTheOrderTheyAnswered) {
  SimulatedUnit first(UnitConfig(kUnitMac, kUnitChipPx300, "3.0.2-first", 3));
  SimulatedUnit second(UnitConfig(kSecondUnit, kUnitChipPx100, "1.4-second", 1));
  SharedCable cable(first, second);
  h.driver.AttachPeer("eth0", &cable);
  OpenAdapter();

  const auto units = ListAnsweringUnits(h.station, 0, 500);

  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].mac, kSecondUnit);  // the quicker one
  EXPECT_EQ(units[0].chip_type, kUnitChipPx100);
  EXPECT_EQ(units[0].firmware, "1.4-second");
  EXPECT_EQ(units[1].mac, kUnitMac);
  EXPECT_EQ(units[1].chip_type, kUnitChipPx300);
  EXPECT_EQ(units[1].firmware, "3.0.2-first");
  // One broadcast query, and the whole listening time waited.
  EXPECT_EQ(first.RequestCount(kVsVerQueryReq), 1u);
  EXPECT_EQ(h.driver.FramesSent("eth0"), 1u);
  EXPECT_TRUE(h.page.message_boxes().empty());
}

TEST_F(UnitWatchTest, WaitsForTheWantedMacAndMakesItTheAdaptersUnit) {
  SimulatedUnit other(UnitConfig(kSecondUnit, kUnitChipPx300, "other", 1));
  SimulatedUnit wanted(UnitConfig(kUnitMac, kUnitChipPx300, "wanted", 4));
  SharedCable cable(other, wanted);
  h.driver.AttachPeer("eth0", &cable);
  OpenAdapter();

  ASSERT_TRUE(WaitForUnitAnswer(h.station, 0, kUnitMac, 2000));
  EXPECT_EQ(h.station.adapters.records[0].DeviceMac, kUnitMac);
  EXPECT_EQ(h.station.adapters.CurrentAdapter, 0);
  // Answered within the first round: no second query.
  EXPECT_EQ(wanted.RequestCount(kVsVerQueryReq), 1u);

  // The module requests that follow go to the wanted unit.
  ParameterModule read{};
  ASSERT_TRUE(ReadModuleImage(h.station, read));
  EXPECT_EQ(read.bytes, wanted.Flash().bytes);
  EXPECT_EQ(other.RequestCount(kVsRdModReq), 0u);
}

TEST_F(UnitWatchTest, RepeatsTheQueryThroughARestartAndGivesUpAtTheTimeout) {
  SimulatedUnit& unit = h.Plug("eth0", UnitConfig(kUnitMac, kUnitChipPx300, "v", 2));
  OpenAdapter();
  ASSERT_TRUE(WaitForUnitAnswer(h.station, 0, kUnitMac, 1000));
  h.station.adapters.records[0].DeviceMac = kUnitMac;
  // Commit a new MAC: the unit is silent for 700 ms, then answers under the new one.
  ParameterModule burned = unit.Flash();
  const MacAddress new_mac = Mac(0x02, 0xA0, 0xC5, 0x12, 0x34, 0x56);
  burned.SetMacAddress(new_mac);
  UpdateImageChecksum(burned);
  ASSERT_TRUE(WriteModuleImage(h.station, burned));
  h.station.CommitConfirmed = 0;
  CommitModule(h.station, kModuleIdParameter);
  ASSERT_EQ(h.station.CommitConfirmed, 1);

  const uint32_t start = h.clock.TickCount();
  const size_t sent_before = h.driver.FramesSent("eth0");
  EXPECT_FALSE(WaitForUnitAnswer(h.station, 0, kUnitMac, 3000));  // the old MAC never returns
  EXPECT_GE(h.clock.TickCount() - start, 3000u);
  EXPECT_LE(h.clock.TickCount() - start, 3000u + kUnitQueryIntervalMs);
  // One query per round, every round.
  EXPECT_EQ(h.driver.FramesSent("eth0") - sent_before, 3000u / kUnitQueryIntervalMs);

  EXPECT_TRUE(WaitForUnitAnswer(h.station, 0, new_mac, 1000));
  EXPECT_EQ(h.station.adapters.records[0].DeviceMac, new_mac);
}

TEST_F(UnitWatchTest, ReadIntoASeparateBufferLeavesTheStationsImageAlone) {
  h.Plug("eth0", UnitConfig(kUnitMac, kUnitChipPx300, "v", 2));
  OpenAdapter();
  ASSERT_TRUE(WaitForUnitAnswer(h.station, 0, kUnitMac, 1000));
  h.station.module.bytes.fill(0x5A);

  ParameterModule read{};
  ASSERT_TRUE(ReadModuleImage(h.station, read));
  EXPECT_EQ(read.bytes, DefaultUnitImage(kUnitMac).bytes);
  for (const uint8_t byte : h.station.module.bytes) ASSERT_EQ(byte, 0x5A);
  // The same eight chunks and texts as the station's read.
  EXPECT_EQ(h.page.StatusTexts().front(), "Read Module - offset: 0");
  EXPECT_EQ(h.page.StatusTexts().back(), "response Read Module (a024) - offset: 7168");
}

TEST(BurnVerifyTest, ReportsTheLowestDifferingOffsetOfTheBurnedFieldsOnly) {
  ParameterModule written = DefaultUnitImage(kUnitMac);
  ParameterModule read_back = written;
  EXPECT_FALSE(FirstBurnedFieldDifference(written, read_back));

  // Outside the burned fields (checksum, opaque bytes): no difference that counts.
  read_back.bytes[kImageChecksumOffset] ^= 1;
  read_back.bytes[50] ^= 1;
  read_back.bytes[kModuleSize - 1] ^= 1;
  EXPECT_FALSE(FirstBurnedFieldDifference(written, read_back));

  read_back.bytes[kCarrierValuesOffset + 4 * kCarrierCount - 1] ^= 1;  // last carrier byte
  auto difference = FirstBurnedFieldDifference(written, read_back);
  ASSERT_TRUE(difference);
  EXPECT_EQ(difference->offset, kCarrierValuesOffset + 4 * kCarrierCount - 1);
  EXPECT_STREQ(difference->field, "CarrierValues");

  read_back.bytes[kNetworkMembershipKeyOffset + 15] ^= 1;
  read_back.bytes[kDeviceAccessKeyOffset + 3] ^= 1;
  difference = FirstBurnedFieldDifference(written, read_back);
  ASSERT_TRUE(difference);
  EXPECT_EQ(difference->offset, kDeviceAccessKeyOffset + 3);
  EXPECT_STREQ(difference->field, "DeviceAccessKey");

  read_back.bytes[kMacAddressOffset + 5] ^= 1;
  difference = FirstBurnedFieldDifference(written, read_back);
  ASSERT_TRUE(difference);
  EXPECT_EQ(difference->offset, kMacAddressOffset + 5);
  EXPECT_STREQ(difference->field, "MacAddress");
}

TEST(BurnVerifyTest, CountsTheDifferingBytesOutsideTheBurnedFieldsWithTheChecksumAmongThem) {
  const ParameterModule written = DefaultUnitImage(kUnitMac);
  ParameterModule read_back = written;
  EXPECT_EQ(CountOtherDifferingBytes(written, read_back), 0u);

  // Every burned field, at both of its ends: none of them counts.
  constexpr size_t kCarrierEnd = kCarrierValuesOffset + 4 * kCarrierCount;
  for (const size_t offset : {kMacAddressOffset, kMacAddressOffset + 5, kDeviceAccessKeyOffset,
                              kDeviceAccessKeyOffset + kKeySize - 1, kNetworkMembershipKeyOffset,
                              kNetworkMembershipKeyOffset + kKeySize - 1, kCarrierValuesOffset,
                              kCarrierEnd - 1}) {
    read_back.bytes[offset] ^= 0x01;
  }
  EXPECT_EQ(CountOtherDifferingBytes(written, read_back), 0u);

  // The bytes just outside them, the checksum, an opaque byte and the image's last byte do.
  for (const size_t offset : {kImageChecksumOffset, kMacAddressOffset - 1,
                              kDeviceAccessKeyOffset + kKeySize, kNetworkMembershipKeyOffset - 1,
                              kNetworkMembershipKeyOffset + kKeySize, size_t{50},
                              kCarrierValuesOffset - 1, kCarrierEnd, kModuleSize - 1}) {
    read_back.bytes[offset] ^= 0x80;
  }
  EXPECT_EQ(CountOtherDifferingBytes(written, read_back), 9u);
  EXPECT_EQ(CountOtherDifferingBytes(read_back, written), 9u);
}

}  // namespace
}  // namespace stampwright::station_test
