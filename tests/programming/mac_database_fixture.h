// What the MAC database tests share: a scratch directory, the lookup run through a recording
// page, and a reference lookup written as plainly as it can be.
#pragma once

#include "station/mac_lookup.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/controls.h"
#include "support/recording_page.h"

namespace stampwright {

// MAC 02A0C5123456, password ABCDEFGHIJKLMNOP, laid out by hand from the position table.
inline constexpr char kGoldenRecord[] = "BDEGA1C2JL4MF5HIO6NPK#3";
inline constexpr char kGoldenMac[] = "02A0C5123456";
inline constexpr char kGoldenPassword[] = "ABCD-EFGH-IJKL-MNOP";
inline constexpr char kInitialMacField[] = "AA:AA:AA:AA:AA:AA";
inline constexpr char kInitialPasswordField[] = "    -    -    -";

struct Outcome {
  bool found = false;
  bool opened = true;
  std::string mac_text;
  std::string password_text;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

// The lookup written as plainly as it can be: a count pass of 80-byte fgets reads, then a search
// pass bounded by that count. ftell tells how many characters each read took, NULs included.
inline Outcome ReferenceLookup(const std::string& path, const std::string& prefix,
                               const std::string& entry) {
  Outcome outcome;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    outcome.opened = false;
    return outcome;
  }
  char line[80];
  long count = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) ++count;
  std::fclose(file);

  file = std::fopen(path.c_str(), "r");
  for (long i = 0; i < count; ++i) {
    const long before = std::ftell(file);
    if (std::fgets(line, sizeof line, file) == nullptr) break;
    size_t length = static_cast<size_t>(std::ftell(file) - before);
    if (length > 0 && line[length - 1] == '\n') --length;
    if (length < 23) continue;
    const int mac_positions[6] = {5, 7, 22, 10, 13, 17};
    const int password_positions[16] = {4, 0, 6, 1, 2, 12, 3, 14, 15, 8, 20, 9, 11, 18, 16, 19};
    bool damaged = false;
    std::string mac = prefix;
    for (int p : mac_positions) {
      mac += line[p];
      damaged |= line[p] == '\0';
    }
    std::string password;
    for (int k = 0; k < 16; ++k) {
      if (k == 4 || k == 8 || k == 12) password += '-';
      password += line[password_positions[k]];
      damaged |= line[password_positions[k]] == '\0';
    }
    if (damaged || mac != entry) continue;
    outcome.found = true;
    outcome.mac_text = mac;
    outcome.password_text = password;
    break;
  }
  std::fclose(file);
  return outcome;
}

inline size_t OpenDescriptorCount() {
  size_t count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dir != nullptr && ::readdir(dir) != nullptr) ++count;
  if (dir != nullptr) ::closedir(dir);
  return count;
}

class MacDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mac-database-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  // Types the entry, runs the lookup and returns what the page shows afterwards.
  Outcome Lookup(const std::string& entry, const MacLookupOptions& options = {}) {
    page_ = RecordingPage();
    page_.SetText(kNewMacEdit, entry);
    page_.Clear();
    Outcome outcome;
    outcome.found = LookupMacRecord(page_, options);
    if (outcome.found) {
      outcome.mac_text = page_.GetText(kMacField, 100);
      outcome.password_text = page_.GetText(kPasswordField, 100);
    } else if (!page_.message_boxes().empty() &&
               page_.message_boxes()[0].text == "Error opening DB") {
      outcome.opened = false;
    }
    return outcome;
  }

  // The lookup and the fgets reference agree on this file and entry.
  void ExpectSameAsReference(const std::string& entry, const std::string& prefix = "02A0C5") {
    MacLookupOptions options;
    options.mac_prefix = prefix;
    const Outcome expected = ReferenceLookup("cam.dbr", prefix, entry.substr(0, 12));
    const Outcome actual = Lookup(entry, options);
    EXPECT_EQ(actual.found, expected.found) << "entry " << entry;
    EXPECT_EQ(actual.opened, expected.opened) << "entry " << entry;
    EXPECT_EQ(actual.mac_text, expected.mac_text) << "entry " << entry;
    EXPECT_EQ(actual.password_text, expected.password_text) << "entry " << entry;
    // The same file searched as two halves at once, whatever its size.
    options.split_from_bytes = 0;
    const Outcome halves = Lookup(entry, options);
    EXPECT_EQ(halves.found, expected.found) << "halves, entry " << entry;
    EXPECT_EQ(halves.mac_text, expected.mac_text) << "halves, entry " << entry;
    EXPECT_EQ(halves.password_text, expected.password_text) << "halves, entry " << entry;
  }

  void ExpectInvalidBox() {
    ASSERT_EQ(page_.message_boxes().size(), 1u);
    EXPECT_EQ(page_.message_boxes()[0].text, "The input MAC is invalid.");
    EXPECT_EQ(page_.message_boxes()[0].caption, "Info");
    EXPECT_EQ(page_.message_boxes()[0].type, 48u);
    EXPECT_TRUE(page_.texts().empty());
    EXPECT_EQ(page_.GetText(kMacField, 100), kInitialMacField);
    EXPECT_EQ(page_.GetText(kPasswordField, 100), kInitialPasswordField);
  }

  std::string dir_;
  std::filesystem::path previous_;
  RecordingPage page_;
};

}  // namespace stampwright
