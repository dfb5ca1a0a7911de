// Runs the built stampwright-tool's "image burn" and holds its output against the burn itself.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/station_harness.h"
#include "base/byte_order.h"
#include "crypto/key_derivation.h"
#include "programming/burn_edits.h"
#include "station/burn.h"
#include "programming/carrier_table.h"
#include "programming/parameter_module.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

namespace fs = std::filesystem;

constexpr char kMacText[] = "02A0C5123456";
constexpr char kGrouped[] = "K7QM-2XWP-9RTB-4HZD";

using tool_test::Has;
using tool_test::ToolResult;

// Format 2, a carrier region that matches neither table, deterministic bytes elsewhere.
ParameterModule SampleImage() {
  ParameterModule module;
  for (size_t i = 0; i < kModuleSize; ++i) module.bytes[i] = static_cast<uint8_t>((i * 7) % 253);
  module.bytes[0] = 2;
  UpdateImageChecksum(module);
  return module;
}

class ImageBurnTest : public tool_test::ToolDirectoryTest {
 protected:
  void WriteImage(const std::string& name, const ParameterModule& module) {
    Write(name, module.bytes.data(), module.bytes.size());
  }
  std::vector<uint8_t> Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static std::vector<uint8_t> Bytes(const ParameterModule& module) {
    return {module.bytes.begin(), module.bytes.end()};
  }

  ToolResult Burn(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = {"image", "burn", "in.bin", "out.bin", "--mac", kMacText,
                                          "--password", kGrouped};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Run(arguments);
  }
};

TEST_F(ImageBurnTest, WritesTheBurnFieldsAndNothingElse) {
  const ParameterModule in = SampleImage();
  WriteImage("in.bin", in);
  const ToolResult result = Burn();
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::vector<uint8_t> out = Read("out.bin");
  ASSERT_EQ(out.size(), kModuleSize);

  const DerivedKey dak = DeviceAccessKey(kGrouped);
  const DerivedKey nmk = NetworkMembershipKey("DefaultNPW");
  EXPECT_TRUE(std::equal(dak.begin(), dak.end(), out.begin() + 18));
  EXPECT_TRUE(std::equal(nmk.begin(), nmk.end(), out.begin() + 100));
  const std::vector<uint8_t> mac = {0x02, 0xA0, 0xC5, 0x12, 0x34, 0x56};
  EXPECT_TRUE(std::equal(mac.begin(), mac.end(), out.begin() + 12));
  for (size_t i = 0; i < kCarrierCount; ++i) {
    ASSERT_EQ(LoadLe32(out.data() + 2576 + 4 * i), Px300CarrierTable()[i]) << "entry " << i;
  }
  std::vector<uint8_t> zeroed = out;
  StoreLe32(zeroed.data() + 8, 0);
  const uint32_t checksum = ModuleChecksum(zeroed.data(), 1955);
  EXPECT_EQ(LoadLe32(out.data() + 8), checksum);
  for (size_t i = 0; i < kModuleSize; ++i) {
    const bool burned = (i >= 8 && i < 34) || (i >= 100 && i < 116) || (i >= 2576 && i < 7196);
    if (!burned) {
      ASSERT_EQ(out[i], in.bytes[i]) << "offset " << i;
    }
  }

  char checksum_line[32];
  std::snprintf(checksum_line, sizeof checksum_line, "checksum: %08x", checksum);
  EXPECT_TRUE(Has(result.out, checksum_line)) << result.out;
  EXPECT_TRUE(Has(result.out, "MacAddress: 02:A0:C5:12:34:56")) << result.out;
  EXPECT_TRUE(Has(result.out, "CarrierValues: PX300 table")) << result.out;
  EXPECT_EQ(Read("in.bin"), Bytes(in)) << "the input is left alone";
}

// The tool and the station share the edit step: a burn on a unit carrying the same image leaves
// the same bytes in the station's image, and shows the keys the tool prints.
TEST_F(ImageBurnTest, MatchesWhatTheStationBurns) {
  using namespace station_test;
  const ParameterModule in = SampleImage();
  WriteImage("in.bin", in);
  const ToolResult result = Burn({"--chip", "none"});
  ASSERT_EQ(result.exit_code, 0) << result.err;

  StationHarness h;
  h.AddAdapter("eth0", kAdapter0);
  SimulatedUnitConfig config;
  config.mac = kUnitMac;
  config.image = in;
  SimulatedUnit& unit = h.Plug("eth0", config);
  ScanNow(h.station);
  ScanNow(h.station);  // neither radio: the read reports Other, the image is as the unit's
  ASSERT_EQ(h.station.module.bytes, in.bytes);
  h.station.shown.mac = kMacText;
  h.station.shown.password = kGrouped;
  BurnDevice(h.station);
  EXPECT_EQ(Read("out.bin"), Bytes(h.station.module));
  EXPECT_EQ(Bytes(unit.Flash()), Bytes(h.station.module));
  EXPECT_TRUE(Has(result.out, "DeviceAccessKey: " + h.page.GetText(kDakField, 79))) << result.out;
  EXPECT_TRUE(Has(result.out, "NetworkMembershipKey: " + h.page.GetText(kNmkField, 79)))
      << result.out;
}

TEST_F(ImageBurnTest, ChipChoosesTheCarrierTable) {
  const ParameterModule in = SampleImage();
  WriteImage("in.bin", in);
  ASSERT_EQ(Burn({"--chip", "px100"}).exit_code, 0);
  std::vector<uint8_t> out = Read("out.bin");
  ASSERT_EQ(out.size(), kModuleSize);
  ParameterModule burned;
  std::copy(out.begin(), out.end(), burned.bytes.begin());
  EXPECT_EQ(FirstCarrierDifference(burned, Px100CarrierTable()), kCarrierCount);

  ASSERT_EQ(Burn({"--chip", "none"}).exit_code, 0);
  out = Read("out.bin");
  EXPECT_TRUE(std::equal(out.begin() + 2576, out.begin() + 7196, in.bytes.begin() + 2576));
}

TEST_F(ImageBurnTest, InPlaceBurnReplacesTheFile) {
  WriteImage("in.bin", SampleImage());
  ASSERT_EQ(Burn().exit_code, 0);
  const std::vector<uint8_t> out = Read("out.bin");
  const ToolResult again = Run({"image", "burn", "out.bin", "out.bin", "--mac", kMacText,
                            "--password", kGrouped});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(Read("out.bin"), out) << "burning twice gives the same image";
  EXPECT_TRUE(Has(Run({"image", "out.bin"}).out, "CarrierTable: PX300"));
}

TEST_F(ImageBurnTest, BadCommandLinesAreUsageErrors) {
  WriteImage("in.bin", SampleImage());
  const std::vector<std::vector<std::string>> lines = {
      {"image", "burn", "in.bin", "out.bin", "--password", kGrouped},
      {"image", "burn", "in.bin", "out.bin", "--mac", kMacText},
      {"image", "burn", "in.bin", "--mac", kMacText, "--password", kGrouped},
      {"image", "burn", "in.bin", "out.bin", "x.bin", "--mac", kMacText, "--password", kGrouped},
      {"image", "burn", "in.bin", "out.bin", "--mac", kMacText, "--password", kGrouped, "--chip",
       "px200"},
      {"image", "burn", "in.bin", "out.bin", "--mac", kMacText, "--password", kGrouped, "--chip"},
      {"image", "burn", "in.bin", "out.bin", "--mac", kMacText, "--password", kGrouped, "-v"},
  };
  for (const std::vector<std::string>& line : lines) {
    const ToolResult result = Run(line);
    EXPECT_EQ(result.exit_code, 2) << line.size() << ": " << result.err;
    EXPECT_NE(result.err.find("usage: stampwright-tool image burn"), std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.bin"));
  }
  const ToolResult help = Run({"image", "burn", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--chip px300|px100|none"), std::string::npos) << help.out;
}

TEST_F(ImageBurnTest, UnusableFilesFailAndWriteNothing) {
  const std::vector<uint8_t> bytes(kModuleSize + 1, 0x11);
  for (size_t size : {size_t{0}, kModuleSize - 1, kModuleSize + 1}) {
    Write("in.bin", bytes.data(), size);
    const ToolResult result = Burn();
    EXPECT_EQ(result.exit_code, 1) << size;
    EXPECT_NE(result.err.find("7864"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.bin")) << size;
  }
  fs::remove(dir_ / "in.bin");
  EXPECT_EQ(Burn().exit_code, 1);
  WriteImage("in.bin", SampleImage());
  const ToolResult unwritable = Run({"image", "burn", "in.bin", "no/such/dir/out.bin", "--mac",
                                 kMacText, "--password", kGrouped});
  EXPECT_EQ(unwritable.exit_code, 1);
  EXPECT_NE(unwritable.err.find("no/such/dir/out.bin"), std::string::npos) << unwritable.err;
}

TEST_F(ImageBurnTest, TextsTheStationWouldTakeAsTheyAreAreNoted) {
  WriteImage("in.bin", SampleImage());
  const ToolResult result = Run({"image", "burn", "in.bin", "out.bin", "--mac", "02A0C5G01234",
                             "--password", std::string(kGrouped) + "-EXTRA"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Has(result.out, "MacAddress: 02:A0:C5:70:12:34")) << result.out;
  const DerivedKey dak = DeviceAccessKey(kGrouped);
  const std::vector<uint8_t> out = Read("out.bin");
  EXPECT_TRUE(std::equal(dak.begin(), dak.end(), out.begin() + 18));
  EXPECT_NE(result.err.find("character 7 is not a hexadecimal digit"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("first 19 characters"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace stampwright
