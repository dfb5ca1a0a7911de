// What the unit ignores, when its answers fall due, and the faults it can be told to make.
#include "simulated_unit_fixture.h"

namespace stampwright {
namespace {

TEST(SimulatedUnitFilter, IgnoresOtherOuiEthertypeUnknownTypesAndOtherDestinations) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  SimulatedUnit unit(config);
  EXPECT_FALSE(Exchange(unit, VersionQuery(MacAddress::Broadcast(), {0x02, 0x12, 0x34}), 0));

  std::vector<uint8_t> ipv4 = VersionQuery();
  ipv4[12] = 0x08;
  ipv4[13] = 0x00;
  EXPECT_FALSE(Exchange(unit, ipv4, 10));

  EXPECT_FALSE(Exchange(unit, Request(0xA030, kUnit, 60), 20));
  EXPECT_FALSE(Exchange(unit, Request(0xA001, kUnit, 60), 30));  // a confirmation, not a request
  EXPECT_FALSE(Exchange(unit, ReadRequest(0, 16, 2, MacAddress::Broadcast()), 40));
  std::vector<uint8_t> runt = VersionQuery();
  runt.resize(19);
  EXPECT_FALSE(Exchange(unit, runt, 50));
  EXPECT_EQ(unit.RequestCount(0xA000) + unit.RequestCount(0xA024), 0u);

  // A unit configured for another OUI answers it and echoes it.
  config.oui = {0x02, 0x12, 0x34};
  SimulatedUnit other(config);
  auto a = Exchange(other, VersionQuery(MacAddress::Broadcast(), {0x02, 0x12, 0x34}), 0);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[17], 0x02);
  EXPECT_EQ((*a)[18], 0x12);
  EXPECT_EQ((*a)[19], 0x34);
  EXPECT_FALSE(Exchange(other, VersionQuery(), 10));
}

TEST(SimulatedUnitTiming, AnswersAreDueAfterTheLatencyAcrossTheTickWrap) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.latency_ms = 20;
  SimulatedUnit unit(config);
  const std::vector<uint8_t> q = VersionQuery();
  const uint32_t now = 0xFFFFFFF0u;
  unit.OnFrame(q.data(), q.size(), now);
  ASSERT_TRUE(unit.NextFrameDue());
  EXPECT_EQ(*unit.NextFrameDue(), now + 20);  // wraps to 4
  std::vector<uint8_t> answer;
  EXPECT_FALSE(unit.TakeFrame(now + 19, &answer));
  EXPECT_FALSE(unit.TakeFrame(0xFFFFFFFFu, &answer));
  EXPECT_TRUE(unit.TakeFrame(4, &answer));
  EXPECT_FALSE(unit.TakeFrame(5, &answer));
}

TEST(SimulatedUnitFaults, DropsAShareOfRequestsDeterministically) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.faults.drop_percent = 30;
  config.faults.seed = 42;
  SimulatedUnit first(config);
  SimulatedUnit second(config);
  std::vector<bool> answered_first, answered_second;
  for (uint32_t i = 0; i < 1000; ++i) {
    answered_first.push_back(Exchange(first, VersionQuery(), i * 10).has_value());
    answered_second.push_back(Exchange(second, VersionQuery(), i * 10).has_value());
  }
  EXPECT_EQ(answered_first, answered_second);
  EXPECT_GT(first.DroppedRequests(), 230u);
  EXPECT_LT(first.DroppedRequests(), 370u);
  EXPECT_EQ(first.DroppedRequests() + first.RequestCount(0xA000), 1000u);

  config.faults.seed = 43;
  SimulatedUnit third(config);
  std::vector<bool> answered_third;
  for (uint32_t i = 0; i < 1000; ++i) {
    answered_third.push_back(Exchange(third, VersionQuery(), i * 10).has_value());
  }
  EXPECT_NE(answered_first, answered_third);

  config.faults.drop_percent = 100;
  SimulatedUnit deaf(config);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_FALSE(Exchange(deaf, VersionQuery(), i));
}

TEST(SimulatedUnitFaults, RejectsEveryNthWriteAndSkewsOneOffset) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.faults.reject_every = 3;
  config.faults.wrong_offset_at = 2;
  SimulatedUnit unit(config);
  std::vector<uint8_t> data(64, 0x42);
  std::vector<uint8_t> statuses;
  std::vector<uint32_t> offsets;
  for (uint32_t i = 0; i < 6; ++i) {
    auto a = Exchange(unit, WriteRequest(i * 64, data.data(), 64), i * 10);
    ASSERT_TRUE(a);
    statuses.push_back((*a)[20]);
    offsets.push_back(LoadLe32(&(*a)[25]));
  }
  EXPECT_EQ(statuses, (std::vector<uint8_t>{0, 0, 3, 0, 0, 3}));
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 65, 128, 192, 256, 320}));
}

TEST(SimulatedUnitFaults, GoesSilentAfterNRequests) {
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.faults.silent_after = 2;
  SimulatedUnit unit(config);
  EXPECT_TRUE(Exchange(unit, VersionQuery(), 0));
  EXPECT_TRUE(Exchange(unit, ReadRequest(0, 16), 10));
  EXPECT_FALSE(Exchange(unit, VersionQuery(), 20));
  EXPECT_FALSE(Exchange(unit, ReadRequest(0, 16), 30));
}

TEST(SimulatedUnitFaults, ReturnsUnderAnotherMacThanTheImageSays) {
  const MacAddress stray{{0x02, 0xEE, 0xEE, 0xEE, 0xEE, 0x01}};
  SimulatedUnitConfig config;
  config.mac = kUnit;
  config.restart_ms = 100;
  config.faults.return_mac = stray;
  SimulatedUnit unit(config);
  ASSERT_EQ(WriteImage(unit, DefaultUnitImage(kBurned), 0), 8);
  auto a = Exchange(unit, CommitRequest(2), 10);
  ASSERT_TRUE(a);
  EXPECT_EQ((*a)[20], 0);
  a = Exchange(unit, VersionQuery(), 500);
  ASSERT_TRUE(a);
  EXPECT_EQ(MacAddress::FromBytes(&(*a)[6]), stray);
  EXPECT_EQ(unit.Flash().GetMacAddress(), kBurned);
}

}  // namespace
}  // namespace stampwright
