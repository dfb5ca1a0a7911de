// image burn: what a burn writes into a parameter module, applied offline to an image file, so
// that it can be checked without a unit. The edits are the station's own (ApplyBurnEdits).

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "base/file_handle.h"
#include "base/hex.h"
#include "base/text.h"
#include "commands.h"
#include "programming/burn_edits.h"
#include "programming/carrier_table.h"
#include "programming/parameter_module.h"

namespace stampwright::tool {

// Exactly one 7864-byte image, or a message in *error.
std::optional<ParameterModule> ReadImage(const char* path, std::string* error) {
  const FileHandle file(std::fopen(path, "rb"));
  if (!file) {
    *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  ParameterModule module;
  const size_t got = std::fread(module.bytes.data(), 1, module.bytes.size(), file.get());
  const bool longer = got == module.bytes.size() && std::fgetc(file.get()) != EOF;
  if (std::ferror(file.get())) {
    *error = std::string("cannot read ") + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (got != module.bytes.size() || longer) {
    *error = std::string(path) + " holds " + (longer ? "more than 7864" : std::to_string(got)) +
             " bytes; a parameter module image has 7864";
    return std::nullopt;
  }
  return module;
}

namespace {

constexpr const char* kCommand = "image burn";
constexpr const char* kUsage =
    "usage: stampwright-tool image burn IN OUT --mac MAC --password GROUPED "
    "[--chip px300|px100|none]\n";
constexpr size_t kMacTextChars = 12;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct BurnArguments {
  const char* in = nullptr;
  const char* out = nullptr;
  std::optional<std::string> mac;
  std::optional<std::string> password;
  ChipModel chip = ChipModel::kPx300;  // the station's start-up choice
};

int BurnUsage(const std::string& message) {
  std::fprintf(stderr, "stampwright-tool %s: %s\n%s", kCommand, message.c_str(), kUsage);
  return kExitUsage;
}

std::optional<ChipModel> ParseChip(const std::string& text) {
  if (text == "px300") return ChipModel::kPx300;
  if (text == "px100") return ChipModel::kPx100;
  if (text == "none") return ChipModel::kNone;
  return std::nullopt;
}

// Fills args from argv[1..]; on a bad command line prints the message and returns false.
bool ParseBurnArguments(int argc, char** argv, BurnArguments* args, int* exit_code) {
  int operands = 0;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!options_done && argument == "--") {
      options_done = true;
    } else if (!options_done && (argument == "--mac" || argument == "--password" ||
                                 argument == "--chip")) {
      if (i + 1 >= argc) {
        *exit_code = BurnUsage(argument + " needs a value");
        return false;
      }
      const std::string value = argv[++i];
      if (argument == "--mac") args->mac = value;
      if (argument == "--password") args->password = value;
      if (argument == "--chip") {
        const std::optional<ChipModel> chip = ParseChip(value);
        if (!chip) {
          *exit_code = BurnUsage("--chip takes px300, px100 or none, not \"" + value + "\"");
          return false;
        }
        args->chip = *chip;
      }
    } else if (!options_done && argument.size() > 1 && argument[0] == '-') {
      *exit_code = BurnUsage("unknown option " + argument);
      return false;
    } else if (operands == 0) {
      args->in = argv[i];
      ++operands;
    } else if (operands == 1) {
      args->out = argv[i];
      ++operands;
    } else {
      *exit_code = BurnUsage("too many arguments");
      return false;
    }
  }
  if (operands < 2) *exit_code = BurnUsage("missing argument");
  else if (!args->mac) *exit_code = BurnUsage("--mac is required");
  else if (!args->password) *exit_code = BurnUsage("--password is required");
  else return true;
  return false;
}


bool WriteImage(const char* path, const ParameterModule& module, std::string* error) {
  std::FILE* raw = std::fopen(path, "wb");
  if (raw == nullptr) {
    *error = std::string("cannot create ") + path + ": " + std::strerror(errno);
    return false;
  }
  File file(raw);
  const size_t put = std::fwrite(module.bytes.data(), 1, module.bytes.size(), file.get());
  // Closing flushes: its failure is a failed write too.
  const bool closed = std::fclose(file.release()) == 0;
  if (put != module.bytes.size() || !closed) {
    *error = std::string("cannot write ") + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool IsHexDigit(char c) { return HexValue(c) >= 0; }

// The station takes whatever the database held; say so when that is not what was meant.
void WarnAboutTexts(const std::string& mac, const std::string& password) {
  if (mac.size() != kMacTextChars) {
    std::fprintf(stderr, "stampwright-tool %s: note: the MAC text has %zu characters; the burn "
                 "reads 12 (missing ones count as 0)\n", kCommand, mac.size());
  }
  for (size_t i = 0; i < mac.size() && i < kMacTextChars; ++i) {
    if (!IsHexDigit(mac[i])) {
      std::fprintf(stderr, "stampwright-tool %s: note: MAC character %zu is not a hexadecimal "
                   "digit; the burn counts it with its character code\n", kCommand, i + 1);
    }
  }
  if (password.size() > kBurnPasswordChars) {
    std::fprintf(stderr, "stampwright-tool %s: note: only the first 19 characters of the "
                 "password are hashed\n", kCommand);
  }
}

const char* CarrierText(ChipModel chip) {
  switch (chip) {
    case ChipModel::kPx300: return "PX300 table";
    case ChipModel::kPx100: return "PX100 table";
    case ChipModel::kNone: break;
  }
  return "as read";
}

int RunImageBurn(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  BurnArguments args;
  int exit_code = kExitUsage;
  if (!ParseBurnArguments(argc, argv, &args, &exit_code)) return exit_code;

  std::string error;
  std::optional<ParameterModule> module = ReadImage(args.in, &error);
  if (!module) return Failure(kCommand, error.c_str());
  WarnAboutTexts(*args.mac, *args.password);

  const BurnKeys keys = ApplyBurnEdits(*module, args.chip, *args.mac, *args.password);
  if (!WriteImage(args.out, *module, &error)) return Failure(kCommand, error.c_str());

  std::printf("CarrierValues: %s\n", CarrierText(args.chip));
  std::printf("NetworkMembershipKey: %s\n", HexBytes(keys.nmk.data(), keys.nmk.size(), " ").c_str());
  std::printf("DeviceAccessKey: %s\n", HexBytes(keys.dak.data(), keys.dak.size(), "").c_str());
  std::printf("MacAddress: %s\n", keys.mac.ToString().c_str());
  std::printf("checksum: %08x\n", keys.checksum);
  return kExitOk;
}

}  // namespace

int RunImageCommand(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "burn") == 0) return RunImageBurn(argc - 1, argv + 1);
  return RunImage(argc, argv);
}

}  // namespace stampwright::tool
