#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "transport/frame_exchange.h"
#include "support/virtual_wire.h"

namespace stampwright {
namespace {

using transport_test::AnsweringPeer;
using transport_test::HomePlugFrame;
using transport_test::VirtualWire;

// A dispatcher that takes frames as the real one does and lets each test act on them.
struct Dispatcher {
  VirtualWire* wire = nullptr;
  int calls = 0;
  std::vector<std::vector<uint8_t>> seen;
  std::function<void(ReceivePacket*)> on_frame;

  static ReceivePacket* Dispatch(void* context, int adapter) {
    auto* self = static_cast<Dispatcher*>(context);
    ++self->calls;
    ReceivePacket* packet = TakeReceivedFrame(*self->wire->set, self->wire->summaries, adapter);
    if (packet != nullptr) {
      self->seen.emplace_back(packet->frame, packet->frame + packet->length);
      if (self->on_frame) self->on_frame(packet);
    }
    return packet;
  }
  WaitHooks Hooks(bool full_waits = true, const bool* accepted = nullptr) {
    WaitHooks hooks;
    hooks.dispatch = &Dispatch;
    hooks.context = this;
    hooks.full_waits = full_waits;
    hooks.awaited_accepted = accepted;
    return hooks;
  }
};

class PumpFramesTest : public ::testing::Test {
 protected:
  explicit PumpFramesTest(uint32_t start_tick = 1000) : wire(2, start_tick) {}
  void SetUp() override {
    ASSERT_EQ(OpenAllAdapters(*wire.set), 1);
    dispatcher.wire = &wire;
    destination.fill(0xAB);
  }
  void InjectAt(int adapter, uint32_t delay, const std::vector<uint8_t>& frame) {
    wire.driver.InjectFrame(VirtualWire::Name(adapter), frame, wire.clock.TickCount() + delay);
  }
  uint8_t Wait(int adapter, uint32_t timeout, const WaitHooks& hooks) {
    return PumpFrames(*wire.set, wire.clock, adapter, timeout, destination.data(), hooks);
  }

  VirtualWire wire;
  Dispatcher dispatcher;
  std::array<uint8_t, 1500> destination{};
};

TEST_F(PumpFramesTest, ZeroTimeoutReturnsAtOnceWithoutDispatching) {
  InjectAt(0, 0, HomePlugFrame(46));
  EXPECT_EQ(Wait(0, 0, dispatcher.Hooks()), 0);
  EXPECT_EQ(dispatcher.calls, 0);
  EXPECT_EQ(wire.clock.TickCount(), 1000u);
  EXPECT_EQ(wire.set->SelectedHandle, wire.set->records[0].Handle);
}

TEST_F(PumpFramesTest, QuietWaitLastsItsTimeLeavesDestinationAndDoesNotSpin) {
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks()), 0);
  EXPECT_EQ(wire.clock.TickCount(), 1050u);
  EXPECT_LE(dispatcher.calls, 2);  // sleeps on the driver, not once per millisecond
  for (uint8_t byte : destination) ASSERT_EQ(byte, 0xAB);
}

TEST_F(PumpFramesTest, AnyAdmittedFrameCountsAndTheLastOneIsCopiedOut) {
  const auto first = HomePlugFrame(46, 1);
  const auto last = HomePlugFrame(100, 2);
  InjectAt(0, 10, first);
  InjectAt(0, 20, last);
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks()), 1);
  EXPECT_EQ(wire.clock.TickCount(), 1050u);  // full wait: no early end
  ASSERT_EQ(dispatcher.seen.size(), 2u);
  EXPECT_EQ(std::memcmp(destination.data(), last.data(), last.size()), 0);
  EXPECT_EQ(destination[last.size()], 0xAB);  // only `length` bytes copied
  // Every slot is posted again at the end.
  for (const ReceiveSlot& slot : wire.set->receive_slots[0]) EXPECT_EQ(slot.packet.status, kReceiveStatusPosted);
}

TEST_F(PumpFramesTest, FramesThatArriveTogetherAreAllDispatchedInOneWait) {
  for (uint8_t i = 0; i < 14; ++i) InjectAt(0, 5, HomePlugFrame(46, i));
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks()), 1);
  ASSERT_EQ(dispatcher.seen.size(), 14u);
  for (uint8_t i = 0; i < 14; ++i) EXPECT_EQ(dispatcher.seen[i][14], i);
  EXPECT_EQ(wire.summaries[0].FramesReceived, 14u);
}

TEST_F(PumpFramesTest, EndsEarlyOnceTheAwaitedConfirmationIsAcceptedUnlessFullWaits) {
  bool accepted = false;
  dispatcher.on_frame = [&](ReceivePacket* packet) { accepted = packet->frame[14] == 0x77; };
  InjectAt(0, 5, HomePlugFrame(46, 0x10));  // not the awaited one
  InjectAt(0, 12, HomePlugFrame(46, 0x77));
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks(false, &accepted)), 1);
  EXPECT_EQ(wire.clock.TickCount(), 1012u);
  EXPECT_EQ(destination[14], 0x77);

  accepted = false;
  const uint32_t start = wire.clock.TickCount();
  InjectAt(0, 5, HomePlugFrame(46, 0x77));
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks(true, &accepted)), 1);
  EXPECT_EQ(wire.clock.TickCount(), start + 50);

  // Without a flag to look at there is no early end either.
  InjectAt(0, 5, HomePlugFrame(46, 0x77));
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks(false, nullptr)), 1);
  EXPECT_EQ(wire.clock.TickCount(), start + 100);
}

TEST_F(PumpFramesTest, AnswerFromAPeerArrivesAfterTheLatencyBothWays) {
  AnsweringPeer peer(3);
  ASSERT_TRUE(wire.driver.AttachPeer("veth0", &peer));
  const auto request = HomePlugFrame(60, 0x42);
  ASSERT_EQ(SendFrame(*wire.set, wire.summaries, 0, request.data(), static_cast<uint16_t>(request.size())), 1);
  bool accepted = false;
  dispatcher.on_frame = [&](ReceivePacket*) { accepted = true; };
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks(false, &accepted)), 1);
  ASSERT_EQ(peer.heard_at.size(), 1u);
  EXPECT_EQ(peer.heard_at[0], 1001u);
  EXPECT_EQ(wire.clock.TickCount(), 1005u);  // 1 ms out, 3 ms in the peer, 1 ms back
  EXPECT_EQ(std::memcmp(destination.data(), request.data() + 6, 6), 0);  // addresses swapped
}

TEST_F(PumpFramesTest, FramesOnAnotherAdapterStayThere) {
  InjectAt(1, 5, HomePlugFrame(46, 0x31));
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks()), 0);
  EXPECT_EQ(wire.summaries[1].FramesReceived, 0u);
  EXPECT_EQ(Wait(1, 50, dispatcher.Hooks()), 1);
  EXPECT_EQ(destination[14], 0x31);
  EXPECT_EQ(wire.summaries[1].FramesReceived, 1u);
  EXPECT_EQ(wire.summaries[0].FramesReceived, 0u);
}

TEST_F(PumpFramesTest, NestedWaitNeverRetakesTheOuterFrame) {
  const auto outer_frame = HomePlugFrame(46, 0x01);
  InjectAt(0, 5, outer_frame);
  InjectAt(0, 5, HomePlugFrame(46, 0x02));
  InjectAt(0, 20, HomePlugFrame(46, 0x03));
  ReceivePacket* outer_packet = nullptr;
  std::vector<ReceivePacket*> nested_packets;
  std::array<uint8_t, 1500> nested_destination{};
  Dispatcher nested;
  nested.wire = &wire;
  nested.on_frame = [&](ReceivePacket* packet) { nested_packets.push_back(packet); };
  dispatcher.on_frame = [&](ReceivePacket* packet) {
    if (outer_packet != nullptr) return;
    outer_packet = packet;
    PumpFrames(*wire.set, wire.clock, 0, 30, nested_destination.data(), nested.Hooks());
    // The outer frame is still in its slot, untouched, while the nested wait ran.
    EXPECT_EQ(packet->status, kReceiveStatusTaken);
    EXPECT_EQ(std::memcmp(packet->frame, outer_frame.data(), outer_frame.size()), 0);
  };
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks()), 1);
  ASSERT_NE(outer_packet, nullptr);
  ASSERT_EQ(nested.seen.size(), 2u);
  EXPECT_EQ(nested.seen[0][14], 0x02);
  EXPECT_EQ(nested.seen[1][14], 0x03);
  for (ReceivePacket* packet : nested_packets) EXPECT_NE(packet, outer_packet);
  EXPECT_EQ(destination[14], 0x01);
  EXPECT_EQ(nested_destination[14], 0x03);
  EXPECT_EQ(dispatcher.seen.size(), 1u);
  EXPECT_EQ(outer_packet->status, kReceiveStatusPosted);
}

TEST_F(PumpFramesTest, WaitEndsWhenEverySlotIsTakenAndAFrameCannotBeStored) {
  for (uint8_t i = 0; i < 10; ++i) InjectAt(0, 0, HomePlugFrame(46, i));
  for (int i = 0; i < 10; ++i) ASSERT_NE(TakeReceivedFrame(*wire.set, wire.summaries, 0), nullptr);
  InjectAt(0, 0, HomePlugFrame(46, 0x55));  // waits in the driver: no slot is posted
  EXPECT_EQ(Wait(0, 20, dispatcher.Hooks()), 0);
  EXPECT_EQ(wire.clock.TickCount(), 1020u);
  EXPECT_LE(dispatcher.calls, 25);
}

TEST_F(PumpFramesTest, WaitOnAClosedAdapterPassesItsTime) {
  EXPECT_EQ(Wait(5, 40, dispatcher.Hooks()), 0);
  EXPECT_EQ(wire.clock.TickCount(), 1040u);
  EXPECT_EQ(Wait(-1, 40, dispatcher.Hooks()), 0);
  WaitHooks none;
  EXPECT_EQ(Wait(0, 40, none), 0);
  EXPECT_EQ(wire.clock.TickCount(), 1080u);
}

class WaitAcrossTheWrapTest : public PumpFramesTest {
 protected:
  WaitAcrossTheWrapTest() : PumpFramesTest(0xFFFFFFF0u) {}
};

TEST_F(WaitAcrossTheWrapTest, ElapsedTimeStaysRightWhenTheTickCountWraps) {
  InjectAt(0, 30, HomePlugFrame(46, 0x66));  // arrives at tick 0x0E, after the wrap
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks()), 1);
  EXPECT_EQ(destination[14], 0x66);
  EXPECT_EQ(wire.clock.TickCount(), 0x22u);  // 0xFFFFFFF0 + 50, wrapped

  AnsweringPeer peer(2);
  ASSERT_TRUE(wire.driver.AttachPeer("veth0", &peer));
  const auto request = HomePlugFrame(60);
  wire.clock.Advance(0xFFFFFFFFu - 0x22u - 1);  // one tick before the next wrap
  ASSERT_EQ(SendFrame(*wire.set, wire.summaries, 0, request.data(), 74), 1);
  bool accepted = false;
  dispatcher.on_frame = [&](ReceivePacket*) { accepted = true; };
  EXPECT_EQ(Wait(0, 50, dispatcher.Hooks(false, &accepted)), 1);
  EXPECT_EQ(wire.clock.TickCount(), 2u);  // 0xFFFFFFFE + 1 + 2 + 1
}

}  // namespace
}  // namespace stampwright
