#include "station/dispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "support/station_harness.h"
#include "station/discovery.h"
#include "transport/frame_exchange.h"

namespace stampwright::station_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The dispatcher fed raw frames on an open adapter whose summary already knows its MAC.
class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() {
    h.AddAdapter("eth0", kAdapter0);
    OpenAllAdapters(h.station.adapters);
    h.station.summaries[0].AdapterMac = kAdapter0;
    h.station.adapters.records[0].DeviceMac = kUnitMac;  // the unit being programmed
  }

  // Frames are laid out at literal offsets, never from the constants the parsers read, so a
  // wrong constant cannot go unseen.

  // Delivers the frame and dispatches it; true when a frame was taken.
  bool Deliver(const std::vector<uint8_t>& frame) {
    h.driver.InjectFrame("eth0", frame, h.clock.TickCount());
    h.clock.Advance(1);
    ReceivePacket* packet = DispatchConfirmation(h.station, 0);
    if (packet == nullptr) return false;
    RearmReceiveSlot(h.station.adapters, packet);
    return true;
  }

  std::vector<uint8_t> Version(const MacAddress& destination, const MacAddress& source,
                               uint8_t chip, const std::string& text) {
    auto frame = StationHarness::Confirmation(destination, source, kVsVerQueryCnf, 120);
    frame[21] = chip;
    frame[22] = static_cast<uint8_t>(text.size() + 1);
    std::memcpy(frame.data() + 23, text.data(), text.size());
    return frame;
  }

  std::vector<uint8_t> Write(uint8_t status, uint16_t length, uint32_t offset,
                             const MacAddress& source = kUnitMac) {
    auto frame = StationHarness::Confirmation(kAdapter0, source, kVsWrModCnf);
    frame[20] = status;
    StoreLe16(frame.data() + 23, length);
    StoreLe32(frame.data() + 25, offset);
    return frame;
  }

  std::vector<uint8_t> Read(uint8_t status, uint16_t length, uint32_t offset, size_t frame_size,
                            uint8_t fill = 0x5A, const MacAddress& source = kUnitMac) {
    auto frame = StationHarness::Confirmation(kAdapter0, source, kVsRdModCnf, frame_size);
    frame[20] = status;
    StoreLe16(frame.data() + 26, length);
    StoreLe32(frame.data() + 28, offset);
    for (size_t i = 36; i < frame.size(); ++i) frame[i] = fill;
    return frame;
  }

  std::vector<uint8_t> Commit(uint8_t status, const MacAddress& source = kUnitMac) {
    auto frame = StationHarness::Confirmation(kAdapter0, source, kVsModCommitCnf);
    frame[20] = status;
    return frame;
  }

  StationHarness h;
};

TEST_F(DispatcherTest, NothingIsActedOnBeforeAnyRequest) {
  EXPECT_TRUE(Deliver(Version(kAdapter0, kUnitMac, 2, "v")));
  EXPECT_EQ(h.station.adapters.records[0].DevicePresent, 0u);
  EXPECT_THAT(h.page.texts(), IsEmpty());
}

TEST_F(DispatcherTest, BroadcastVersionConfirmationIsNotEvenPresence) {
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  EXPECT_TRUE(Deliver(Version(MacAddress::Broadcast(), kUnitMac, 2, "v")));
  EXPECT_EQ(h.station.adapters.records[0].DevicePresent, 0u);
  EXPECT_EQ(h.station.summaries[0].Present, 0u);
}

TEST_F(DispatcherTest, SourceEqualToDestinationGivesPresenceOnly) {
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  h.station.adapters.CurrentAdapter = 5;
  Deliver(Version(kAdapter0, kAdapter0, 2, "v"));
  EXPECT_EQ(h.station.adapters.CurrentAdapter, 0);
  EXPECT_EQ(h.station.adapters.records[0].DevicePresent, 1u);
  EXPECT_EQ(h.station.summaries[0].Present, 1u);
  EXPECT_THAT(h.page.texts(), IsEmpty());
}

TEST_F(DispatcherTest, VersionConfirmationToAnotherAdapterMacGivesPresenceOnly) {
  h.station.adapters.records[0].DeviceMac = MacAddress{};
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  Deliver(Version(kAdapter1, kUnitMac, 2, "v"));
  EXPECT_EQ(h.station.adapters.records[0].DevicePresent, 1u);
  EXPECT_TRUE(h.station.adapters.records[0].DeviceMac.IsZero());
}

TEST_F(DispatcherTest, SecondVersionConfirmationInOnePassChangesNoDisplay) {
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  h.station.AutoReadDone = 1;  // no automatic read here
  Deliver(Version(kAdapter0, kUnitMac, 1, "first"));
  EXPECT_EQ(h.page.GetText(kChipModelField, 80), "PX100");
  const size_t writes = h.page.texts().size();
  Deliver(Version(kAdapter0, Mac(2, 0, 0, 0, 0, 9), 2, "second"));
  EXPECT_EQ(h.page.texts().size(), writes);
  EXPECT_EQ(h.page.GetText(kFirmwareVersionField, 80), "first");
  EXPECT_EQ(h.station.VersionAnswered[0], 1u);
}

TEST_F(DispatcherTest, UnknownChipTypeLeavesTheChipField) {
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  h.station.AutoReadDone = 1;
  h.page.SetText(kChipModelField, "PX300");
  Deliver(Version(kAdapter0, kUnitMac, 3, "v"));
  EXPECT_EQ(h.page.GetText(kChipModelField, 80), "PX300");
  EXPECT_EQ(h.page.GetText(kMacField, 80), "02:A0:C5:00:00:01");
}

TEST_F(DispatcherTest, VersionTextIsCutAt79CharactersAndNeverReadPastTheFrame) {
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  h.station.AutoReadDone = 1;
  auto frame = Version(kAdapter0, kUnitMac, 2, "");
  frame.resize(400);
  std::memset(frame.data() + 23, 'x', frame.size() - 23);
  Deliver(frame);
  EXPECT_EQ(h.page.GetText(kFirmwareVersionField, 200), std::string(79, 'x'));
  EXPECT_EQ(std::strlen(h.station.adapters.records[0].FirmwareVersion), 79u);

  // A text that runs to the very end of a short frame without a NUL.
  h.station.VersionAnswered[0] = 0;
  auto short_frame = Version(kAdapter0, kUnitMac, 2, "");
  short_frame.resize(23 + 5);
  std::memcpy(short_frame.data() + 23, "abcde", 5);
  Deliver(short_frame);
  EXPECT_EQ(h.page.GetText(kFirmwareVersionField, 200), "abcde");
}

TEST_F(DispatcherTest, ShortAndForeignFramesAreReturnedUntouched) {
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  // Too short for an ethertype, or another one: the frame filter keeps them out.
  EXPECT_FALSE(Deliver(std::vector<uint8_t>(10, 0x88)));
  auto other_type = Version(kAdapter0, kUnitMac, 2, "v");
  other_type[13] = 0x00;
  EXPECT_FALSE(Deliver(other_type));
  EXPECT_EQ(h.station.adapters.records[0].DevicePresent, 0u);
  EXPECT_THAT(h.page.texts(), IsEmpty());
}

TEST_F(DispatcherTest, VersionConfirmationWithoutChipAndTextCountsForPresenceOnly) {
  h.station.adapters.records[0].DeviceMac = MacAddress{};
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  h.station.AutoReadDone = 1;
  auto header_only = Version(kAdapter0, kUnitMac, 2, "v");
  header_only.resize(23);
  EXPECT_TRUE(Deliver(header_only));
  EXPECT_EQ(h.station.adapters.records[0].DevicePresent, 1u);
  EXPECT_TRUE(h.station.adapters.records[0].DeviceMac.IsZero());
  EXPECT_EQ(h.station.VersionAnswered[0], 0u);
  EXPECT_THAT(h.page.texts(), IsEmpty());
}

TEST_F(DispatcherTest, WriteConfirmationAdvancesOnlyOnMatchingOffsetAndStatus) {
  TransferRegisters& registers = h.station.registers;
  registers.PendingRequestType = kVsWrModReq;
  registers.WriteTransferOffset = 1024;
  registers.PendingChunkLength = 1024;
  Deliver(Write(0, 1024, 1024));
  EXPECT_EQ(registers.WriteTransferOffset, 2048u);
  EXPECT_THAT(h.page.StatusTexts(), ElementsAre("Write Module - offset: 1024"));

  Deliver(Write(1, 1024, 1024));  // wrong offset and a failure: the offset box wins
  Deliver(Write(7, 1024, 2048));
  ASSERT_EQ(h.page.message_boxes().size(), 2u);
  EXPECT_EQ(h.page.message_boxes()[0].text, "Write Module response offset not match");
  EXPECT_EQ(h.page.message_boxes()[0].caption, "VS_WR_MOD::eMMTypeReq");
  EXPECT_EQ(h.page.message_boxes()[0].type, 0u);
  EXPECT_EQ(h.page.message_boxes()[1].text, "Write Module response failed");
  EXPECT_EQ(registers.WriteTransferOffset, 2048u);
}

TEST_F(DispatcherTest, StaleConfirmationTypesAreIgnored) {
  TransferRegisters& registers = h.station.registers;
  registers.PendingRequestType = kVsRdModReq;
  Deliver(Write(0, 1024, 0));
  Deliver(Commit(0));
  EXPECT_EQ(registers.WriteTransferOffset, 0u);
  EXPECT_EQ(h.station.CommitConfirmed, 0);
  EXPECT_THAT(h.page.texts(), IsEmpty());
  EXPECT_THAT(h.page.message_boxes(), IsEmpty());
}

TEST_F(DispatcherTest, ReadConfirmationCopiesIntoTheImage) {
  TransferRegisters& registers = h.station.registers;
  registers.PendingRequestType = kVsRdModReq;
  registers.ReadTransferOffset = 7168;
  registers.PendingChunkLength = 696;
  Deliver(Read(0, 696, 7168, 36 + 696, 0xC3));
  EXPECT_EQ(registers.ReadTransferOffset, 7864u);
  EXPECT_EQ(h.station.module.bytes[7168], 0xC3);
  EXPECT_EQ(h.station.module.bytes[7863], 0xC3);
  EXPECT_EQ(h.station.module.bytes[7167], 0x00);
  EXPECT_THAT(h.page.StatusTexts(), ElementsAre("response Read Module (a024) - offset: 7168"));
}

TEST_F(DispatcherTest, FailedOrOutOfBoundsReadsAreRefusedWithTheBox) {
  TransferRegisters& registers = h.station.registers;
  registers.PendingRequestType = kVsRdModReq;
  registers.ReadTransferOffset = 7168;
  registers.PendingChunkLength = 696;
  Deliver(Read(1, 696, 7168, 36 + 696));        // status 1
  Deliver(Read(0, 696, 6144, 36 + 696));        // wrong offset
  Deliver(Read(0, 1024, 7168, 36 + 1024));      // past the image's end
  Deliver(Read(0, 1000, 7168, 36 + 100));       // past the frame's end
  Deliver(Read(0, 0xFFFF, 7168, 1500));                      // oversize claim, cut frame
  EXPECT_EQ(h.page.message_boxes().size(), 5u);
  for (const auto& box : h.page.message_boxes()) {
    EXPECT_EQ(box.text, "Read Module response failed");
    EXPECT_EQ(box.caption, "VS_RD_MOD::eMMTypeReq");
  }
  EXPECT_EQ(registers.ReadTransferOffset, 7168u);
  EXPECT_EQ(h.station.module.bytes[7168], 0);
}

TEST_F(DispatcherTest, OversizeFrameIsCutToTheSlot) {
  TransferRegisters& registers = h.station.registers;
  registers.PendingRequestType = kVsRdModReq;
  registers.PendingChunkLength = 1024;
  auto frame = Read(0, 1024, 0, 3000);
  EXPECT_TRUE(Deliver(frame));
  // 36 + 1024 bytes fit in the 1500 kept: accepted.
  EXPECT_EQ(registers.ReadTransferOffset, 1024u);
}

TEST_F(DispatcherTest, CommitAcceptsStatusZeroAnd46Only) {
  h.station.registers.PendingRequestType = kVsModCommitReq;
  Deliver(Commit(0x01));
  EXPECT_EQ(h.station.CommitConfirmed, 0);
  Deliver(Commit(0x46));
  EXPECT_EQ(h.station.CommitConfirmed, 1);
  EXPECT_THAT(h.page.StatusTexts(), ElementsAre("Waiting..."));
}

TEST_F(DispatcherTest, SuccessNeedsCommitAutoReadAndTheBurnedMac) {
  h.station.registers.PendingRequestType = kVsVerQueryReq;
  h.station.CommitConfirmed = 1;
  h.station.AutoReadDone = 1;
  h.station.BurnedMac = kUnitMac;
  Deliver(Version(kAdapter0, Mac(2, 0, 0, 0, 0, 0x77), 2, "v"));  // another unit
  EXPECT_EQ(h.station.CommitConfirmed, 1);
  h.station.VersionAnswered[0] = 0;
  Deliver(Version(kAdapter0, kUnitMac, 2, "v"));
  EXPECT_EQ(h.page.GetText(kStatusLine, 80), "Success");
  EXPECT_EQ(h.station.CommitConfirmed, 0);
}

TEST_F(DispatcherTest, ConfirmationsFromAnyoneButTheUnitBeingProgrammedAreCountedAndIgnored) {
  const MacAddress forger = Mac(0x02, 0x66, 0, 0, 0, 0x66);
  TransferRegisters& registers = h.station.registers;
  registers.PendingChunkLength = 1024;
  registers.PendingRequestType = kVsWrModReq;
  Deliver(Write(0, 7864, 0, forger));
  auto to_other_adapter = StationHarness::Confirmation(kAdapter1, kUnitMac, kVsWrModCnf);
  StoreLe16(to_other_adapter.data() + 23, 1024);
  Deliver(to_other_adapter);
  registers.PendingRequestType = kVsRdModReq;
  Deliver(Read(0, 1024, 0, 36 + 1024, 0xEE, forger));
  registers.PendingRequestType = kVsModCommitReq;
  Deliver(Commit(0x46, forger));

  EXPECT_EQ(registers.WriteTransferOffset, 0u);
  EXPECT_EQ(registers.ReadTransferOffset, 0u);
  EXPECT_EQ(h.station.module.bytes[0], 0);
  EXPECT_EQ(h.station.CommitConfirmed, 0);
  EXPECT_THAT(h.page.texts(), IsEmpty());
  EXPECT_THAT(h.page.message_boxes(), IsEmpty());
  EXPECT_EQ(h.station.ForeignConfirmations[0], 4u);

  Deliver(Commit(0x46));  // the unit itself is still heard
  EXPECT_EQ(h.station.CommitConfirmed, 1);
  EXPECT_EQ(h.station.ForeignConfirmations[0], 4u);
}

TEST_F(DispatcherTest, AConfirmedLengthOtherThanTheChunksFailsAndLeavesTheOffset) {
  TransferRegisters& registers = h.station.registers;
  registers.PendingChunkLength = 1024;
  registers.PendingRequestType = kVsWrModReq;
  Deliver(Write(0, 7864, 0));
  registers.PendingRequestType = kVsRdModReq;
  Deliver(Read(0, 512, 0, 36 + 512));
  ASSERT_EQ(h.page.message_boxes().size(), 2u);
  EXPECT_EQ(h.page.message_boxes()[0].text, "Write Module response failed");
  EXPECT_EQ(h.page.message_boxes()[1].text, "Read Module response failed");
  EXPECT_EQ(registers.WriteTransferOffset, 0u);
  EXPECT_EQ(registers.ReadTransferOffset, 0u);
  EXPECT_EQ(h.station.module.bytes[0], 0);
}

}  // namespace
}  // namespace stampwright::station_test
