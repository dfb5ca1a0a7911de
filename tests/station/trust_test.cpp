// Only the unit being programmed is believed: a third party on the cable and a second unit on
// the same adapter are seen on the virtual wire, never acted on.

#include <cstring>
#include <deque>
#include <memory>

#include "station/burn_fixture.h"
#include "protocol/management_message.h"

namespace stampwright::station_test {
namespace {

const MacAddress kForgerMac = Mac(0x02, 0x66, 0x00, 0x00, 0x00, 0x66);
const MacAddress kSecondUnitMac = Mac(0x02, 0xA0, 0xC5, 0x00, 0x00, 0x02);

// A third party on the unit's side of the cable: answers every request addressed to the unit
// before the unit can, from its own MAC, with what would move a transfer past the bytes the
// unit took or gave: a write of all 7864 bytes, 981 foreign bytes for a read, an accepted commit.
class Forger final : public WirePeer {
 public:
  void OnFrame(const uint8_t* data, size_t length, uint32_t now) override {
    const FrameReader frame(data, length);
    const std::optional<MessageHeader> header = ReadMessageHeader(frame);
    if (!header || header->destination != kUnitMac) return;
    const uint32_t offset = frame.Le32(24).value_or(0);
    std::vector<uint8_t> forged = StationHarness::Confirmation(
        header->source, kForgerMac, static_cast<uint16_t>(header->mmtype + 1));
    switch (header->mmtype) {
      case kVsWrModReq:
        StoreLe16(&forged[23], 7864);
        StoreLe32(&forged[25], offset);
        break;
      case kVsRdModReq:
        forged.resize(36 + 981, 0xEE);
        StoreLe16(&forged[26], 981);
        StoreLe32(&forged[28], offset);
        break;
      case kVsModCommitReq:
        forged[20] = 0x46;
        break;
      default:
        return;
    }
    ++sent;
    queue_.push_back({now, std::move(forged)});
  }
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override {
    if (queue_.empty() || static_cast<int32_t>(now - queue_.front().first) < 0) return false;
    *frame = std::move(queue_.front().second);
    queue_.pop_front();
    return true;
  }
  std::optional<uint32_t> NextFrameDue() const override {
    if (queue_.empty()) return std::nullopt;
    return queue_.front().first;
  }

  uint32_t sent = 0;

 private:
  std::deque<std::pair<uint32_t, std::vector<uint8_t>>> queue_;
};

using TrustTest = BurnTest;

TEST_F(TrustTest, ForgedConfirmationsFromAnotherMacChangeNothing) {
  h.AddAdapter("eth0", kAdapter0);
  h.units.push_back(std::make_unique<SimulatedUnit>(UnitConfig()));
  unit = h.units.back().get();
  Forger forger;
  WireHub hub;
  hub.Add(*unit);
  hub.Add(forger);
  h.driver.AttachPeer("eth0", &hub);
  h.page.Check(kPx300Radio, true);
  ScanNow(h.station);
  ScanNow(h.station);
  ASSERT_TRUE(h.page.IsEnabled(kBurnButton));
  EXPECT_EQ(h.station.module.bytes, unit->Flash().bytes);  // not one foreign byte read
  read_image = h.station.module;
  WriteDatabase({EncodeMacRecord(kBurnMacText, kPassword)});

  Burn();
  // Every chunk written and confirmed by the unit itself, exactly as on a clean wire.
  const ParameterModule expected = Expected();
  EXPECT_THAT(h.page.StatusTexts(), ElementsAreArray(CleanBurnTexts(expected.ImageChecksum())));
  EXPECT_THAT(h.page.message_boxes(), IsEmpty());
  EXPECT_EQ(unit->RequestCount(kVsWrModReq), 8u);
  EXPECT_EQ(forger.sent, 8u + 8u + 1u);
  EXPECT_EQ(h.station.ForeignConfirmations[0], forger.sent);
  ASSERT_TRUE(TickUntilSuccess());
  EXPECT_EQ(unit->Flash().bytes, expected.bytes);
}

TEST_F(TrustTest, TwoUnitsOnOneAdapterAreNeitherReadNorBurned) {
  h.AddAdapter("eth0", kAdapter0);
  SimulatedUnit first(UnitConfig());
  SimulatedUnitConfig second_config = UnitConfig();
  second_config.mac = kSecondUnitMac;
  SimulatedUnit second(second_config);
  WireHub both;
  both.Add(first);
  both.Add(second);
  h.driver.AttachPeer("eth0", &both);
  h.page.Check(kPx300Radio, true);
  for (int pass = 0; pass < 3; ++pass) ScanNow(h.station);

  EXPECT_EQ(h.page.GetText(kStatusLine, 79), "More than one unit on this adapter");
  EXPECT_FALSE(h.page.IsEnabled(kBurnButton));
  ASSERT_EQ(h.page.message_boxes().size(), 1u);  // once per change, not once per pass
  EXPECT_EQ(h.page.message_boxes()[0].caption, "Mac Burn");
  EXPECT_EQ(h.page.message_boxes()[0].type, 48u);
  EXPECT_EQ(h.page.message_boxes()[0].text,
            "Units 02:A0:C5:00:00:01 and 02:A0:C5:00:00:02 answer on adapter eth0: connect one "
            "unit only.");
  OnPageCommand(h.station, kBurnButton);
  OnPageCommand(h.station, kReadButton);
  for (const SimulatedUnit* unit_on_wire : {&first, &second}) {
    EXPECT_EQ(unit_on_wire->RequestCount(kVsRdModReq), 0u);
    EXPECT_EQ(unit_on_wire->RequestCount(kVsWrModReq), 0u);
  }

  // One unit alone: read at the next pass, Burn enabled, no further box.
  WireHub alone;
  alone.Add(first);
  h.driver.AttachPeer("eth0", &alone);
  ScanNow(h.station);
  EXPECT_EQ(h.page.GetText(kStatusLine, 79), "Read Module OK - PX300 Class B");
  EXPECT_TRUE(h.page.IsEnabled(kBurnButton));
  EXPECT_EQ(h.station.module.bytes, first.Flash().bytes);
  EXPECT_EQ(h.page.message_boxes().size(), 1u);

  // The second unit cabled again: a new change, a new box.
  h.driver.AttachPeer("eth0", &both);
  ScanNow(h.station);
  EXPECT_EQ(h.page.message_boxes().size(), 2u);
  EXPECT_FALSE(h.page.IsEnabled(kBurnButton));
}

// An answer of the first unit left over from the pass before, then its fresh one, then the second
// unit's 20 ms later: the listen runs its whole window and hears the second before anything is read.
TEST_F(TrustTest, ALeftoverAnswerDoesNotCutTheListenForASecondUnitShort) {
  h.AddAdapter("eth0", kAdapter0);
  SimulatedUnit first(UnitConfig());
  SimulatedUnitConfig second_config = UnitConfig();
  second_config.mac = kSecondUnitMac;
  second_config.latency_ms = 20;
  SimulatedUnit second(second_config);
  WireHub both;
  both.Add(first);
  both.Add(second);
  h.driver.AttachPeer("eth0", &both);
  h.page.Check(kPx300Radio, true);
  ScanNow(h.station);  // the adapter's MAC is known from here on
  auto leftover = StationHarness::Confirmation(kAdapter0, first.CurrentMac(), kVsVerQueryCnf, 120);
  leftover[21] = kUnitChipPx300;
  leftover[22] = 4;
  std::memcpy(leftover.data() + 23, "old", 3);
  h.driver.InjectFrame("eth0", leftover, h.clock.TickCount() + 1);
  ScanNow(h.station);

  EXPECT_EQ(h.page.GetText(kStatusLine, 79), "More than one unit on this adapter");
  EXPECT_EQ(first.RequestCount(kVsRdModReq), 0u);
  EXPECT_EQ(second.RequestCount(kVsRdModReq), 0u);
}

}  // namespace
}  // namespace stampwright::station_test
