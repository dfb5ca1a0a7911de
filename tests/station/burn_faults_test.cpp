// Burns on a faulty wire or unit: lost frames, refused chunks, a unit unplugged or back
// under another MAC, a refused commit.
#include <unistd.h>

#include <cstdlib>

#include "station/burn_fixture.h"

namespace stampwright::station_test {
namespace {

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
