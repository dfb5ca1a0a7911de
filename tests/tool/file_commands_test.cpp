// Runs the built stampwright-tool on module images, preferences and state files.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "programming/carrier_table.h"
#include "programming/parameter_module.h"
#include "settings/state_file.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

namespace fs = std::filesystem;

using tool_test::Has;
using tool_test::ToolResult;

class FileCommandsTest : public tool_test::ToolDirectoryTest {};

ParameterModule SampleModule(ChipModel model) {
  ParameterModule module;
  for (size_t i = 0; i < kModuleSize; ++i) module.bytes[i] = static_cast<uint8_t>(i % 251);
  module.bytes[0] = 2;
  module.SetMacAddress(MacAddress{{0x00, 0xB0, 0x52, 0xAB, 0xCD, 0xEF}});
  Key dak{};
  Key nmk{};
  for (size_t i = 0; i < kKeySize; ++i) {
    dak[i] = static_cast<uint8_t>(0xD0 + i);
    nmk[i] = static_cast<uint8_t>(0x01 + i);
  }
  module.SetDeviceAccessKey(dak);
  module.SetNetworkMembershipKey(nmk);
  if (const CarrierTable* table = SelectCarrierTable(model)) CopyCarrierTable(*table, module);
  UpdateImageChecksum(module);
  return module;
}

TEST_F(FileCommandsTest, ImageDecodesTheFields) {
  const ParameterModule module = SampleModule(ChipModel::kPx300);
  Write("m.bin", module.bytes.data(), kModuleSize);
  const ToolResult result = Run({"image", "m.bin"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  char checksum[9];
  std::snprintf(checksum, sizeof checksum, "%08x", module.ImageChecksum());
  EXPECT_TRUE(Has(result.out, "FormatVersion: 2 (checksum over 1955 words)")) << result.out;
  EXPECT_TRUE(Has(result.out, std::string("ImageChecksum: ") + checksum)) << result.out;
  EXPECT_TRUE(Has(result.out, std::string("ComputedChecksum: ") + checksum + " ok")) << result.out;
  EXPECT_TRUE(Has(result.out, "MacAddress: 00:B0:52:AB:CD:EF")) << result.out;
  EXPECT_TRUE(Has(result.out, "DeviceAccessKey: D0D1D2D3D4D5D6D7D8D9DADBDCDDDEDF")) << result.out;
  EXPECT_TRUE(Has(result.out, "NetworkMembershipKey: 0102030405060708090A0B0C0D0E0F10"))
      << result.out;
  EXPECT_TRUE(Has(result.out, "CarrierTable: PX300")) << result.out;
}

TEST_F(FileCommandsTest, ImageNamesTheTableAndFlagsABadChecksum) {
  ParameterModule module = SampleModule(ChipModel::kPx100);
  Write("px100.bin", module.bytes.data(), kModuleSize);
  EXPECT_TRUE(Has(Run({"image", "px100.bin"}).out, "CarrierTable: PX100"));

  module.SetCarrierValue(1069, 1);  // neither table now, and the checksum is stale
  Write("other.bin", module.bytes.data(), kModuleSize);
  const ToolResult result = Run({"image", "other.bin"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(Has(result.out, "CarrierTable: Other")) << result.out;
  EXPECT_NE(result.out.find(" BAD\n"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find(" ok\n"), std::string::npos) << result.out;
}

TEST_F(FileCommandsTest, ImageOfTheWrongSizeFails) {
  const std::vector<uint8_t> bytes(kModuleSize + 1, 0);
  for (size_t size : {size_t{0}, kModuleSize - 1, kModuleSize + 1}) {
    Write("odd.bin", bytes.data(), size);
    const ToolResult result = Run({"image", "odd.bin"});
    EXPECT_EQ(result.exit_code, 1) << size;
    EXPECT_EQ(result.out, "") << size;
    EXPECT_NE(result.err.find("7864"), std::string::npos) << result.err;
  }
  const ToolResult missing = Run({"image", "missing.bin"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("missing.bin"), std::string::npos) << missing.err;
}

TEST_F(FileCommandsTest, PrefsShowsTheDefaultsAndSaysSo) {
  const ToolResult result = Run({"prefs"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("defaults"), std::string::npos) << result.out;
  EXPECT_TRUE(Has(result.out, "Value0: 30")) << result.out;
  EXPECT_TRUE(Has(result.out, "Value20: 310")) << result.out;
  EXPECT_TRUE(Has(result.out, "AutoScan: 1 (on)")) << result.out;
  EXPECT_TRUE(Has(result.out, "ProductName: \"Linewave Utility\"")) << result.out;
  EXPECT_TRUE(Has(result.out, "StateFileWords: 1 1")) << result.out;
  EXPECT_TRUE(Has(result.out, "StateFile: \"Linewave Utility.data\"")) << result.out;
}

TEST_F(FileCommandsTest, PrefsReadsTheFileInTheCurrentDirectoryOrTheOneNamed) {
  std::vector<uint8_t> file(267, 0);
  StoreLe16(&file[16], 0xFFFF);
  std::memcpy(&file[96], "Bench\x01", 6);
  Write("OEMPrefs.dat", file.data(), file.size());
  ToolResult result = Run({"prefs"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out.find("defaults"), std::string::npos) << result.out;
  EXPECT_TRUE(Has(result.out, "AutoScan: -1 (on)")) << result.out;
  EXPECT_TRUE(Has(result.out, "ProductName: \"Bench\\x01\"")) << result.out;
  EXPECT_TRUE(Has(result.out, "Value0: 0")) << result.out;

  Write("empty.dat", file.data(), 0);
  result = Run({"prefs", "empty.dat"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(Has(result.out, "AutoScan: 0 (off)")) << result.out;
  // No name to take: the state file takes the default product name.
  EXPECT_TRUE(Has(result.out, "StateFile: \"Linewave Utility.data\"")) << result.out;
}

TEST_F(FileCommandsTest, StateDecodesEverySummary) {
  DeviceSummaries summaries{};
  summaries[0].AdapterMac = MacAddress{{0x02, 0, 0, 0, 0, 0x01}};
  summaries[0].Present = 1;
  summaries[0].DeviceMac = MacAddress{{0x00, 0xB0, 0x52, 0, 0, 0x02}};
  summaries[0].FramesSent = 3;
  summaries[0].BytesSent = 4530;
  summaries[7].FramesReceived = 4000000000u;
  StateFileIo io;
  // The state file is a name in the working directory, never a path.
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  const bool written = WriteStateFile("P", 4, summaries, {1, 1}, io);
  std::filesystem::current_path(previous);
  ASSERT_TRUE(written);
  const ToolResult result = Run({"state", "P.data"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Has(result.out, "StateFileVersion: 306")) << result.out;
  EXPECT_TRUE(Has(result.out, "CurrentAdapter: 4")) << result.out;
  EXPECT_TRUE(Has(result.out, "DeviceSummary 0:\n  AdapterMac: 02:00:00:00:00:01\n  Present: 1\n"
                              "  DeviceMac: 00:B0:52:00:00:02\n  FramesReceived: 0\n"
                              "  BytesReceived: 0\n  FramesSent: 3\n  BytesSent: 4530"))
      << result.out;
  EXPECT_TRUE(Has(result.out, "DeviceSummary 7:")) << result.out;
  EXPECT_TRUE(Has(result.out, "  FramesReceived: 4000000000")) << result.out;
  EXPECT_TRUE(Has(result.out, "Words: 1 1")) << result.out;
}

TEST_F(FileCommandsTest, StateOfTheWrongSizeFails) {
  const std::vector<uint8_t> bytes(kStateFileSize - 1, 0);
  Write("short.data", bytes.data(), bytes.size());
  const ToolResult result = Run({"state", "short.data"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("97492"), std::string::npos) << result.err;
}

TEST_F(FileCommandsTest, HelpAndBadUsage) {
  for (const char* name : {"image", "prefs", "state"}) {
    const ToolResult help = Run({name, "--help"});
    EXPECT_EQ(help.exit_code, 0) << name;
    EXPECT_EQ(help.out.rfind(std::string("usage: stampwright-tool ") + name, 0), 0u) << help.out;
  }
  EXPECT_EQ(Run({"image"}).exit_code, 2);
  EXPECT_EQ(Run({"image", "a", "b"}).exit_code, 2);
  EXPECT_EQ(Run({"state"}).exit_code, 2);
  EXPECT_EQ(Run({"state", "--verbose", "x"}).exit_code, 2);
  EXPECT_EQ(Run({"prefs", "a", "b"}).exit_code, 2);
  EXPECT_EQ(Run({"prefs", "--bogus"}).exit_code, 2);
}

}  // namespace
}  // namespace stampwright
