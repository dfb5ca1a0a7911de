// Station files decoded: image (a parameter module), prefs (OEMPrefs.dat), state (the state file).

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "programming/carrier_table.h"
#include "programming/parameter_module.h"
#include "settings/preferences.h"
#include "settings/state_file.h"

namespace stampwright::tool {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads at most limit + 1 bytes, so that a file longer than expected is told apart without
// reading all of it. Empty and *error set when the file cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadAtMost(const char* path, size_t limit, std::string* error) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(limit + 1);
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) {
    *error = std::string("cannot read ") + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  bytes.resize(got);
  return bytes;
}

// Text fields may hold any byte: show the printable ones, escape the rest.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += ch;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += ch;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out + "\"";
}

const char* ChipModelName(ChipModel model) {
  switch (model) {
    case ChipModel::kPx300:
      return "PX300";
    case ChipModel::kPx100:
      return "PX100";
    case ChipModel::kNone:
      break;
  }
  return "Other";
}

void PrintPreferences(const Preferences& p) {
  std::printf("Value0: %d\n", p.Value0);
  std::printf("Value4: %u\n", unsigned{p.Value4});
  std::printf("Value6: %u\n", p.Value6);
  std::printf("Value10: %u\n", unsigned{p.Value10});
  std::printf("Value12: %u\n", unsigned{p.Value12});
  std::printf("Value14: %u\n", unsigned{p.Value14});
  std::printf("AutoScan: %d (%s)\n", int{p.AutoScan}, p.AutoScan != 0 ? "on" : "off");
  std::printf("Value18: %u\n", unsigned{p.Value18});
  std::printf("Value20: %u\n", unsigned{p.Value20});
  std::printf("Value22: %u\n", unsigned{p.Value22});
  std::printf("Value24: %u\n", unsigned{p.Value24});
  std::printf("Value26: %u\n", unsigned{p.Value26});
  std::printf("Value28: %u\n", unsigned{p.Value28});
  std::printf("Value30: %u\n", unsigned{p.Value30});
  std::printf("WebAddress: %s\n", Quoted(p.WebAddressText()).c_str());
  std::printf("ProductName: %s\n", Quoted(p.ProductNameText()).c_str());
  std::printf("Bytes160: %s\n", HexBytes(p.Bytes160.data(), p.Bytes160.size(), " ").c_str());
  std::printf("Bytes163: %s\n", HexBytes(p.Bytes163.data(), p.Bytes163.size(), " ").c_str());
  std::printf("CopyrightLine: %s\n", Quoted(p.CopyrightLineText()).c_str());
  std::printf("StateFileWords: %u %u\n", p.StateFileWords[0], p.StateFileWords[1]);
  std::printf("StateFile: %s\n", Quoted(StateFileName(p.ProductNameText())).c_str());
}

}  // namespace

int RunImage(int argc, char** argv) {
  int first = 0;
  if (!TakeOperands(argc, argv, 1, &first)) return kExitUsage;
  const char* path = argv[first];
  std::string error;
  const std::optional<std::vector<uint8_t>> bytes = ReadAtMost(path, kModuleSize, &error);
  if (!bytes) return Failure(argv[0], error.c_str());
  if (bytes->size() != kModuleSize) {
    const std::string size =
        bytes->size() > kModuleSize ? "more than 7864" : std::to_string(bytes->size());
    return Failure(argv[0], (std::string(path) + " holds " + size +
                             " bytes; a parameter module image has 7864").c_str());
  }

  ParameterModule module;
  std::memcpy(module.bytes.data(), bytes->data(), kModuleSize);
  const uint32_t stored = module.ImageChecksum();
  const uint32_t computed = ExpectedImageChecksum(module);
  const Key dak = module.GetDeviceAccessKey();
  const Key nmk = module.GetNetworkMembershipKey();
  std::printf("FormatVersion: %u (checksum over %u words)\n", unsigned{module.FormatVersion()},
              ImageChecksumWords(module));
  std::printf("ImageChecksum: %08x\n", stored);
  std::printf("ComputedChecksum: %08x %s\n", computed, computed == stored ? "ok" : "BAD");
  std::printf("MacAddress: %s\n", module.GetMacAddress().ToString().c_str());
  std::printf("DeviceAccessKey: %s\n", HexBytes(dak.data(), dak.size(), "").c_str());
  std::printf("NetworkMembershipKey: %s\n", HexBytes(nmk.data(), nmk.size(), "").c_str());
  std::printf("CarrierTable: %s\n", ChipModelName(IdentifyCarrierTable(module)));
  return kExitOk;
}

int RunPrefs(int argc, char** argv) {
  // One optional operand: count what is there and let TakeOperands judge the rest.
  const bool separator = argc > 1 && std::strcmp(argv[1], "--") == 0;
  const int present = argc - 1 - (separator ? 1 : 0);
  int first = 0;
  if (!TakeOperands(argc, argv, present == 0 ? 0 : 1, &first)) return kExitUsage;
  const std::string path = present == 0 ? kPreferencesFileName : argv[first];

  const bool readable = ReadPreferencesFile(path).has_value();
  const Preferences preferences = LoadPreferences(path);
  if (readable) {
    std::printf("source: %s\n", Quoted(path).c_str());
  } else {
    std::printf("source: defaults, no readable file %s\n", Quoted(path).c_str());
  }
  PrintPreferences(preferences);
  return kExitOk;
}

int RunState(int argc, char** argv) {
  int first = 0;
  if (!TakeOperands(argc, argv, 1, &first)) return kExitUsage;
  std::string error;
  const std::optional<StateFileContents> state = ReadStateFile(argv[first], &error);
  if (!state) return Failure(argv[0], error.c_str());

  std::printf("StateFileVersion: %d\n", state->StateFileVersion);
  std::printf("CurrentAdapter: %d\n", state->CurrentAdapter);
  for (size_t i = 0; i < state->Summaries.size(); ++i) {
    const DeviceSummary& s = state->Summaries[i];
    std::printf("DeviceSummary %zu:\n", i);
    std::printf("  AdapterMac: %s\n", s.AdapterMac.ToString().c_str());
    std::printf("  Present: %u\n", s.Present);
    std::printf("  DeviceMac: %s\n", s.DeviceMac.ToString().c_str());
    std::printf("  FramesReceived: %u\n", s.FramesReceived);
    std::printf("  BytesReceived: %u\n", s.BytesReceived);
    std::printf("  FramesSent: %u\n", s.FramesSent);
    std::printf("  BytesSent: %u\n", s.BytesSent);
  }
  std::printf("NameCount: %d\n", state->NameCount);
  std::printf("Words: %u %u\n", state->Words[0], state->Words[1]);
  return kExitOk;
}

}  // namespace stampwright::tool
