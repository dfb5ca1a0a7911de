#include "transport/virtual_driver.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "transport/adapter_set.h"
#include "transport/bpf_filter.h"
#include "support/virtual_wire.h"

namespace stampwright {
namespace {

using transport_test::AnsweringPeer;
using transport_test::HomePlugFrame;
using transport_test::MakeFrame;
using transport_test::Mac;

TEST(BpfProgram, FrameFilterAdmitsOnlyEthertype88E1) {
  const auto homeplug = HomePlugFrame(46);
  const auto ip = MakeFrame(Mac(1), Mac(2), 0x0800, 46);
  EXPECT_EQ(RunBpfProgram(FrameFilterProgram, homeplug.data(), homeplug.size()), 0xFFFFFFFFu);
  EXPECT_EQ(RunBpfProgram(FrameFilterProgram, ip.data(), ip.size()), 0u);
  // Exactly 14 bytes still holds the ethertype; 13 does not.
  EXPECT_EQ(RunBpfProgram(FrameFilterProgram, homeplug.data(), 14), 0xFFFFFFFFu);
  EXPECT_EQ(RunBpfProgram(FrameFilterProgram, homeplug.data(), 13), 0u);
  EXPECT_EQ(RunBpfProgram(FrameFilterProgram, homeplug.data(), 0), 0u);
}

TEST(BpfProgram, UnknownInstructionsAndRunawayJumpsReject) {
  const auto frame = HomePlugFrame(46);
  const std::array<BpfInstruction, 1> load_word = {{{0x0020, 0, 0, 12}}};  // ld w: not supported
  EXPECT_EQ(RunBpfProgram(load_word, frame.data(), frame.size()), 0u);
  const std::array<BpfInstruction, 2> jump_out = {{{0x0028, 0, 0, 12}, {0x0015, 9, 9, 0x88E1}}};
  EXPECT_EQ(RunBpfProgram(jump_out, frame.data(), frame.size()), 0u);
  const std::array<BpfInstruction, 1> no_return = {{{0x0028, 0, 0, 12}}};
  EXPECT_EQ(RunBpfProgram(no_return, frame.data(), frame.size()), 0u);
  const std::array<BpfInstruction, 1> huge_offset = {{{0x0028, 0, 0, 0xFFFFFFFF}}};
  EXPECT_EQ(RunBpfProgram(huge_offset, frame.data(), frame.size()), 0u);
  const std::array<BpfInstruction, 1> snap = {{{0x0006, 0, 0, 20}}};
  EXPECT_EQ(RunBpfProgram(snap, frame.data(), frame.size()), 20u);
}

class VirtualDriverTest : public ::testing::Test {
 protected:
  VirtualDriverTest() : driver(clock, 2) {
    driver.AddAdapter("a", Mac(0xA));
    driver.AddAdapter("b", Mac(0xB));
  }
  PacketDriver::Handle OpenReceiving(const std::string& name) {
    const auto handle = driver.OpenAdapter(name);
    driver.SetBpfProgram(handle, FrameFilterProgram);
    driver.SetPacketFilter(handle, kPacketFilterPromiscuous);
    return handle;
  }
  size_t Receive(PacketDriver::Handle handle) { return driver.ReceivePacket(handle, buffer.data(), buffer.size()); }

  VirtualClock clock{500};
  VirtualDriver driver;
  std::array<uint8_t, 1600> buffer{};
};

TEST_F(VirtualDriverTest, WaitReadableJumpsToTheAnswerOrToTheTimeout) {
  AnsweringPeer peer(5);
  driver.AttachPeer("a", &peer);
  const auto handle = OpenReceiving("a");
  const auto request = HomePlugFrame(46, 9);
  ASSERT_TRUE(driver.SendPacket(handle, request.data(), request.size()));
  EXPECT_EQ(Receive(handle), 0u);
  EXPECT_TRUE(driver.WaitReadable(handle, 100));
  EXPECT_EQ(clock.TickCount(), 509u);  // 2 out, 5 in the peer, 2 back
  ASSERT_EQ(peer.heard_at, std::vector<uint32_t>{502});
  ASSERT_EQ(Receive(handle), request.size());
  EXPECT_EQ(MacAddress::FromBytes(buffer.data()), Mac(0x10));  // answered to the request's source
  EXPECT_FALSE(driver.WaitReadable(handle, 30));
  EXPECT_EQ(clock.TickCount(), 539u);
}

TEST_F(VirtualDriverTest, AnAdapterNeverHearsItsOwnFrames) {
  const auto handle = OpenReceiving("a");
  const auto frame = HomePlugFrame(46);
  ASSERT_TRUE(driver.SendPacket(handle, frame.data(), frame.size()));
  EXPECT_FALSE(driver.WaitReadable(handle, 20));
  EXPECT_EQ(Receive(handle), 0u);
  EXPECT_EQ(driver.FramesSent("a"), 1u);
  EXPECT_EQ(driver.FramesSent("b"), 0u);
}

TEST_F(VirtualDriverTest, NothingArrivesUnlessPromiscuous) {
  const auto handle = driver.OpenAdapter("a");
  driver.SetBpfProgram(handle, FrameFilterProgram);
  driver.InjectFrame("a", HomePlugFrame(46), 505);
  EXPECT_FALSE(driver.WaitReadable(handle, 10));
  driver.SetPacketFilter(handle, kPacketFilterPromiscuous);
  driver.InjectFrame("a", HomePlugFrame(46), 515);
  EXPECT_TRUE(driver.WaitReadable(handle, 10));
  EXPECT_EQ(clock.TickCount(), 515u);
  EXPECT_GT(Receive(handle), 0u);
  driver.SetPacketFilter(handle, kPacketFilterNone);
  driver.InjectFrame("a", HomePlugFrame(46), 516);
  EXPECT_FALSE(driver.WaitReadable(handle, 10));
}

TEST_F(VirtualDriverTest, InjectedFrameArrivesAtItsTimeOnItsAdapterOnly) {
  const auto a = OpenReceiving("a");
  const auto b = OpenReceiving("b");
  driver.InjectFrame("b", HomePlugFrame(46, 1), 530);
  driver.InjectFrame("b", HomePlugFrame(46, 2), 520);  // injected later, arrives earlier
  clock.Advance(19);
  EXPECT_EQ(Receive(b), 0u);
  clock.Advance(1);
  ASSERT_GT(Receive(b), 0u);
  EXPECT_EQ(buffer[14], 2);
  EXPECT_TRUE(driver.WaitReadable(b, 50));
  EXPECT_EQ(clock.TickCount(), 530u);
  ASSERT_GT(Receive(b), 0u);
  EXPECT_EQ(buffer[14], 1);
  EXPECT_EQ(Receive(a), 0u);
}

TEST_F(VirtualDriverTest, UnpluggingLosesWhatIsOnTheWireAndReplugWorks) {
  AnsweringPeer peer(5);
  driver.AttachPeer("a", &peer);
  const auto handle = OpenReceiving("a");
  const auto request = HomePlugFrame(46);
  driver.SendPacket(handle, request.data(), request.size());
  clock.Advance(4);  // heard at 502, answer due at 507
  driver.DetachPeer("a");
  EXPECT_FALSE(driver.WaitReadable(handle, 20));
  EXPECT_EQ(peer.heard_at.size(), 1u);

  driver.SendPacket(handle, request.data(), request.size());  // nobody at the far end
  driver.AttachPeer("a", &peer);
  EXPECT_FALSE(driver.WaitReadable(handle, 20));
  driver.SendPacket(handle, request.data(), request.size());
  EXPECT_TRUE(driver.WaitReadable(handle, 20));
  EXPECT_EQ(peer.heard_at.size(), 2u);
}

TEST_F(VirtualDriverTest, ClosedAndStaleHandlesFailCleanlyAndAreNeverReused) {
  const auto first = OpenReceiving("a");
  driver.CloseAdapter(first);
  const auto second = OpenReceiving("a");
  EXPECT_NE(first, second);
  const auto frame = HomePlugFrame(46);
  EXPECT_FALSE(driver.SendPacket(first, frame.data(), frame.size()));
  MacAddress address;
  EXPECT_FALSE(driver.QueryCurrentAddress(first, &address));
  EXPECT_TRUE(driver.QueryCurrentAddress(second, &address));
  EXPECT_EQ(address, Mac(0xA));
  EXPECT_FALSE(driver.SetPacketFilter(first, kPacketFilterPromiscuous));
  EXPECT_EQ(driver.ReceivePacket(first, buffer.data(), buffer.size()), 0u);
  EXPECT_FALSE(driver.WaitReadable(first, 7));
  EXPECT_EQ(clock.TickCount(), 507u);  // a wait on a dead handle still passes its time
  EXPECT_EQ(driver.OpenAdapter("missing"), PacketDriver::kInvalidHandle);
}

// A peer that says a frame is due but never hands it over must not hang a wait.
class StuckPeer final : public WirePeer {
 public:
  void OnFrame(const uint8_t*, size_t, uint32_t) override {}
  bool TakeFrame(uint32_t, std::vector<uint8_t>*) override { return false; }
  std::optional<uint32_t> NextFrameDue() const override { return 0u; }
};

TEST_F(VirtualDriverTest, APeerThatNeverDeliversCannotHangAWait) {
  StuckPeer peer;
  driver.AttachPeer("a", &peer);
  const auto handle = OpenReceiving("a");
  EXPECT_FALSE(driver.WaitReadable(handle, 25));
  EXPECT_EQ(clock.TickCount(), 525u);
}

}  // namespace
}  // namespace stampwright
