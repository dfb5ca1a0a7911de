#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace stampwright {

constexpr size_t kPreferencesFileSize = 267;
constexpr const char* kPreferencesFileName = "OEMPrefs.dat";
constexpr const char* kDefaultProductName = "Linewave Utility";

// The station's preferences: the 267-byte "OEMPrefs.dat" record, field by field in file order
// (offsets in the comments), plus the two words that end the state file. Only ProductName and
// AutoScan are used; the rest is read so that those two are found at their places.
struct Preferences {
  int32_t Value0 = 0;    // 0
  uint16_t Value4 = 0;   // 4
  uint32_t Value6 = 0;   // 6
  uint16_t Value10 = 0;  // 10
  uint16_t Value12 = 0;  // 12
  uint16_t Value14 = 0;  // 14
  int16_t AutoScan = 0;  // 16: nonzero is on
  uint16_t Value18 = 0;  // 18
  uint16_t Value20 = 0;  // 20
  uint16_t Value22 = 0;  // 22
  uint16_t Value24 = 0;  // 24
  uint16_t Value26 = 0;  // 26
  uint16_t Value28 = 0;  // 28
  uint16_t Value30 = 0;  // 30
  std::array<char, 64> WebAddress{};     // 32
  std::array<char, 64> ProductName{};    // 96
  std::array<uint8_t, 3> Bytes160{};     // 160
  std::array<uint8_t, 24> Bytes163{};    // 163
  std::array<char, 80> CopyrightLine{};  // 187

  // Not in the file: set to 1 by every load, written at the end of the state file.
  std::array<uint32_t, 2> StateFileWords{};

  // The texts up to their NUL, at most one less than the field size, so that a field that
  // holds no NUL never runs into the next one.
  std::string ProductNameText() const;
  std::string WebAddressText() const;
  std::string CopyrightLineText() const;
};

// The built-in values used when there is no preferences file (state-file words still 0).
Preferences DefaultPreferences();

// Reads a preferences file as the station does: a block of zeros, then each field with one read
// of exactly its size, in file order; a field cut by the end of the file keeps the bytes that are
// there, later fields stay zero, bytes past 267 are ignored. Empty when the file cannot be
// opened or read, or is not a regular file (a FIFO, a device, a directory: opened without
// blocking, never read). The state-file words are left 0.
std::optional<Preferences> ReadPreferencesFile(const std::string& path);

// The start-up load: the file if it opens, else the defaults; then both state-file words := 1.
// One line to notes (stderr; none when null) when the path names something other than a regular
// file, and one when the ProductName cannot name the state file (which then takes the default
// product name). A relative path is taken in directory (--workdir; empty: the process's working
// directory); the note names the path as given.
Preferences LoadPreferences(const std::string& path = kPreferencesFileName,
                            std::FILE* notes = stderr, const std::string& directory = {});

}  // namespace stampwright
