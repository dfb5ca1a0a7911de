#include "resources/page_template.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "resources/controls.h"

namespace stampwright {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const ControlTemplate& Control(int id) {
  const ControlTemplate* control = FindControl(id);
  EXPECT_NE(control, nullptr) << id;
  static const ControlTemplate kMissing{0, ControlKind::kStaticText, 0, 0, 0, 0, "", false, 0};
  return control != nullptr ? *control : kMissing;
}

TEST(PageTemplate, HoldsTheControlsInTabOrder) {
  std::vector<int> ids;
  for (const ControlTemplate& c : MainPageControls()) ids.push_back(c.id);
  EXPECT_THAT(ids, ElementsAreArray({1102, 1009, 1101, 1007, 1068, 1083, 1012, -1,   -1,
                                     1056, 1104, 1057, 1106, 1008, 1108, 1105, -1,   1109,
                                     1110, 1113, 1004, 1005, 1114, 1002, 1003, 1115, 1084,
                                     1116, 1006, 1117, 1118, 1119, 1120, 1121, 1122, -1}));
}

TEST(PageTemplate, ThirtySixControlsWithIdsUniqueApartFromUnnamedLabels) {
  EXPECT_EQ(MainPageControls().size(), 36u);
  std::set<int> seen;
  int unnamed = 0;
  for (const ControlTemplate& c : MainPageControls()) {
    if (c.id == kUnnamedLabelId) {
      ++unnamed;
      EXPECT_EQ(c.kind, ControlKind::kStaticText);
      continue;
    }
    EXPECT_TRUE(seen.insert(c.id).second) << "duplicate id " << c.id;
  }
  EXPECT_EQ(unnamed, 4);
  EXPECT_EQ(FindControl(kUnnamedLabelId), nullptr);
  EXPECT_EQ(FindControl(0), nullptr);
  EXPECT_EQ(FindControl(1103), nullptr);
}

TEST(PageTemplate, ExactlyTheOperatorsControlsAreShown) {
  std::set<int> shown;
  std::vector<std::string> shown_unnamed;
  for (const ControlTemplate& c : MainPageControls()) {
    if (!c.shown) continue;
    if (c.id == kUnnamedLabelId) {
      shown_unnamed.emplace_back(c.text);
    } else {
      shown.insert(c.id);
    }
  }
  EXPECT_EQ(shown, (std::set<int>{1102, 1009, 1083, 1012, 1056, 1104, 1057, 1108, 1105, 1109,
                                  1120, 1121, 1122}));
  EXPECT_THAT(shown_unnamed, ElementsAre("New MAC:", "Current MAC:"));
  // Of the five command buttons only Burn is on screen.
  for (int id : {kScanButton, kBrowseButton, kSelectButton, kReadButton, kUpgradeButton}) {
    EXPECT_FALSE(Control(id).shown) << id;
  }
}

TEST(PageTemplate, UnnamedLabelsKeepTheirPlaces) {
  std::vector<const ControlTemplate*> labels;
  for (const ControlTemplate& c : MainPageControls()) {
    if (c.id == kUnnamedLabelId) labels.push_back(&c);
  }
  ASSERT_EQ(labels.size(), 4u);
  EXPECT_EQ(labels[0]->text, "DB File:");
  EXPECT_EQ(labels[0]->x, 196);
  EXPECT_EQ(labels[0]->y, 91);
  EXPECT_FALSE(labels[0]->shown);
  EXPECT_EQ(labels[1]->text, "New MAC:");
  EXPECT_EQ(labels[1]->x, 9);
  EXPECT_EQ(labels[1]->y, 24);
  EXPECT_EQ(labels[1]->width, 36);
  EXPECT_TRUE(labels[1]->shown);
  EXPECT_EQ(labels[2]->text, "DAK:");
  EXPECT_EQ(labels[2]->x, 179);
  EXPECT_EQ(labels[2]->y, 191);
  EXPECT_FALSE(labels[2]->shown);
  EXPECT_EQ(labels[3]->text, "Current MAC:");
  EXPECT_EQ(labels[3]->width, 46);
  EXPECT_EQ(labels[3]->height, 8);
  EXPECT_TRUE(labels[3]->shown);
}

TEST(PageTemplate, RowsFieldByField) {
  const ControlTemplate& burn = Control(kBurnButton);
  EXPECT_EQ(burn.kind, ControlKind::kPushButton);
  EXPECT_EQ(burn.text, "Burn");
  EXPECT_TRUE(burn.shown);
  EXPECT_EQ(burn.style, kStyleDisabled);
  EXPECT_EQ(burn.x, 175);
  EXPECT_EQ(burn.y, 22);
  EXPECT_EQ(burn.width, 36);
  EXPECT_EQ(burn.height, 12);

  const ControlTemplate& new_mac = Control(kNewMacEdit);
  EXPECT_EQ(new_mac.kind, ControlKind::kEdit);
  EXPECT_EQ(new_mac.style, kStyleBorder | kStyleAutoScroll);
  EXPECT_EQ(new_mac.text, "");
  EXPECT_EQ(new_mac.height, 14);

  const ControlTemplate& status = Control(kStatusLine);
  EXPECT_EQ(status.kind, ControlKind::kStaticText);
  EXPECT_EQ(status.style, kStyleVerticallyCentred);
  EXPECT_EQ(status.text, "START");
  EXPECT_EQ(status.width, 208);
  EXPECT_EQ(status.height, 11);

  const ControlTemplate& ticks = Control(kTickCounter);
  EXPECT_EQ(ticks.kind, ControlKind::kEdit);
  EXPECT_EQ(ticks.style, kStyleBorder | kStyleReadOnly);
  EXPECT_FALSE(ticks.shown);

  const ControlTemplate& scan = Control(kScanButton);
  EXPECT_EQ(scan.style, kStyleNoTabStop);
  EXPECT_EQ(scan.height, 13);

  const ControlTemplate& dak = Control(kDakField);
  EXPECT_EQ(dak.text, "AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA ");  // trailing blank kept
  EXPECT_EQ(Control(kNmkField).text, "DefaultNPW");
  EXPECT_EQ(Control(kPasswordField).text, "    -    -    -");
  EXPECT_EQ(Control(kMacField).text, "AA:AA:AA:AA:AA:AA");
  EXPECT_EQ(Control(kScanField).text, "Auto Scan off");
  EXPECT_EQ(Control(kConnectionField).text, "Not Connected");
  EXPECT_EQ(Control(kFirmwareLocationLabel).text, "Firmware Location:");
  EXPECT_EQ(Control(kFirmwareVersionLabel).text, "F/W Ver.:");
}

TEST(PageTemplate, TwoSeparateRadioGroupsInsideTheirFrames) {
  for (int id : {kNotchOn, kPx300Radio}) {
    EXPECT_EQ(Control(id).kind, ControlKind::kAutoRadioButton) << id;
    EXPECT_TRUE(Control(id).Has(kStyleGroupStart)) << id;
  }
  for (int id : {kNotchOff, kPx100Radio}) {
    EXPECT_EQ(Control(id).kind, ControlKind::kAutoRadioButton) << id;
    EXPECT_FALSE(Control(id).Has(kStyleGroupStart)) << id;
  }
  EXPECT_EQ(Control(kPx300Radio).text, "PX 300");
  EXPECT_EQ(Control(kPx100Radio).text, "PX 100");
  EXPECT_EQ(Control(kNotchGroup).kind, ControlKind::kGroupBox);
  EXPECT_EQ(Control(kCpuGroup).kind, ControlKind::kGroupBox);
  EXPECT_EQ(Control(kCpuGroup).text, "CPU Setting");

  // Only these carry flags at all; every other control is plain.
  const std::set<int> flagged{kBurnButton,  kNewMacEdit, kDbPathEdit, kScanButton,
                              kTickCounter, kStatusLine, kNotchOn,    kPx300Radio,
                              kFirmwarePathEdit};
  for (const ControlTemplate& c : MainPageControls()) {
    if (!flagged.contains(c.id)) {
      EXPECT_EQ(c.style, 0u) << c.id << " " << c.text;
    }
  }
  // Only Burn starts disabled.
  for (const ControlTemplate& c : MainPageControls()) {
    EXPECT_EQ(c.Has(kStyleDisabled), c.id == kBurnButton) << c.id;
  }
}

TEST(PageTemplate, DatabaseDialogOffersThreeFiltersFirstPreselected) {
  const FileDialogRequest request = DatabaseFileDialogRequest();
  ASSERT_EQ(request.filters.size(), 3u);
  EXPECT_EQ(request.filters[0].display, "ALL (*.db;*.txt)");
  EXPECT_EQ(request.filters[0].pattern, "*.db;*.txt");
  EXPECT_EQ(request.filters[1].display, "Text (*.txt)");
  EXPECT_EQ(request.filters[1].pattern, "*.txt");
  EXPECT_EQ(request.filters[2].display, "DB (*.db)");
  EXPECT_EQ(request.filters[2].pattern, "*.db");
  EXPECT_EQ(request.filter_index, 1);
  EXPECT_EQ(request.flags, 0x1800u);
  EXPECT_EQ(request.max_path, 256u);
}

}  // namespace
}  // namespace stampwright
