#include "programming/carrier_table.h"

#include <span>

namespace stampwright {
namespace {

struct Run {
  uint32_t value;
  uint32_t count;
};

// Entries first..last (inclusive) of a table, given as runs of equal values.
struct Stretch {
  size_t first;
  size_t last;
  std::span<const Run> runs;
};

struct EntryRange {
  size_t first;
  size_t last;
};

// Carriers inside the amateur radio bands: both chip models leave them switched off (0).
constexpr EntryRange kSwitchedOff[] = {
    {0, 11}, {66, 93}, {141, 151}, {209, 228}, {336, 345},
    {496, 517}, {663, 674}, {783, 808}, {942, 953}, {1070, 1154}};

constexpr size_t kStretchCount = std::size(kSwitchedOff) - 1;

// PX300 (chip-type code 2).
constexpr Run kPx300Runs12To65[] = {
    {80, 1}, {79, 15}, {80, 5}, {81, 4}, {82, 2}, {83, 3}, {84, 3}, {85, 2}, {86, 3}, {87, 3},
    {88, 4}, {89, 6}, {90, 3}};
constexpr Run kPx300Runs94To140[] = {
    {93, 1}, {94, 8}, {95, 7}, {96, 8}, {97, 7}, {98, 8}, {99, 7}, {116, 1}};
constexpr Run kPx300Runs152To208[] = {
    {117, 1}, {118, 5}, {119, 4}, {120, 4}, {121, 3}, {122, 4}, {123, 3}, {124, 4}, {125, 3},
    {126, 4}, {127, 4}, {128, 4}, {129, 4}, {130, 5}, {131, 4}, {132, 1}};
constexpr Run kPx300Runs229To335[] = {
    {136, 1}, {137, 4}, {138, 4}, {139, 4}, {140, 4}, {141, 4}, {142, 5}, {143, 5}, {144, 5},
    {145, 6}, {146, 5}, {147, 6}, {148, 5}, {149, 5}, {150, 5}, {151, 5}, {152, 5}, {153, 5},
    {154, 6}, {155, 6}, {156, 7}, {157, 5}};
constexpr Run kPx300Runs346To495[] = {
    {170, 8}, {171, 17}, {172, 16}, {173, 7}, {174, 6}, {175, 7}, {176, 63}, {175, 12}, {174, 10},
    {173, 4}};
constexpr Run kPx300Runs518To662[] = {
    {170, 6}, {169, 8}, {168, 9}, {167, 8}, {166, 9}, {165, 9}, {164, 9}, {163, 7}, {162, 7},
    {161, 6}, {160, 5}, {159, 6}, {158, 6}, {157, 6}, {156, 6}, {155, 6}, {154, 6}, {153, 6},
    {152, 7}, {151, 6}, {150, 6}, {149, 1}};
constexpr Run kPx300Runs675To782[] = {
    {115, 6}, {114, 7}, {113, 7}, {112, 6}, {111, 7}, {110, 6}, {109, 7}, {108, 6}, {107, 7},
    {106, 7}, {105, 8}, {104, 9}, {103, 11}, {102, 14}};
constexpr Run kPx300Runs809To941[] = {
    {100, 15}, {99, 40}, {100, 12}, {132, 6}, {133, 22}, {134, 15}, {135, 10}, {136, 9}, {137, 4}};
constexpr Run kPx300Runs954To1069[] = {
    {123, 5}, {124, 12}, {125, 12}, {126, 12}, {127, 10}, {128, 9}, {129, 8}, {130, 6}, {131, 7},
    {132, 7}, {133, 7}, {134, 7}, {135, 7}, {136, 7}};

constexpr Stretch kPx300Stretches[kStretchCount] = {
    {12, 65, kPx300Runs12To65},
    {94, 140, kPx300Runs94To140},
    {152, 208, kPx300Runs152To208},
    {229, 335, kPx300Runs229To335},
    {346, 495, kPx300Runs346To495},
    {518, 662, kPx300Runs518To662},
    {675, 782, kPx300Runs675To782},
    {809, 941, kPx300Runs809To941},
    {954, 1069, kPx300Runs954To1069}};

// PX100 (chip-type code 1).
constexpr Run kPx100Runs12To65[] = {
    {80, 49}, {96, 5}};
constexpr Run kPx100Runs94To140[] = {
    {96, 47}};
constexpr Run kPx100Runs152To208[] = {
    {125, 4}, {126, 3}, {127, 3}, {128, 3}, {129, 3}, {130, 2}, {131, 3}, {132, 2}, {133, 3},
    {134, 2}, {135, 1}, {144, 28}};
constexpr Run kPx100Runs229To335[] = {
    {160, 107}};
constexpr Run kPx100Runs346To495[] = {
    {160, 54}, {144, 31}, {176, 30}, {208, 5}, {224, 30}};
constexpr Run kPx100Runs518To662[] = {
    {256, 3}, {288, 40}, {272, 40}, {256, 62}};
constexpr Run kPx100Runs675To782[] = {
    {240, 86}, {224, 22}};
constexpr Run kPx100Runs809To941[] = {
    {186, 1}, {187, 1}, {188, 1}, {189, 1}, {190, 1}, {191, 1}, {192, 1}, {193, 1}, {194, 1},
    {195, 1}, {196, 1}, {197, 1}, {198, 1}, {199, 1}, {200, 1}, {201, 1}, {202, 1}, {203, 1},
    {204, 1}, {205, 1}, {206, 1}, {207, 1}, {208, 111}};
constexpr Run kPx100Runs954To1069[] = {
    {222, 6}, {223, 5}, {224, 4}, {225, 4}, {226, 3}, {227, 4}, {228, 3}, {229, 3}, {230, 4},
    {231, 3}, {232, 2}, {233, 3}, {234, 3}, {235, 2}, {236, 2}, {237, 3}, {238, 2}, {239, 2},
    {240, 2}, {241, 2}, {242, 2}, {243, 2}, {244, 2}, {245, 2}, {246, 2}, {247, 1}, {248, 2},
    {249, 2}, {250, 1}, {251, 2}, {252, 2}, {253, 1}, {254, 2}, {255, 1}, {256, 2}, {257, 2},
    {258, 1}, {259, 2}, {260, 1}, {261, 2}, {262, 1}, {263, 2}, {264, 1}, {265, 1}, {266, 2},
    {267, 1}, {268, 2}, {269, 1}, {270, 1}, {271, 2}, {272, 1}, {273, 2}, {274, 1}, {275, 1},
    {276, 1}};

constexpr Stretch kPx100Stretches[kStretchCount] = {
    {12, 65, kPx100Runs12To65},
    {94, 140, kPx100Runs94To140},
    {152, 208, kPx100Runs152To208},
    {229, 335, kPx100Runs229To335},
    {346, 495, kPx100Runs346To495},
    {518, 662, kPx100Runs518To662},
    {675, 782, kPx100Runs675To782},
    {809, 941, kPx100Runs809To941},
    {954, 1069, kPx100Runs954To1069}};

constexpr bool FitsItsEntries(const Stretch& stretch) {
  size_t total = 0;
  for (const Run& run : stretch.runs) total += run.count;
  return total == stretch.last - stretch.first + 1;
}

// The stretches are exactly the gaps between the switched-off ranges, so every entry of a table
// is either switched off or given by exactly one run.
constexpr bool FillsTheGaps(const Stretch (&stretches)[kStretchCount]) {
  if (kSwitchedOff[0].first != 0 || kSwitchedOff[kStretchCount].last != kCarrierCount - 1) {
    return false;
  }
  for (size_t i = 0; i < kStretchCount; ++i) {
    if (stretches[i].first != kSwitchedOff[i].last + 1) return false;
    if (stretches[i].last + 1 != kSwitchedOff[i + 1].first) return false;
  }
  return true;
}

static_assert(FitsItsEntries(kPx300Stretches[0]) && FitsItsEntries(kPx100Stretches[0]));
static_assert(FitsItsEntries(kPx300Stretches[1]) && FitsItsEntries(kPx100Stretches[1]));
static_assert(FitsItsEntries(kPx300Stretches[2]) && FitsItsEntries(kPx100Stretches[2]));
static_assert(FitsItsEntries(kPx300Stretches[3]) && FitsItsEntries(kPx100Stretches[3]));
static_assert(FitsItsEntries(kPx300Stretches[4]) && FitsItsEntries(kPx100Stretches[4]));
static_assert(FitsItsEntries(kPx300Stretches[5]) && FitsItsEntries(kPx100Stretches[5]));
static_assert(FitsItsEntries(kPx300Stretches[6]) && FitsItsEntries(kPx100Stretches[6]));
static_assert(FitsItsEntries(kPx300Stretches[7]) && FitsItsEntries(kPx100Stretches[7]));
static_assert(FitsItsEntries(kPx300Stretches[8]) && FitsItsEntries(kPx100Stretches[8]));
static_assert(FillsTheGaps(kPx300Stretches) && FillsTheGaps(kPx100Stretches));

constexpr CarrierTable Expand(const Stretch (&stretches)[kStretchCount]) {
  CarrierTable table{};
  for (const Stretch& stretch : stretches) {
    size_t entry = stretch.first;
    for (const Run& run : stretch.runs) {
      for (uint32_t n = 0; n < run.count; ++n) table[entry++] = run.value;
    }
  }
  return table;
}

constexpr CarrierTable kPx300Table = Expand(kPx300Stretches);
constexpr CarrierTable kPx100Table = Expand(kPx100Stretches);

}  // namespace

const CarrierTable& Px300CarrierTable() { return kPx300Table; }
const CarrierTable& Px100CarrierTable() { return kPx100Table; }

const CarrierTable* SelectCarrierTable(ChipModel model) {
  switch (model) {
    case ChipModel::kPx300:
      return &kPx300Table;
    case ChipModel::kPx100:
      return &kPx100Table;
    case ChipModel::kNone:
      break;
  }
  return nullptr;
}

void CopyCarrierTable(const CarrierTable& table, ParameterModule& module) {
  for (size_t i = 0; i < kCarrierCount; ++i) module.SetCarrierValue(i, table[i]);
}

size_t FirstCarrierDifference(const ParameterModule& module, const CarrierTable& table) {
  for (size_t i = 0; i < kCarrierCount; ++i) {
    if (module.CarrierValue(i) != table[i]) return i;
  }
  return kCarrierCount;
}

ChipModel IdentifyCarrierTable(const ParameterModule& module) {
  // PX300 is tried first; no image can match both, as the tables differ in 873 entries.
  if (FirstCarrierDifference(module, kPx300Table) == kCarrierCount) return ChipModel::kPx300;
  if (FirstCarrierDifference(module, kPx100Table) == kCarrierCount) return ChipModel::kPx100;
  return ChipModel::kNone;
}

}  // namespace stampwright
