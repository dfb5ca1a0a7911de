// "OEMPrefs.dat" contents into ReadPreferencesFile and LoadPreferences, checked against the
// record as the station lays it out: the file's first 267 bytes over a block of zeros, each
// field at its offset, little-endian, texts at most one less than their field.

#include <cstring>
#include <optional>
#include <string>

#include "base/byte_order.h"
#include "fuzz_input.h"
#include "settings/preferences.h"
#include "settings/state_file.h"
#include "temp_file.h"

namespace stampwright::fuzz {
namespace {

std::string TextAt(const uint8_t* block, size_t offset, size_t size) {
  const char* text = reinterpret_cast<const char*>(block + offset);
  return std::string(text, strnlen(text, size - 1));
}

void Run(std::span<const uint8_t> bytes, const TempFile& file) {
  file.Write({bytes});
  uint8_t block[kPreferencesFileSize] = {};
  std::memcpy(block, bytes.data(), std::min(bytes.size(), kPreferencesFileSize));

  const std::optional<Preferences> read = ReadPreferencesFile(file.path());
  Require(read.has_value(), "a readable file gives preferences");
  const Preferences& p = *read;
  Require(p.Value0 == static_cast<int32_t>(LoadLe32(block + 0)), "value at 0");
  Require(p.Value6 == LoadLe32(block + 6), "value at 6");
  Require(p.AutoScan == static_cast<int16_t>(LoadLe16(block + 16)), "AutoScan at 16");
  Require(p.Value30 == LoadLe16(block + 30), "value at 30");
  Require(std::memcmp(p.ProductName.data(), block + 96, 64) == 0, "ProductName at 96");
  Require(std::memcmp(p.Bytes163.data(), block + 163, 24) == 0, "bytes at 163");
  Require(std::memcmp(p.CopyrightLine.data(), block + 187, 80) == 0, "CopyrightLine at 187");
  Require(p.ProductNameText() == TextAt(block, 96, 64), "ProductName text, at most 63 chars");
  Require(p.WebAddressText() == TextAt(block, 32, 64), "WebAddress text, at most 63 chars");
  Require(p.CopyrightLineText() == TextAt(block, 187, 80), "CopyrightLine text, at most 79 chars");
  Require(p.StateFileWords[0] == 0 && p.StateFileWords[1] == 0, "the reader leaves the words");

  const Preferences loaded = LoadPreferences(file.path(), nullptr);  // no note per input
  Require(loaded.StateFileWords[0] == 1 && loaded.StateFileWords[1] == 1, "the load sets the words");
  Require(loaded.ProductNameText() == p.ProductNameText() && loaded.AutoScan == p.AutoScan,
          "the load takes the file");
  // Whatever the name, the state file stays a plain name in the working directory.
  const std::string state = StateFileName(loaded.ProductNameText());
  Require(state.find('/') == std::string::npos && state != ".data" && state != "..data",
          "the state file never leaves the working directory");
}

}  // namespace
}  // namespace stampwright::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const stampwright::fuzz::TempFile file("OEMPrefs.dat");
  stampwright::fuzz::Run(std::span<const uint8_t>(data, size), file);
  return 0;
}
