#include "unit_arguments.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/hex.h"
#include "commands.h"

namespace stampwright::tool {
namespace {

constexpr uint32_t kMaxTimeoutMs = 3600000;

constexpr const char* kCommonOptions =
    "  --interface NAME       the Ethernet adapter the unit is cabled to (required)\n"
    "  --oui XX:XX:XX         vendor OUI in the management messages (default 00:B0:52)\n"
    "  --timeout MS           how long to wait for the unit to answer (default 2000)\n"
    "  --format text|json     what stdout carries (default text)\n"
    "  --capture FILE         append every 0x88E1 frame sent or received to FILE (pcapng)\n";

constexpr SubSpec kSubs[] = {
    {Sub::kFind, "find", "unit find --interface NAME [options]",
     "Every unit answering a broadcast VS_VER_QUERY within the timeout: MAC, chip, firmware.\n"},
    {Sub::kRead, "read", "unit read --interface NAME --mac MAC -o FILE [options]",
     "The unit's 7864-byte parameter module into FILE, its chip table identified and its\n"
     "checksum checked (FILE is written even when the checksum is wrong).\n"
     "  --mac MAC              the unit's MAC (required)\n"
     "  -o, --output FILE      where the module goes (required)\n"},
    {Sub::kWrite, "write", "unit write FILE --interface NAME --mac MAC [--no-commit] [options]",
     "A 7864-byte module file (size and checksum checked first) written to the unit in chunks,\n"
     "then committed to flash.\n"
     "  --mac MAC              the unit's MAC (required)\n"
     "  --no-commit            write the chunks only\n"},
    {Sub::kFirmware, "firmware", "unit firmware FILE.nvm --interface NAME --mac MAC [options]",
     "A firmware file (at most 542248 bytes) written to the unit as module 1, then committed.\n"
     "  --mac MAC              the unit's MAC (required)\n"},
    {Sub::kBurn, "burn",
     "unit burn --interface NAME --mac CURRENT --new-mac MAC [--database FILE]\n"
     "       [--chip px300|px100|none] [--mac-prefix XXXXXX] [--return-timeout MS]\n"
     "       [--journal TARGET] [options]",
     "The station's whole burn without a window: read, database lookup, edits, write, commit,\n"
     "then the wait for the unit's return under the new MAC and a read-back that must hold\n"
     "what was written.\n"
     "  --mac CURRENT          the MAC the unit answers under now (required)\n"
     "  --new-mac MAC          the MAC to look up in the database and burn (required)\n"
     "  --database FILE        the MAC database (default cam.dbr)\n"
     "  --chip px300|px100|none  the chip model the station has selected (default px300)\n"
     "  --mac-prefix XXXXXX    first three MAC octets of the database records\n"
     "  --return-timeout MS    how long to wait for the return (default 30000)\n"
     "  --journal TARGET       the production journal the burn is recorded in (default\n"
     "                         journal.db; none: not recorded)\n"},
};

}  // namespace

std::string Prefix(const SubSpec& spec) { return std::string("stampwright-tool unit ") + spec.name; }

void PrintSubUsage(std::FILE* out, const SubSpec& spec) {
  std::fprintf(out, "usage: stampwright-tool %s\n%s%s", spec.usage, spec.options, kCommonOptions);
}

void PrintUnitUsage(std::FILE* out) {
  std::fputs("usage: stampwright-tool unit find|read|write|firmware|burn [ARGS...]\n"
             "       stampwright-tool unit SUBCOMMAND --help\n", out);
  for (const SubSpec& spec : kSubs) std::fprintf(out, "  stampwright-tool %s\n", spec.usage);
  std::fputs("Exit status: 0 done, 1 the operation failed (one line says at which step and why),\n"
             "2 the command line was wrong.\n", out);
}

namespace {

int SubUsageError(const SubSpec& spec, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", Prefix(spec).c_str(), message.c_str());
  PrintSubUsage(stderr, spec);
  return kExitUsage;
}

std::optional<uint32_t> ParseMs(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || value == 0 || value > kMaxTimeoutMs) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<std::string> ParseMacPrefix(const std::string& text) {
  if (text.size() != 6) return std::nullopt;
  std::string prefix;
  for (const char c : text) {
    const int value = HexValue(c);
    if (value < 0) return std::nullopt;
    prefix += "0123456789ABCDEF"[value];
  }
  return prefix;
}

}  // namespace

std::optional<int> ParseArguments(int argc, char** argv, Arguments* args) {
  const SubSpec& spec = *args->spec;
  const Sub sub = spec.sub;
  const bool takes_mac = sub != Sub::kFind;
  const bool takes_file = sub == Sub::kWrite || sub == Sub::kFirmware;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!options_done && argument == "--") {
      options_done = true;
      continue;
    }
    if (options_done || argument.empty() || argument[0] != '-' || argument == "-") {
      if (!takes_file || args->file) return SubUsageError(spec, "unexpected argument " + argument);
      args->file = argument;
      continue;
    }
    if (argument == "--no-commit" && sub == Sub::kWrite) {
      args->no_commit = true;
      continue;
    }
    const bool known =
        argument == "--interface" || argument == "--oui" || argument == "--timeout" ||
        argument == "--format" || argument == "--capture" ||
        (takes_mac && argument == "--mac") ||
        (sub == Sub::kRead && (argument == "-o" || argument == "--output")) ||
        (sub == Sub::kBurn && (argument == "--new-mac" || argument == "--database" ||
                               argument == "--chip" || argument == "--mac-prefix" ||
                               argument == "--return-timeout" || argument == "--journal"));
    if (!known) return SubUsageError(spec, "unknown option " + argument);
    if (i + 1 >= argc) return SubUsageError(spec, argument + " needs a value");
    const std::string value = argv[++i];
    const auto bad = [&](const char* expected) {
      return SubUsageError(spec, argument + " expects " + expected + ", not \"" + value + "\"");
    };
    if (argument == "--interface") {
      if (value.empty()) return bad("an adapter name");
      args->interface = value;
    } else if (argument == "--oui") {
      const auto oui = ParseOui(value);
      if (!oui) return bad("XX:XX:XX");
      args->oui = *oui;
    } else if (argument == "--timeout" || argument == "--return-timeout") {
      const auto ms = ParseMs(value);
      if (!ms) return bad("milliseconds, 1 to 3600000");
      (argument == "--timeout" ? args->timeout_ms : args->return_timeout_ms) = *ms;
    } else if (argument == "--format") {
      if (value != "text" && value != "json") return bad("text or json");
      args->json = value == "json";
    } else if (argument == "--capture") {
      if (value.empty()) return bad("a file name");
      args->capture = value;
    } else if (argument == "--mac" || argument == "--new-mac") {
      const auto mac = ParseMacArgument(value);
      if (!mac) return bad("a MAC such as 02:A0:C5:00:00:01 or 02a0c5000001");
      (argument == "--mac" ? args->mac : args->new_mac) = *mac;
    } else if (argument == "-o" || argument == "--output") {
      if (value.empty()) return bad("a file name");
      args->output = value;
    } else if (argument == "--database") {
      if (value.empty()) return bad("a file name");
      args->database = value;
    } else if (argument == "--chip") {
      if (value == "px300") {
        args->chip = ChipModel::kPx300;
      } else if (value == "px100") {
        args->chip = ChipModel::kPx100;
      } else if (value == "none") {
        args->chip = ChipModel::kNone;
      } else {
        return bad("px300, px100 or none");
      }
    } else if (argument == "--journal") {
      if (value.empty()) return bad("a journal file or none");
      args->journal = value;
    } else if (argument == "--mac-prefix") {
      const auto prefix = ParseMacPrefix(value);
      if (!prefix) return bad("six hex digits");
      args->mac_prefix = *prefix;
    }
  }
  if (args->interface.empty()) return SubUsageError(spec, "--interface NAME is required");
  if (takes_mac && !args->mac) return SubUsageError(spec, "--mac is required");
  if (sub == Sub::kRead && !args->output) return SubUsageError(spec, "-o FILE is required");
  if (takes_file && !args->file) return SubUsageError(spec, "missing FILE");
  if (sub == Sub::kBurn && !args->new_mac) return SubUsageError(spec, "--new-mac is required");
  return std::nullopt;
}

const SubSpec* FindSub(const char* name) {
  for (const SubSpec& spec : kSubs) {
    if (std::strcmp(spec.name, name) == 0) return &spec;
  }
  return nullptr;
}

}  // namespace stampwright::tool
