#pragma once

// The command line of "stampwright-tool unit": the subcommands, their options and their help.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "base/mac_address.h"
#include "programming/carrier_table.h"
#include "journal/journal.h"
#include "programming/mac_database.h"
#include "protocol/management_message.h"

namespace stampwright::tool {

constexpr uint32_t kDefaultTimeoutMs = 2000;
constexpr uint32_t kDefaultReturnTimeoutMs = 30000;

enum class Sub { kFind, kRead, kWrite, kFirmware, kBurn };

struct SubSpec {
  Sub sub;
  const char* name;
  const char* usage;
  const char* options;  // the subcommand's own options, one per line
};

struct Arguments {
  const SubSpec* spec = nullptr;
  std::string interface;
  Oui oui = kDefaultVendorOui;
  uint32_t timeout_ms = kDefaultTimeoutMs;
  uint32_t return_timeout_ms = kDefaultReturnTimeoutMs;
  bool json = false;
  std::optional<std::string> capture;
  std::optional<MacAddress> mac;
  std::optional<MacAddress> new_mac;
  std::optional<std::string> output;
  std::optional<std::string> file;
  bool no_commit = false;
  std::string database{kDefaultMacDatabasePath};
  ChipModel chip = ChipModel::kPx300;  // the station's start-up choice
  std::string mac_prefix;
  std::string journal{kDefaultJournalTarget};  // burn: where it is recorded, or "none"
};

// "stampwright-tool unit NAME", what every line about the subcommand starts with.
std::string Prefix(const SubSpec& spec);
void PrintSubUsage(std::FILE* out, const SubSpec& spec);
void PrintUnitUsage(std::FILE* out);
const SubSpec* FindSub(const char* name);

// Fills args from argv (argv[0] is the subcommand, args->spec set); on a bad command line prints
// why with the subcommand's usage and returns the usage exit code.
std::optional<int> ParseArguments(int argc, char** argv, Arguments* args);

}  // namespace stampwright::tool
