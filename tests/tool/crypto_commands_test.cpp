// Runs the built stampwright-tool and checks its output and exit codes.

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/options.h"
#include "base/text.h"
#include "crypto/key_derivation.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

using tool_test::ToolResult;

class ToolTest : public tool_test::ToolDirectoryTest {};

std::string OpenSslHex(const std::string& bytes) {
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), digest);
  std::string hex;
  char pair[3];
  for (const uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

TEST_F(ToolTest, HelpListsTheCryptoCommands) {
  const ToolResult result = Run({"--help"});
  EXPECT_EQ(result.exit_code, 0);
  for (const char* name : {"nmk PASSWORD", "dak PASSWORD", "sha256 FILE"}) {
    EXPECT_NE(result.out.find(name), std::string::npos) << name;
  }
  EXPECT_EQ(result.err, "");
}

TEST_F(ToolTest, BadTopLevelUsageExitsTwo) {
  const ToolResult none = Run({});
  EXPECT_EQ(none.exit_code, 2);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("usage:"), std::string::npos);

  const ToolResult unknown = Run({"frobnicate"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_NE(unknown.err.find("unknown command \"frobnicate\""), std::string::npos);
}

TEST_F(ToolTest, CommandHelpPrintsItsUsage) {
  for (const char* name : {"nmk", "dak", "sha256"}) {
    const ToolResult result = Run({name, "--help"});
    EXPECT_EQ(result.exit_code, 0) << name;
    EXPECT_EQ(result.out.rfind(std::string("usage: stampwright-tool ") + name + " ", 0), 0u)
        << result.out;
  }
}

// What a newcomer tries first: every command and every second word answers "--help" on stdout
// with its own usage line and exits 0, wherever the option stands; the tool and the simulator
// say their version, the station's.
TEST_F(ToolTest, EveryCommandAndSubcommandAnswersHelpAndTheVersionIsTheStations) {
  const std::vector<std::vector<std::string>> commands = {
      {"nmk"}, {"dak"}, {"sha256"}, {"image"}, {"image", "burn"}, {"prefs"}, {"state"}, {"db"},
      {"db", "lookup"}, {"db", "encode"}, {"unit"}, {"unit", "find"}, {"unit", "read"},
      {"unit", "write"}, {"unit", "firmware"}, {"unit", "burn"}, {"journal"},
      {"journal", "list"}, {"journal", "report"}, {"journal", "reconcile"}, {"journal", "scrap"},
      {"journal", "release"}, {"journal", "init"}, {"journal", "lease"}};
  for (const std::vector<std::string>& words : commands) {
    std::string named = "usage: stampwright-tool";
    for (const std::string& word : words) named += " " + word;
    for (const bool late : {false, true}) {
      std::vector<std::string> arguments = words;
      // After an operand or an option too, as "journal list --format csv --help".
      if (late && words.size() == 2) arguments.insert(arguments.end(), {"--journal", "x.db"});
      arguments.push_back(late ? "-h" : "--help");
      const ToolResult result = Run(arguments);
      SCOPED_TRACE(named + (late ? " ... -h" : " --help"));
      EXPECT_EQ(result.exit_code, 0);
      EXPECT_EQ(result.out.rfind(named + (words.size() == 1 ? " " : ""), 0), 0u) << result.out;
      EXPECT_EQ(result.err, "");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.db")) << "a help opened the journal";

  const std::string station_version = VersionText().substr(std::string("stampwright").size());
  const ToolResult tool = Run({"--version"});
  EXPECT_EQ(tool.exit_code, 0);
  EXPECT_EQ(tool.out, "stampwright-tool" + station_version);
  const std::string sim = std::string(STAMPWRIGHT_BIN_DIR) + "/stampwright-unit-sim";
  std::FILE* pipe = ::popen((sim + " --version 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[128] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_TRUE(read);
  EXPECT_EQ(std::string(line), "stampwright-unit-sim" + station_version);
}

TEST_F(ToolTest, KeysAreThirtyTwoUpperCaseHexDigits) {
  const ToolResult nmk = Run({"nmk", "HomePlugAV"});
  EXPECT_EQ(nmk.exit_code, 0);
  EXPECT_EQ(nmk.out, "50D3E4933F855B7040784DF815AA8DB7\n");

  const std::string password = "ABCD EFGH 'IJKL' \"MNOP\"";
  const DerivedKey dak = DeviceAccessKey(password.c_str());
  const ToolResult result = Run({"dak", password});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, HexBytes(dak.data(), dak.size(), "") + "\n");
  EXPECT_NE(result.out, Run({"nmk", password}).out);

  // An empty password is a valid one: the salt alone is hashed.
  const DerivedKey empty = NetworkMembershipKey("");
  EXPECT_EQ(Run({"nmk", ""}).out, HexBytes(empty.data(), empty.size(), "") + "\n");
}

TEST_F(ToolTest, KeyCommandArgumentErrors) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"nmk"}, {"dak", "one", "two"}, {"nmk", "-x"}}) {
    const ToolResult result = Run(arguments);
    EXPECT_EQ(result.exit_code, 2) << arguments.back();
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("usage: stampwright-tool"), std::string::npos) << result.err;
  }
  // "--" lets a password start with '-'.
  const DerivedKey dashed = DeviceAccessKey("-x");
  const ToolResult result = Run({"dak", "--", "-x"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, HexBytes(dashed.data(), dashed.size(), "") + "\n");
}

TEST_F(ToolTest, Sha256OfFilesMatchesOpenSsl) {
  EXPECT_EQ(Run({"sha256", Write("abc.txt", "abc")}).out,
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n");
  EXPECT_EQ(Run({"sha256", Write("empty.bin", "")}).out,
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n");

  // Larger than the tool's read buffer and not a multiple of the block size.
  std::mt19937 random(3);
  std::string bytes(200001, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  const ToolResult big = Run({"sha256", Write("big.bin", bytes)});
  EXPECT_EQ(big.exit_code, 0);
  EXPECT_EQ(big.out, OpenSslHex(bytes) + "\n");

  const ToolResult piped = Run({"sha256", "-"}, &bytes);
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_EQ(piped.out, big.out);
}

TEST_F(ToolTest, Sha256OfUnreadableFileExitsOne) {
  const std::string missing = (dir_ / "no-such-file.nvm").string();
  const ToolResult result = Run({"sha256", missing});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("cannot open " + missing), std::string::npos) << result.err;

  const ToolResult directory = Run({"sha256", dir_.string()});
  EXPECT_EQ(directory.exit_code, 1);
  EXPECT_EQ(directory.out, "");
  EXPECT_NE(directory.err.find(dir_.string()), std::string::npos) << directory.err;

  EXPECT_EQ(Run({"sha256"}).exit_code, 2);
}

}  // namespace
}  // namespace stampwright
