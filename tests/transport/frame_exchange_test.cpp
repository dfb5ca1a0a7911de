#include "transport/frame_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/virtual_wire.h"

namespace stampwright {
namespace {

using transport_test::HomePlugFrame;
using transport_test::MakeFrame;
using transport_test::Mac;
using transport_test::VirtualWire;

class SendFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenAllAdapters(*wire.set), 1); }
  std::vector<uint8_t> Buffer(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
  }
  VirtualWire wire{2};
};

TEST_F(SendFrameTest, FullLengthFrameIsSentAsIs) {
  const auto frame = Buffer(1514, 3);
  EXPECT_EQ(SendFrame(*wire.set, wire.summaries, 1, frame.data(), 1514), 1);
  ASSERT_EQ(wire.driver.FramesSent("veth1"), 1u);
  EXPECT_EQ(wire.driver.SentFrames("veth1").back(), frame);
  EXPECT_EQ(wire.driver.FramesSent("veth0"), 0u);
  EXPECT_EQ(wire.summaries[1].FramesSent, 1u);
  EXPECT_EQ(wire.summaries[1].BytesSent, 1514u);
  EXPECT_EQ(wire.summaries[0].FramesSent, 0u);
}

TEST_F(SendFrameTest, OverlongFrameIsRefusedAndChangesNothing) {
  const auto frame = Buffer(1515, 3);
  EXPECT_EQ(SendFrame(*wire.set, wire.summaries, 0, frame.data(), 1515), 0);
  EXPECT_EQ(wire.driver.FramesSent("veth0"), 0u);
  EXPECT_EQ(wire.summaries[0].FramesSent, 0u);
  EXPECT_EQ(wire.summaries[0].BytesSent, 0u);
  EXPECT_EQ(wire.set->SendIndex, 0u);
  EXPECT_EQ(wire.set->send_slots[0].length, 0u);
}

TEST_F(SendFrameTest, ShortFrameIsRaisedTo60BytesFromTheCallersBuffer) {
  const auto buffer = Buffer(60, 11);
  EXPECT_EQ(SendFrame(*wire.set, wire.summaries, 0, buffer.data(), 35), 1);
  const auto sent = wire.driver.SentFrames("veth0");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], buffer);  // all 60 bytes, 35..59 included
  EXPECT_EQ(wire.summaries[0].BytesSent, 60u);
  EXPECT_EQ(wire.set->send_slots[0].length, 60u);
}

TEST_F(SendFrameTest, SlotsAlternateAndARefusedSendDoesNotToggle) {
  const auto a = Buffer(100, 1);
  const auto b = Buffer(200, 2);
  const auto too_long = Buffer(1600, 3);
  ASSERT_EQ(SendFrame(*wire.set, wire.summaries, 0, a.data(), 100), 1);
  EXPECT_EQ(wire.set->SendIndex, 1u);
  ASSERT_EQ(SendFrame(*wire.set, wire.summaries, 0, too_long.data(), 1600), 0);
  EXPECT_EQ(wire.set->SendIndex, 1u);
  ASSERT_EQ(SendFrame(*wire.set, wire.summaries, 0, b.data(), 200), 1);
  EXPECT_EQ(wire.set->SendIndex, 0u);
  EXPECT_EQ(wire.set->send_slots[0].length, 100u);
  EXPECT_EQ(std::memcmp(wire.set->send_slots[0].frame, a.data(), 100), 0);
  EXPECT_EQ(wire.set->send_slots[1].length, 200u);
  EXPECT_EQ(std::memcmp(wire.set->send_slots[1].frame, b.data(), 200), 0);
  EXPECT_EQ(wire.summaries[0].FramesSent, 2u);
  EXPECT_EQ(wire.summaries[0].BytesSent, 300u);
}

TEST_F(SendFrameTest, AdapterThatIsNotOpenIsRefused) {
  const auto frame = Buffer(60, 1);
  EXPECT_EQ(SendFrame(*wire.set, wire.summaries, 2, frame.data(), 60), 0);
  EXPECT_EQ(SendFrame(*wire.set, wire.summaries, -1, frame.data(), 60), 0);
  EXPECT_EQ(SendFrame(*wire.set, wire.summaries, 8, frame.data(), 60), 0);
  CloseAllAdapters(*wire.set);
  EXPECT_EQ(SendFrame(*wire.set, wire.summaries, 0, frame.data(), 60), 0);
  EXPECT_EQ(wire.summaries[0].FramesSent, 0u);
  EXPECT_EQ(wire.set->SendIndex, 0u);
}

class TakeReceivedFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenAllAdapters(*wire.set), 1); }
  void Inject(int adapter, const std::vector<uint8_t>& frame) {
    wire.driver.InjectFrame(VirtualWire::Name(adapter), frame, wire.clock.TickCount());
  }
  VirtualWire wire{2};
};

TEST_F(TakeReceivedFrameTest, WaitingFramesFillPostedSlotsInOrderAndAreTakenLowestFirst) {
  Inject(0, HomePlugFrame(60, 0xA0));
  Inject(0, HomePlugFrame(70, 0xB0));
  Inject(0, HomePlugFrame(80, 0xC0));

  ReceivePacket* first = TakeReceivedFrame(*wire.set, wire.summaries, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, &wire.set->receive_slots[0][0].packet);
  EXPECT_EQ(first->status, kReceiveStatusTaken);
  EXPECT_EQ(first->adapter_index, 0u);
  EXPECT_EQ(first->slot_index, 0u);
  EXPECT_EQ(first->length, 74u);
  EXPECT_EQ(first->frame[14], 0xA0);
  EXPECT_EQ(wire.summaries[0].FramesReceived, 1u);
  EXPECT_EQ(wire.summaries[0].BytesReceived, 74u);
  // All three were pulled at once; the others wait stored.
  EXPECT_EQ(wire.set->receive_slots[0][1].packet.status, kReceiveStatusStored);
  EXPECT_EQ(wire.set->receive_slots[0][2].packet.status, kReceiveStatusStored);
  EXPECT_EQ(wire.set->receive_slots[0][3].packet.status, kReceiveStatusPosted);

  ReceivePacket* second = TakeReceivedFrame(*wire.set, wire.summaries, 0);
  ASSERT_EQ(second, &wire.set->receive_slots[0][1].packet);
  EXPECT_EQ(second->frame[14], 0xB0);
  EXPECT_EQ(wire.summaries[0].FramesReceived, 2u);
  EXPECT_EQ(wire.summaries[0].BytesReceived, 74u + 84u);
  EXPECT_EQ(wire.summaries[1].FramesReceived, 0u);
}

TEST_F(TakeReceivedFrameTest, LowerSlotIsTakenFirstWhateverTheOrderOfArrival) {
  auto& slots = wire.set->receive_slots[0];
  for (int s : {5, 2}) {  // slot 5 filled before slot 2
    slots[s].packet.status = kReceiveStatusStored;
    slots[s].packet.length = 60;
    slots[s].bytes_received = 60;
    slots[s].packet.frame[0] = static_cast<uint8_t>(s);
  }
  ReceivePacket* first = TakeReceivedFrame(*wire.set, wire.summaries, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->slot_index, 2u);
  EXPECT_EQ(first->frame[0], 2);
  ReceivePacket* second = TakeReceivedFrame(*wire.set, wire.summaries, 0);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->slot_index, 5u);
  EXPECT_EQ(TakeReceivedFrame(*wire.set, wire.summaries, 0), nullptr);
}

TEST_F(TakeReceivedFrameTest, OversizeFrameIsCutTo1500WithoutTouchingTheNextSlot) {
  wire.set->receive_slots[0][1].bytes_received = 0xDEADBEEF;
  Inject(0, HomePlugFrame(1600 - 14, 0x11));
  ReceivePacket* packet = TakeReceivedFrame(*wire.set, wire.summaries, 0);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->length, 1500u);
  EXPECT_EQ(wire.set->receive_slots[0][0].bytes_received, 1500u);
  EXPECT_EQ(wire.summaries[0].BytesReceived, 1500u);
  EXPECT_EQ(packet->frame[1499], static_cast<uint8_t>(0x11 + 1499 - 14));
  EXPECT_EQ(wire.set->receive_slots[0][1].bytes_received, 0xDEADBEEFu);
  EXPECT_EQ(wire.set->receive_slots[0][1].packet.status, kReceiveStatusPosted);
}

TEST_F(TakeReceivedFrameTest, OnlyHomePlugFramesPassTheFilter) {
  Inject(0, MakeFrame(Mac(1), Mac(2), 0x0800, 60));
  Inject(0, MakeFrame(Mac(1), Mac(2), 0x88E2, 60));
  Inject(0, std::vector<uint8_t>{0x01, 0x02, 0x03});  // too short to hold an ethertype
  EXPECT_EQ(TakeReceivedFrame(*wire.set, wire.summaries, 0), nullptr);
  Inject(0, HomePlugFrame(46));
  EXPECT_NE(TakeReceivedFrame(*wire.set, wire.summaries, 0), nullptr);
  EXPECT_EQ(wire.summaries[0].FramesReceived, 1u);
}

TEST_F(TakeReceivedFrameTest, TenSlotsHoldTenFramesAndTheRestWaitForARearm) {
  for (int i = 0; i < 12; ++i) Inject(0, HomePlugFrame(46, static_cast<uint8_t>(i)));
  std::vector<ReceivePacket*> taken;
  while (ReceivePacket* packet = TakeReceivedFrame(*wire.set, wire.summaries, 0)) taken.push_back(packet);
  ASSERT_EQ(taken.size(), 10u);
  EXPECT_EQ(taken[9]->frame[14], 9);

  EXPECT_EQ(RearmReceiveSlot(*wire.set, taken[6]), 1);
  ReceivePacket* next = TakeReceivedFrame(*wire.set, wire.summaries, 0);
  ASSERT_EQ(next, taken[6]);
  EXPECT_EQ(next->frame[14], 10);
  EXPECT_EQ(TakeReceivedFrame(*wire.set, wire.summaries, 0), nullptr);
  EXPECT_EQ(wire.summaries[0].FramesReceived, 11u);
}

TEST_F(TakeReceivedFrameTest, RearmAcceptsOnlyATakenSlotOfThisSet) {
  ReceivePacket foreign;
  foreign.status = kReceiveStatusTaken;
  EXPECT_EQ(RearmReceiveSlot(*wire.set, &foreign), 0);
  EXPECT_EQ(RearmReceiveSlot(*wire.set, nullptr), 0);
  ReceivePacket& posted = wire.set->receive_slots[0][0].packet;
  EXPECT_EQ(RearmReceiveSlot(*wire.set, &posted), 0);  // not taken
  foreign.adapter_index = 99;
  EXPECT_EQ(RearmReceiveSlot(*wire.set, &foreign), 0);
  EXPECT_EQ(TakeReceivedFrame(*wire.set, wire.summaries, 8), nullptr);
  EXPECT_EQ(TakeReceivedFrame(*wire.set, wire.summaries, -1), nullptr);
}

}  // namespace
}  // namespace stampwright
