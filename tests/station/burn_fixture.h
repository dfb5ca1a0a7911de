// What the burn tests share: a station with one unit on "eth0", a database holding the MAC to
// burn, and the images a burn should leave, computed independently of the code under test.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "station/burn.h"
#include "station/page_procedure.h"
#include "support/station_harness.h"
#include "base/byte_order.h"
#include "crypto/key_derivation.h"
#include "programming/carrier_table.h"
#include "programming/mac_database.h"
#include "support/temp_dir.h"

namespace stampwright::station_test {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kBurnMacText[] = "02A0C5123456";
constexpr char kPassword[] = "K7QM2XWP9RTB4HZD";
constexpr char kGroupedPassword[] = "K7QM-2XWP-9RTB-4HZD";
inline const MacAddress kBurnMac = Mac(0x02, 0xA0, 0xC5, 0x12, 0x34, 0x56);
constexpr int kTicksToComeBack = 6;

// "%02X" pairs with a separator, written out here rather than taken from the code under test.
inline std::string Hex(const uint8_t* bytes, size_t count, const char* separator) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    if (i > 0) text += separator;
    text += pair;
  }
  return text;
}

// The image a burn should leave on the unit, computed from the image read.
inline ParameterModule ExpectedImage(const ParameterModule& read, const CarrierTable* table,
                                     const MacAddress& mac, const std::string& grouped19) {
  ParameterModule expected = read;
  uint8_t* bytes = expected.bytes.data();
  if (table != nullptr) {
    for (size_t i = 0; i < kCarrierCount; ++i) StoreLe32(bytes + 2576 + 4 * i, (*table)[i]);
  }
  const DerivedKey nmk = NetworkMembershipKey("DefaultNPW");
  std::copy(nmk.begin(), nmk.end(), bytes + 100);
  const DerivedKey dak = DeviceAccessKey(grouped19.c_str());
  std::copy(dak.begin(), dak.end(), bytes + 18);
  mac.CopyTo(bytes + 12);
  StoreLe32(bytes + 8, 0);
  StoreLe32(bytes + 8, ModuleChecksum(bytes, bytes[0] == 2 ? 1955 : 1966));
  return expected;
}

// Offsets where two images differ outside the fields a burn may change.
inline std::vector<size_t> ChangesOutsideBurnFields(const ParameterModule& a,
                                                    const ParameterModule& b) {
  const auto burned = [](size_t i) {
    return (i >= 8 && i < 34) || (i >= 100 && i < 116) || (i >= 2576 && i < 7196);
  };
  std::vector<size_t> changed;
  for (size_t i = 0; i < kModuleSize; ++i) {
    if (a.bytes[i] != b.bytes[i] && !burned(i)) changed.push_back(i);
  }
  return changed;
}

// The status texts of a burn whose chunks were all confirmed at the first send.
inline std::vector<std::string> CleanBurnTexts(uint32_t checksum) {
  char text[80];
  std::snprintf(text, sizeof text, "checksum: %08x", checksum);
  std::vector<std::string> texts = {"Burning...", text};
  for (int offset = 0; offset < 7864; offset += 1024) {
    texts.push_back("Write Module - offset: " + std::to_string(offset));
    texts.push_back("Write Module - offset: " + std::to_string(offset));
  }
  texts.insert(texts.end(), {"Write Module - offset: 7864", "Write Module - OK", "Waiting..."});
  return texts;
}

inline size_t CountOf(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

// Frames sent on the adapter with the given MMTYPE (of the driver's recent history).
inline size_t SentOfType(const VirtualDriver& driver, uint16_t mmtype) {
  size_t count = 0;
  for (const std::vector<uint8_t>& frame : driver.SentFrames("eth0")) {
    if (frame.size() >= 17 && LoadLe16(frame.data() + 15) == mmtype) ++count;
  }
  return count;
}

// Loses every n-th write confirmation after the unit has stored the chunk.
class BurnTest : public InTempDir {
 protected:
  static SimulatedUnitConfig UnitConfig() {
    SimulatedUnitConfig config;
    config.mac = kUnitMac;
    return config;
  }

  // Finds the unit and reads its module, as the page does at start.
  void Connect(SimulatedUnitConfig config = UnitConfig(), bool px300 = true, bool px100 = false) {
    h.AddAdapter("eth0", kAdapter0);
    unit = &h.Plug("eth0", std::move(config));
    h.page.Check(kPx300Radio, px300);
    h.page.Check(kPx100Radio, px100);
    ScanNow(h.station);
    ScanNow(h.station);
    ASSERT_TRUE(h.page.IsEnabled(kBurnButton));
    ASSERT_EQ(h.station.module.bytes, unit->Flash().bytes);
    read_image = h.station.module;
    WriteDatabase({EncodeMacRecord("02A0C5ABCDEF", "AAAABBBBCCCCDDDD"),
                   EncodeMacRecord(kBurnMacText, kPassword)});
  }

  static void WriteDatabase(const std::vector<std::string>& lines) {
    std::ofstream out("cam.dbr", std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
  }

  void Burn(const std::string& mac_text = kBurnMacText) {
    h.page.SetText(kNewMacEdit, mac_text);
    h.page.Clear();
    OnPageCommand(h.station, kBurnButton);
  }

  // Scan ticks until the status line shows "Success", at most kTicksToComeBack of them.
  bool TickUntilSuccess() {
    for (int i = 0; i < kTicksToComeBack; ++i) {
      h.Tick();
      if (CountOf(h.page.StatusTexts(), "Success") > 0) return true;
    }
    return false;
  }

  ParameterModule Expected(const CarrierTable* table = &Px300CarrierTable(),
                           const MacAddress& mac = kBurnMac) const {
    return ExpectedImage(read_image, table, mac, kGroupedPassword);
  }

  std::vector<std::string> WriteBoxes() const {
    std::vector<std::string> boxes;
    for (const auto& box : h.page.message_boxes()) boxes.push_back(box.caption + "|" + box.text);
    return boxes;
  }

  StationHarness h;
  SimulatedUnit* unit = nullptr;
  ParameterModule read_image;
};

}  // namespace stampwright::station_test
