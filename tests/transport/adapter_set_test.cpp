#include "transport/adapter_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/virtual_wire.h"

namespace stampwright {
namespace {

using transport_test::Mac;
using transport_test::VirtualWire;

TEST(AdapterSetOpen, NoAdaptersBuildsAnEmptyOpenSet) {
  VirtualWire wire(0);
  EXPECT_EQ(OpenAllAdapters(*wire.set), 1);
  EXPECT_EQ(wire.set->AdapterCount, 0);
  EXPECT_TRUE(wire.set->open);
  EXPECT_EQ(CloseAllAdapters(*wire.set), 1);
  EXPECT_FALSE(wire.set->open);
}

TEST(AdapterSetOpen, UnopenableAdapterTakesNoRecordAndRecordsStayDense) {
  VirtualWire wire(3);
  wire.driver.SetOpenFails("veth1", true);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  ASSERT_EQ(wire.set->AdapterCount, 2);
  EXPECT_STREQ(wire.set->records[0].AdapterName, "veth0");
  EXPECT_STREQ(wire.set->records[1].AdapterName, "veth2");
  EXPECT_EQ(wire.set->records[0].AdapterMac, Mac(0x10));
  EXPECT_EQ(wire.set->records[1].AdapterMac, Mac(0x12));
  EXPECT_NE(wire.set->records[0].Handle, wire.set->records[1].Handle);
  EXPECT_EQ(wire.driver.OpenHandleCount(), 2u);
}

TEST(AdapterSetOpen, NinthAndLaterAdaptersAreIgnored) {
  VirtualWire wire(11);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  EXPECT_EQ(wire.set->AdapterCount, kMaxAdapters);
  EXPECT_STREQ(wire.set->records[7].AdapterName, "veth7");
  EXPECT_EQ(wire.driver.OpenHandleCount(), 8u);  // the ninth is not even opened
}

TEST(AdapterSetOpen, LongNameIsCutTo99BytesWithoutSpilling) {
  VirtualWire wire(0);
  const std::string long_name(150, 'n');
  wire.driver.AddAdapter(long_name, Mac(0x33));
  std::strcpy(wire.set->records[0].FirmwareVersion, "FW-KEEP");
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  ASSERT_EQ(wire.set->AdapterCount, 1);
  EXPECT_EQ(std::string(wire.set->records[0].AdapterName), std::string(99, 'n'));
  EXPECT_EQ(wire.set->records[0].AdapterName[99], '\0');
  EXPECT_STREQ(wire.set->records[0].FirmwareVersion, "FW-KEEP");
}

TEST(AdapterSetOpen, EnumerationFailureReturnsZeroAndLeavesTheSetClosed) {
  VirtualWire wire(2);
  wire.driver.SetEnumerationFails(true);
  EXPECT_EQ(OpenAllAdapters(*wire.set), 0);
  EXPECT_FALSE(wire.set->open);
  EXPECT_EQ(wire.set->AdapterCount, 0);

  // Also over an open set: its adapters are not leaked.
  wire.driver.SetEnumerationFails(false);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  ASSERT_EQ(wire.driver.OpenHandleCount(), 2u);
  wire.driver.SetEnumerationFails(true);
  EXPECT_EQ(OpenAllAdapters(*wire.set), 0);
  EXPECT_EQ(wire.driver.OpenHandleCount(), 0u);
  EXPECT_EQ(wire.set->AdapterCount, 0);
}

TEST(AdapterSetOpen, InstallsTheFrameFilterAndPromiscuousReceptionOnEveryAdapter) {
  VirtualWire wire(2);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  for (const char* name : {"veth0", "veth1"}) {
    EXPECT_EQ(wire.driver.PacketFilterOf(name), 0x20u);
    const auto program = wire.driver.ProgramOf(name);
    ASSERT_TRUE(program.has_value());
    ASSERT_EQ(program->size(), 4u);
    const uint16_t codes[4] = {0x0028, 0x0015, 0x0006, 0x0006};
    const uint8_t jts[4] = {0, 0, 0, 0};
    const uint8_t jfs[4] = {0, 1, 0, 0};
    const uint32_t ks[4] = {12, 0x88E1, 0xFFFFFFFF, 0};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ((*program)[i].code, codes[i]);
      EXPECT_EQ((*program)[i].jt, jts[i]);
      EXPECT_EQ((*program)[i].jf, jfs[i]);
      EXPECT_EQ((*program)[i].k, ks[i]);
    }
  }
}

TEST(AdapterSetReceiveSlots, OpenPostsAllTenAndCloseLeavesNonePosted) {
  VirtualWire wire(2);
  // A frame left stored from an earlier opening does not survive the reopening.
  wire.set->receive_slots[1][4].packet.status = kReceiveStatusStored;
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  for (int a = 0; a < 2; ++a) {
    for (const ReceiveSlot& slot : wire.set->receive_slots[a]) {
      EXPECT_EQ(slot.packet.status, kReceiveStatusPosted);
      EXPECT_EQ(slot.packet.capacity, 1500u);
    }
  }
  EXPECT_EQ(wire.set->receive_slots[2][0].packet.status, kReceiveStatusIdle);

  CloseAllAdapters(*wire.set);
  for (int a = 0; a < 2; ++a) {
    for (const ReceiveSlot& slot : wire.set->receive_slots[a]) {
      EXPECT_NE(slot.packet.status, kReceiveStatusPosted);
      EXPECT_NE(slot.packet.status, kReceiveStatusStored);
    }
  }
}

TEST(AdapterSetReceiveSlots, ReopeningNeverPostsIntoASlotThatIsStillTaken) {
  VirtualWire wire(1);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  wire.set->receive_slots[0][3].packet.status = kReceiveStatusTaken;
  CloseAllAdapters(*wire.set);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  EXPECT_EQ(wire.set->receive_slots[0][3].packet.status, kReceiveStatusTaken);
  EXPECT_EQ(wire.set->receive_slots[0][2].packet.status, kReceiveStatusPosted);
}

TEST(AdapterSetRescan, RecordsBeyondTheNewCountKeepTheirDataButNotPresence) {
  VirtualWire wire(3);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  for (int i = 0; i < 3; ++i) {
    AdapterRecord& record = wire.set->records[i];
    record.DevicePresent = 1;
    record.DeviceMac = Mac(static_cast<uint8_t>(0x50 + i));
    std::snprintf(record.FirmwareVersion, sizeof record.FirmwareVersion, "FW%d", i);
  }
  const AdapterRecord before = wire.set->records[2];

  CloseAllAdapters(*wire.set);
  ClearPresence(*wire.set);
  wire.driver.SetOpenFails("veth2", true);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  ASSERT_EQ(wire.set->AdapterCount, 2);

  const AdapterRecord& kept = wire.set->records[2];
  EXPECT_EQ(kept.Handle, before.Handle);
  EXPECT_EQ(kept.AdapterMac, before.AdapterMac);
  EXPECT_STREQ(kept.AdapterName, "veth2");
  EXPECT_STREQ(kept.FirmwareVersion, "FW2");
  EXPECT_EQ(kept.DeviceMac, Mac(0x52));
  EXPECT_EQ(kept.DevicePresent, 0u);
  // Reopened records get fresh handles but keep what the dispatcher wrote.
  EXPECT_NE(wire.set->records[0].Handle, PacketDriver::kInvalidHandle);
  EXPECT_STREQ(wire.set->records[0].FirmwareVersion, "FW0");
  EXPECT_EQ(wire.set->records[1].DeviceMac, Mac(0x51));
}

TEST(AdapterSetRescan, ClearPresenceCoversAllEightRecords) {
  VirtualWire wire(3);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  for (AdapterRecord& record : wire.set->records) record.DevicePresent = 1;
  ClearPresence(*wire.set);
  for (const AdapterRecord& record : wire.set->records) EXPECT_EQ(record.DevicePresent, 0u);
}

TEST(AdapterSetClose, SecondCloseClosesNothingMoreAndReturnsOne) {
  VirtualWire wire(2);
  ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
  EXPECT_EQ(CloseAllAdapters(*wire.set), 1);
  EXPECT_EQ(wire.driver.OpenHandleCount(), 0u);
  EXPECT_EQ(CloseAllAdapters(*wire.set), 1);
  EXPECT_EQ(wire.set->AdapterCount, 0);
  EXPECT_EQ(wire.driver.OpenHandleCount(), 0u);
}

class MockDriver : public PacketDriver {
 public:
  MOCK_METHOD(std::optional<std::vector<std::string>>, EnumerateAdapters, (), (override));
  MOCK_METHOD(Handle, OpenAdapter, (const std::string&), (override));
  MOCK_METHOD(void, CloseAdapter, (Handle), (override));
  MOCK_METHOD(bool, QueryCurrentAddress, (Handle, MacAddress*), (override));
  MOCK_METHOD(bool, SetPacketFilter, (Handle, uint32_t), (override));
  MOCK_METHOD(bool, SetBpfProgram, (Handle, std::span<const BpfInstruction>), (override));
  MOCK_METHOD(bool, SendPacket, (Handle, const uint8_t*, size_t), (override));
  MOCK_METHOD(size_t, ReceivePacket, (Handle, uint8_t*, size_t), (override));
  MOCK_METHOD(bool, WaitReadable, (Handle, uint32_t), (override));
};

// The order the adapter set talks to the library in, and that failures of the per-adapter
// requests neither stop the set-up nor remove the adapter.
TEST(AdapterSetDriverCalls, OpenAndCloseInTheirOrderIgnoringRequestFailures) {
  using ::testing::_;
  using ::testing::Return;
  ::testing::StrictMock<MockDriver> driver;
  auto set = std::make_unique<AdapterSet>();
  set->driver = &driver;
  {
    ::testing::InSequence order;
    EXPECT_CALL(driver, EnumerateAdapters())
        .WillOnce(Return(std::vector<std::string>{"eth0", "eth1"}));
    EXPECT_CALL(driver, OpenAdapter("eth0")).WillOnce(Return(7));
    EXPECT_CALL(driver, OpenAdapter("eth1")).WillOnce(Return(9));
    for (PacketDriver::Handle h : {7, 9}) {
      EXPECT_CALL(driver, QueryCurrentAddress(h, _)).WillOnce(Return(false));
      EXPECT_CALL(driver, SetBpfProgram(h, _)).WillOnce(Return(false));
      EXPECT_CALL(driver, SetPacketFilter(h, 0x20u)).WillOnce(Return(false));
    }
    for (PacketDriver::Handle h : {7, 9}) {
      EXPECT_CALL(driver, SetPacketFilter(h, 0u)).WillOnce(Return(false));
      EXPECT_CALL(driver, CloseAdapter(h));
    }
  }
  EXPECT_EQ(OpenAllAdapters(*set), 1);
  EXPECT_EQ(set->AdapterCount, 2);
  EXPECT_EQ(set->records[1].Handle, 9);
  EXPECT_EQ(set->SelectedHandle, 9);
  EXPECT_EQ(set->receive_slots[1][9].packet.status, kReceiveStatusPosted);
  EXPECT_EQ(CloseAllAdapters(*set), 1);
  EXPECT_EQ(set->SelectedHandle, 9);
}

}  // namespace
}  // namespace stampwright
