#include "station/module_read.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/station_harness.h"
#include "programming/carrier_table.h"
#include "transport/adapter_set.h"

namespace stampwright::station_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

ParameterModule ImageWith(const CarrierTable* table) {
  ParameterModule image = DefaultUnitImage(kUnitMac);
  if (table != nullptr) CopyCarrierTable(*table, image);
  UpdateImageChecksum(image);
  return image;
}

ParameterModule OtherImage() {
  ParameterModule image = ImageWith(&Px300CarrierTable());
  image.SetCarrierValue(1069, image.CarrierValue(1069) + 1);  // the last non-zero entry
  return image;
}

// A unit already found on adapter 0, its module read on demand.
class ModuleReadTest : public ::testing::Test {
 protected:
  void Connect(const ParameterModule& image, SimulatedUnitConfig config = {}) {
    h.AddAdapter("eth0", kAdapter0);
    config.mac = kUnitMac;
    config.image = image;
    h.Plug("eth0", config);
    OpenAllAdapters(h.station.adapters);
    h.station.adapters.records[0].DeviceMac = kUnitMac;
  }

  void SelectRadios(bool px300, bool px100) {
    h.page.Check(kPx300Radio, px300);
    h.page.Check(kPx100Radio, px100);
    h.page.Clear();
  }

  StationHarness h;
};

struct WarningRow {
  const char* name;
  int table;  // 300, 100, or 0 for Other
  bool px300_selected;
  bool px100_selected;
  const char* status;
  bool burn_enabled;
  const char* box_text;  // nullptr: no box
  uint32_t box_type;
};

// Named rows: gtest would otherwise print the struct's padding bytes.
void PrintTo(const WarningRow& row, std::ostream* os) { *os << row.name; }

class WarningTableTest : public ModuleReadTest, public ::testing::WithParamInterface<WarningRow> {};

TEST_P(WarningTableTest, ReadOutcomeFollowsTheTableAndTheRadios) {
  const WarningRow& row = GetParam();
  const CarrierTable* table = row.table == 300   ? &Px300CarrierTable()
                              : row.table == 100 ? &Px100CarrierTable()
                                                 : nullptr;
  Connect(table != nullptr ? ImageWith(table) : OtherImage());
  SelectRadios(row.px300_selected, row.px100_selected);
  ReadModule(h.station);
  const std::vector<std::string> status = h.page.StatusTexts();
  ASSERT_GE(status.size(), 2u);
  EXPECT_EQ(status[status.size() - 2], "Read Module - offset: 7864, OK");
  EXPECT_EQ(status.back(), row.status);
  EXPECT_EQ(h.page.IsEnabled(kBurnButton), row.burn_enabled);
  if (row.box_text == nullptr) {
    EXPECT_THAT(h.page.message_boxes(), IsEmpty());
  } else {
    ASSERT_EQ(h.page.message_boxes().size(), 1u);
    EXPECT_EQ(h.page.message_boxes()[0].text, row.box_text);
    EXPECT_EQ(h.page.message_boxes()[0].caption, "Read Module");
    EXPECT_EQ(h.page.message_boxes()[0].type, row.box_type);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WarningTableTest,
    ::testing::Values(
        WarningRow{"Px300WithPx300", 300, true, false, "Read Module OK - PX300 Class B", true,
                   nullptr, 0},
        WarningRow{"Px300WithPx100", 300, false, true, "Read Module OK - PX300 Class B", false,
                   kReadWarningTextB, 16},
        WarningRow{"Px300WithNeither", 300, false, false, "Read Module OK - PX300 Class B", true,
                   nullptr, 0},
        WarningRow{"Px100WithPx100", 100, false, true, "Read Module OK - PX100 Class B", true,
                   nullptr, 0},
        WarningRow{"Px100WithPx300", 100, true, false, "Read Module OK - PX100 Class B", false,
                   kReadWarningTextA, 16},
        WarningRow{"Px100WithNeither", 100, false, false, "Read Module OK - PX100 Class B", true,
                   nullptr, 0},
        WarningRow{"OtherWithPx100", 0, false, true, "Read Module OK - Other", false,
                   kReadWarningTextB, 4112},
        WarningRow{"OtherWithPx300", 0, true, false, "Read Module OK - Other", false,
                   kReadWarningTextA, 4112},
        WarningRow{"OtherWithNeither", 0, false, false, "Read Module OK - Other", false,
                   kReadWarningTextA, 4112}),
    [](const ::testing::TestParamInfo<WarningRow>& row_info) { return std::string(row_info.param.name); });

TEST(ReadWarningTexts, AreStoredAsTheirBytes) {
  EXPECT_STREQ(kReadWarningTextA, "Not PX300 Class B, Please change!!");
  const std::string b = kReadWarningTextB;
  const std::string expected = {'\xA4', '\xA3', '\xAC', '\x4F'};
  EXPECT_EQ(b.substr(0, 4), expected);
  EXPECT_EQ(b.substr(4, 16), " PX100 Class B, ");
  EXPECT_EQ(b.substr(20), std::string("\xBD\xD0\xA7\xF3\xB4\xAB!!"));
}

TEST_F(ModuleReadTest, AnOpenWarningSuppressesTheNextUntilOk) {
  Connect(OtherImage());
  SelectRadios(true, false);
  h.page.QueueMessageBoxResult(2);  // closed some other way than OK
  ReadModule(h.station);
  EXPECT_TRUE(h.station.WarningShown);
  ReadModule(h.station);
  EXPECT_EQ(h.page.message_boxes().size(), 1u);
  EXPECT_EQ(h.page.StatusTexts().back(), "Read Module OK - Other");

  h.station.WarningShown = false;
  ReadModule(h.station);  // answered OK
  EXPECT_FALSE(h.station.WarningShown);
  ReadModule(h.station);
  EXPECT_EQ(h.page.message_boxes().size(), 3u);
}

TEST_F(ModuleReadTest, NestedReadInsideTheBoxShowsOnlyItsStatus) {
  Connect(OtherImage());
  SelectRadios(true, false);
  int nested = 0;
  h.page.on_message_box = [&] {
    if (nested++ == 0) ReadModule(h.station);
  };
  ReadModule(h.station);
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(h.page.message_boxes().size(), 1u);
}

TEST_F(ModuleReadTest, ReadNeverDisablesBurn) {
  Connect(ImageWith(&Px100CarrierTable()));
  SelectRadios(true, false);
  h.page.Enable(kBurnButton, true);
  ReadModule(h.station);
  EXPECT_TRUE(h.page.IsEnabled(kBurnButton));
}

TEST_F(ModuleReadTest, UnpluggedUnitEndsTheReadWithFailInBoundedTime) {
  SimulatedUnitConfig config;
  config.faults.silent_after = 3;  // answers the first three chunks, then nothing
  Connect(ImageWith(&Px300CarrierTable()), config);
  SelectRadios(true, false);
  const uint32_t start = h.clock.TickCount();
  ReadModule(h.station);
  EXPECT_EQ(h.page.StatusTexts().back(), "Read Module - offset: 3072, Fail");
  EXPECT_FALSE(h.page.IsEnabled(kBurnButton));
  EXPECT_LE(h.clock.TickCount() - start, 3u * 52 + 10 * 52 + 10);
}

TEST_F(ModuleReadTest, LostConfirmationsRepeatTheChunk) {
  SimulatedUnitConfig config;
  config.faults.drop_percent = 30;
  config.faults.seed = 7;
  const ParameterModule image = ImageWith(&Px300CarrierTable());
  Connect(image, config);
  SelectRadios(true, false);
  ReadModule(h.station);
  EXPECT_EQ(h.page.StatusTexts().back(), "Read Module OK - PX300 Class B");
  EXPECT_EQ(h.station.module.bytes, image.bytes);
  EXPECT_GT(h.units[0]->DroppedRequests(), 0u);
}

TEST_F(ModuleReadTest, NoAdapterOpenFailsWithoutHanging) {
  SelectRadios(true, false);
  ReadModule(h.station);
  EXPECT_EQ(h.page.StatusTexts().back(), "Read Module - offset: 0, Fail");
}

}  // namespace
}  // namespace stampwright::station_test
