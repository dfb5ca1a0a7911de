// "stampwright-tool unit": the command line and the checks made before any frame is sent. The
// exchanges with a unit run over veth in tests/e2e/veth_tool_unit.sh.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programming/parameter_module.h"
#include "protocol/simulated_unit.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

using tool_test::ToolDirectoryTest;
using tool_test::ToolResult;

constexpr char kNoInterface[] = "stampwright-no-such0";

class UnitCommandsTest : public ToolDirectoryTest {
 protected:
  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

TEST_F(UnitCommandsTest, EachSubcommandsHelpSaysItsOwnAndTheCommonOptions) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"find", {}},
      {"read", {"--mac MAC", "-o, --output FILE"}},
      {"write", {"--mac MAC", "--no-commit"}},
      {"firmware", {"--mac MAC", "542248"}},
      {"burn", {"--mac CURRENT", "--new-mac MAC", "--database FILE", "--chip px300|px100|none",
                "--mac-prefix XXXXXX", "--return-timeout MS", "--journal TARGET"}},
  };
  for (const auto& [sub, own] : expected) {
    const ToolResult help = Run({"unit", sub, "--help"});
    EXPECT_EQ(help.exit_code, 0) << sub;
    EXPECT_TRUE(Contains(help.out, "usage: stampwright-tool unit " + sub)) << help.out;
    for (const std::string& option : own) EXPECT_TRUE(Contains(help.out, option)) << sub << ": " << option;
    for (const char* common : {"--interface NAME", "--oui XX:XX:XX", "--timeout MS",
                               "--format text|json", "--capture FILE"}) {
      EXPECT_TRUE(Contains(help.out, common)) << sub << ": " << common;
    }
  }
  EXPECT_EQ(Run({"unit", "--help"}).exit_code, 0);
  EXPECT_TRUE(Contains(Run({"--help"}).out, "unit find|read|write|firmware|burn"));
}

TEST_F(UnitCommandsTest, BadCommandLinesEndWithTwoAndSayWhy) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"unit"}, "usage: stampwright-tool unit"},
      {{"unit", "erase", "--interface", "x"}, "unknown subcommand \"erase\""},
      {{"unit", "find"}, "--interface NAME is required"},
      {{"unit", "find", "--interface", "x", "--mac", "02:00:00:00:00:01"}, "unknown option --mac"},
      {{"unit", "read", "--interface", "x", "-o", "m.bin"}, "--mac is required"},
      {{"unit", "read", "--interface", "x", "--mac", "02:00:00:00:00"}, "--mac expects a MAC"},
      {{"unit", "write", "--interface", "x", "--mac", "02:00:00:00:00:01"}, "missing FILE"},
      {{"unit", "write", "a", "b", "--interface", "x", "--mac", "02:00:00:00:00:01"},
       "unexpected argument b"},
      {{"unit", "find", "--interface", "x", "--timeout", "0"}, "--timeout expects milliseconds"},
      {{"unit", "find", "--interface", "x", "--format", "xml"}, "--format expects text or json"},
      {{"unit", "find", "--interface"}, "--interface needs a value"},
      {{"unit", "burn", "--interface", "x", "--mac", "02:00:00:00:00:01"}, "--new-mac is required"},
      {{"unit", "burn", "--interface", "x", "--mac", "02:00:00:00:00:01", "--new-mac",
        "02A0C5000001", "--chip", "px200"}, "--chip expects px300, px100 or none"},
  };
  for (const auto& [arguments, message] : cases) {
    const ToolResult result = Run(arguments);
    EXPECT_EQ(result.exit_code, 2) << arguments[1] << " " << message;
    EXPECT_TRUE(Contains(result.err, message)) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
}

TEST_F(UnitCommandsTest, FilesAreCheckedBeforeTheAdapterIsOpened) {
  ParameterModule image = DefaultUnitImage(MacAddress{{0x02, 0, 0, 0, 0, 1}});
  Write("good.bin", image.bytes.data(), image.bytes.size());
  Write("short.bin", image.bytes.data(), 7000);
  image.bytes[4000] ^= 0x01;  // the checksum no longer holds
  Write("bad-sum.bin", image.bytes.data(), image.bytes.size());
  Write("empty.nvm", "");
  Write("huge.nvm", std::string(542249, 'F'));
  const std::vector<std::string> unit = {"--interface", kNoInterface, "--mac", "02:00:00:00:00:01"};
  auto run = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), unit.begin(), unit.end());
    return Run(arguments);
  };

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"unit", "write", "short.bin"}, "write: check failed: short.bin holds 7000 bytes"},
      {{"unit", "write", "bad-sum.bin"}, "write: check failed: bad-sum.bin carries checksum"},
      {{"unit", "write", "missing.bin"}, "write: check failed: cannot open missing.bin"},
      {{"unit", "firmware", "empty.nvm"}, "firmware: check failed: empty.nvm is empty"},
      {{"unit", "firmware", "huge.nvm"}, "firmware: check failed: huge.nvm is larger than 542248"},
  };
  for (const auto& [arguments, message] : refused) {
    const ToolResult result = run(arguments);
    EXPECT_EQ(result.exit_code, 1) << message;
    EXPECT_TRUE(Contains(result.err, message)) << result.err;
    EXPECT_FALSE(Contains(result.err, "open failed")) << result.err;
  }

  // A good file gets as far as the adapter, which is not there.
  const ToolResult good = run({"unit", "write", "good.bin", "--format", "json"});
  EXPECT_EQ(good.exit_code, 1);
  EXPECT_TRUE(Contains(good.err, std::string("write: open failed: no usable Ethernet adapter named '") +
                                     kNoInterface + "'"))
      << good.err;
  EXPECT_EQ(good.out.rfind("{\"ok\":false,\"step\":\"open\",\"error\":", 0), 0u) << good.out;
}

}  // namespace
}  // namespace stampwright
