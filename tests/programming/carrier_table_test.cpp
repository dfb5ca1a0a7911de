#include "programming/carrier_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "base/byte_order.h"

namespace stampwright {
namespace {

struct Range {
  size_t first;
  size_t last;
};

// The ten amateur radio bands, entries inclusive.
constexpr Range kOffRanges[] = {{0, 11},    {66, 93},   {141, 151}, {209, 228},  {336, 345},
                                {496, 517}, {663, 674}, {783, 808}, {942, 953}, {1070, 1154}};

bool IsSwitchedOff(size_t entry) {
  return std::any_of(std::begin(kOffRanges), std::end(kOffRanges),
                     [entry](const Range& r) { return entry >= r.first && entry <= r.last; });
}

// Per stretch: its first and last value as the run lists give them, the sum of its values and
// the sum of (position in stretch, from 1) * value, so that a swapped or shifted run shows up.
struct StretchGolden {
  size_t first;
  size_t last;
  uint32_t first_value;
  uint32_t last_value;
  uint64_t sum;
  uint64_t weighted_sum;
};

constexpr StretchGolden kPx300Golden[] = {
    {12, 65, 80, 90, 4499, 126962},         {94, 140, 93, 116, 4550, 110713},
    {152, 208, 117, 132, 7100, 209970},     {229, 335, 136, 157, 15789, 872476},
    {346, 495, 170, 173, 26119, 1981248},   {518, 662, 170, 149, 23287, 1662918},
    {675, 782, 115, 102, 11627, 619552},    {809, 941, 100, 137, 15510, 1117480},
    {954, 1069, 123, 136, 14956, 890110},
};

constexpr StretchGolden kPx100Golden[] = {
    {12, 65, 80, 96, 4400, 122960},         {94, 140, 96, 96, 4512, 108288},
    {152, 208, 125, 144, 7781, 232362},     {229, 335, 160, 160, 17120, 924480},
    {346, 495, 160, 224, 26144, 2114000},   {518, 662, 256, 256, 39040, 2780480},
    {675, 782, 240, 224, 25568, 1378320},   {809, 941, 186, 208, 27411, 1851464},
    {954, 1069, 222, 276, 28160, 1708780},
};

void ExpectStretches(const CarrierTable& table, const StretchGolden (&golden)[9], const char* name) {
  for (const StretchGolden& g : golden) {
    SCOPED_TRACE(testing::Message() << name << " entries " << g.first << "-" << g.last);
    EXPECT_EQ(table[g.first], g.first_value);
    EXPECT_EQ(table[g.last], g.last_value);
    uint64_t sum = 0;
    uint64_t weighted = 0;
    for (size_t i = g.first; i <= g.last; ++i) {
      sum += table[i];
      weighted += (i - g.first + 1) * uint64_t{table[i]};
    }
    EXPECT_EQ(sum, g.sum);
    EXPECT_EQ(weighted, g.weighted_sum);
  }
}

TEST(CarrierTable, StretchesMatchTheRunLists) {
  ExpectStretches(Px300CarrierTable(), kPx300Golden, "PX300");
  ExpectStretches(Px100CarrierTable(), kPx100Golden, "PX100");
}

TEST(CarrierTable, InteriorSpotValues) {
  const CarrierTable& px300 = Px300CarrierTable();
  const CarrierTable& px100 = Px100CarrierTable();
  EXPECT_EQ(px300[13], 79u);  // 80 79*15: the second entry starts the 79s
  EXPECT_EQ(px300[27], 79u);
  EXPECT_EQ(px300[28], 80u);
  EXPECT_EQ(px300[139], 99u);  // ... 99*7 116
  EXPECT_EQ(px300[407], 176u);  // first of 176*63
  EXPECT_EQ(px300[469], 176u);  // last of 176*63
  EXPECT_EQ(px300[470], 175u);
  EXPECT_EQ(px100[60], 80u);  // 80*49 ends at 60
  EXPECT_EQ(px100[61], 96u);
  EXPECT_EQ(px100[180], 135u);  // the single 135 before 144*28
  EXPECT_EQ(px100[181], 144u);
  EXPECT_EQ(px100[521], 288u);  // 256*3 288*40
  EXPECT_EQ(px100[830], 207u);  // the 22 single values 186..207, then 208*111
  EXPECT_EQ(px100[831], 208u);
  EXPECT_EQ(px100[1068], 275u);
}

TEST(CarrierTable, ExactlyTheTenBandsAreSwitchedOff) {
  for (const CarrierTable* table : {&Px300CarrierTable(), &Px100CarrierTable()}) {
    ASSERT_EQ(table->size(), 1155u);
    for (size_t i = 0; i < kCarrierCount; ++i) {
      if (IsSwitchedOff(i)) {
        EXPECT_EQ((*table)[i], 0u) << "entry " << i;
      } else {
        EXPECT_NE((*table)[i], 0u) << "entry " << i;
      }
    }
  }
}

TEST(CarrierTable, ValueRangesAndTheirExtremes) {
  const auto non_zero_min_max = [](const CarrierTable& table) {
    uint32_t low = UINT32_MAX;
    uint32_t high = 0;
    for (uint32_t v : table) {
      if (v == 0) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
    return std::pair{low, high};
  };
  EXPECT_EQ(non_zero_min_max(Px300CarrierTable()), std::pair(79u, 176u));
  EXPECT_EQ(non_zero_min_max(Px100CarrierTable()), std::pair(80u, 288u));
}

TEST(CarrierTable, TablesDifferIn873EntriesFirstAt13) {
  const CarrierTable& px300 = Px300CarrierTable();
  const CarrierTable& px100 = Px100CarrierTable();
  size_t differing = 0;
  size_t first = kCarrierCount;
  size_t equal_non_zero = 0;
  for (size_t i = 0; i < kCarrierCount; ++i) {
    if (px300[i] != px100[i]) {
      ++differing;
      first = std::min(first, i);
    } else if (px300[i] != 0) {
      ++equal_non_zero;
    }
  }
  EXPECT_EQ(differing, 873u);
  EXPECT_EQ(first, 13u);
  EXPECT_EQ(equal_non_zero, 44u);
}

TEST(CarrierTable, SelectionFollowsTheChipModel) {
  EXPECT_EQ(SelectCarrierTable(ChipModel::kPx300), &Px300CarrierTable());
  EXPECT_EQ(SelectCarrierTable(ChipModel::kPx100), &Px100CarrierTable());
  EXPECT_EQ(SelectCarrierTable(ChipModel::kNone), nullptr);
}

TEST(CarrierTable, CopyWritesLittleEndianWordsIntoTheRegionOnly) {
  ParameterModule module;
  module.bytes.fill(0xA5);
  CopyCarrierTable(Px100CarrierTable(), module);
  EXPECT_EQ(module.bytes[2575], 0xA5);  // just before the region
  EXPECT_EQ(module.bytes[7196], 0xA5);  // just after it
  // Entry 521 is 288 = 0x120: stored low byte first at 2576 + 4 * 521.
  const size_t at = 2576 + 4 * 521;
  EXPECT_EQ(module.bytes[at], 0x20);
  EXPECT_EQ(module.bytes[at + 1], 0x01);
  EXPECT_EQ(module.bytes[at + 2], 0x00);
  EXPECT_EQ(module.bytes[at + 3], 0x00);
  EXPECT_EQ(LoadLe32(&module.bytes[2576]), 0u);         // entry 0 is switched off
  EXPECT_EQ(LoadLe32(&module.bytes[7192]), 0u);         // entry 1154 too
  EXPECT_EQ(LoadLe32(&module.bytes[2576 + 4 * 12]), 80u);
}

TEST(CarrierTable, CompareAndIdentify) {
  ParameterModule module;
  EXPECT_EQ(IdentifyCarrierTable(module), ChipModel::kNone);  // a zero region is Other

  CopyCarrierTable(Px300CarrierTable(), module);
  EXPECT_EQ(FirstCarrierDifference(module, Px300CarrierTable()), kCarrierCount);
  EXPECT_EQ(FirstCarrierDifference(module, Px100CarrierTable()), 13u);
  EXPECT_EQ(IdentifyCarrierTable(module), ChipModel::kPx300);

  module.SetCarrierValue(1069, module.CarrierValue(1069) + 1);
  EXPECT_EQ(FirstCarrierDifference(module, Px300CarrierTable()), 1069u);
  EXPECT_EQ(IdentifyCarrierTable(module), ChipModel::kNone);

  CopyCarrierTable(Px100CarrierTable(), module);
  EXPECT_EQ(IdentifyCarrierTable(module), ChipModel::kPx100);
  // A switched-off entry counts as much as any other.
  module.SetCarrierValue(1154, 1);
  EXPECT_EQ(IdentifyCarrierTable(module), ChipModel::kNone);
}

}  // namespace
}  // namespace stampwright
