#include "settings/preferences.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/byte_order.h"
#include "base/file_handle.h"
#include "base/work_directory.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "settings/state_file.h"

namespace stampwright {
namespace {

struct FieldSpan {
  size_t offset;
  size_t size;
};

// The fields of "OEMPrefs.dat" in file order; each is read with one read of exactly its size.
constexpr FieldSpan kFields[] = {
    {0, 4},   {4, 2},   {6, 4},   {10, 2},  {12, 2},  {14, 2},  {16, 2},
    {18, 2},  {20, 2},  {22, 2},  {24, 2},  {26, 2},  {28, 2},  {30, 2},
    {32, 64}, {96, 64}, {160, 3}, {163, 24}, {187, 80},
};

constexpr bool FieldsAreContiguous() {
  size_t next = 0;
  for (const FieldSpan& field : kFields) {
    if (field.offset != next) return false;
    next += field.size;
  }
  return next == kPreferencesFileSize;
}
static_assert(FieldsAreContiguous());

constexpr size_t kWebAddressOffset = 32;
constexpr size_t kProductNameOffset = 96;
constexpr size_t kBytes160Offset = 160;
constexpr size_t kBytes163Offset = 163;
constexpr size_t kCopyrightLineOffset = 187;

constexpr const char* kDefaultWebAddress = "http://www.linewave.example/";
constexpr const char* kDefaultCopyrightLine = "Copyright (C) Linewave. All rights reserved.";

template <size_t N>
std::string TextOf(const std::array<char, N>& field) {
  return std::string(field.data(), strnlen(field.data(), N - 1));
}

template <typename T, size_t N>
void CopyOut(const uint8_t* block, size_t offset, std::array<T, N>& field) {
  static_assert(sizeof(T) == 1);
  std::memcpy(field.data(), block + offset, N);
}

// Stores text with its NUL; callers pass texts shorter than the field.
template <size_t N>
void SetText(std::array<char, N>& field, const char* text) {
  field.fill('\0');
  std::memcpy(field.data(), text, std::min(std::strlen(text), N - 1));
}

Preferences Decode(const uint8_t* block) {
  Preferences p;
  p.Value0 = static_cast<int32_t>(LoadLe32(block + 0));
  p.Value4 = LoadLe16(block + 4);
  p.Value6 = LoadLe32(block + 6);
  p.Value10 = LoadLe16(block + 10);
  p.Value12 = LoadLe16(block + 12);
  p.Value14 = LoadLe16(block + 14);
  p.AutoScan = static_cast<int16_t>(LoadLe16(block + 16));
  p.Value18 = LoadLe16(block + 18);
  p.Value20 = LoadLe16(block + 20);
  p.Value22 = LoadLe16(block + 22);
  p.Value24 = LoadLe16(block + 24);
  p.Value26 = LoadLe16(block + 26);
  p.Value28 = LoadLe16(block + 28);
  p.Value30 = LoadLe16(block + 30);
  CopyOut(block, kWebAddressOffset, p.WebAddress);
  CopyOut(block, kProductNameOffset, p.ProductName);
  CopyOut(block, kBytes160Offset, p.Bytes160);
  CopyOut(block, kBytes163Offset, p.Bytes163);
  CopyOut(block, kCopyrightLineOffset, p.CopyrightLine);
  return p;
}

}  // namespace

std::string Preferences::ProductNameText() const { return TextOf(ProductName); }
std::string Preferences::WebAddressText() const { return TextOf(WebAddress); }
std::string Preferences::CopyrightLineText() const { return TextOf(CopyrightLine); }

Preferences DefaultPreferences() {
  Preferences p;
  p.Value0 = 30;
  p.Value10 = 24;
  p.Value14 = 1;
  p.AutoScan = 1;
  p.Value18 = 10;
  p.Value20 = 310;
  p.Value22 = 80;
  p.Value24 = 25;
  p.Value26 = 1;
  p.Value28 = 1;
  p.Value30 = 1;
  SetText(p.WebAddress, kDefaultWebAddress);
  SetText(p.ProductName, kDefaultProductName);
  SetText(p.CopyrightLine, kDefaultCopyrightLine);
  return p;
}

namespace {

std::optional<Preferences> ReadRegularPreferencesFile(const std::string& path,
                                                      OpenResult* result) {
  const FileHandle file = OpenRegularFile(path, "rb", result);
  if (!file) return std::nullopt;
  uint8_t block[kPreferencesFileSize] = {};
  // Short reads are not errors: whatever the file holds lands at its place, the rest stays 0.
  for (const FieldSpan& field : kFields) {
    (void)std::fread(block + field.offset, 1, field.size, file.get());
  }
  // A file that opens but cannot be read (an I/O error) counts as unreadable, like one that
  // does not open.
  if (std::ferror(file.get())) return std::nullopt;
  return Decode(block);
}

}  // namespace

std::optional<Preferences> ReadPreferencesFile(const std::string& path) {
  return ReadRegularPreferencesFile(path, nullptr);
}

Preferences LoadPreferences(const std::string& path, std::FILE* notes,
                            const std::string& directory) {
  OpenResult result = OpenResult::kCannotOpen;
  std::optional<Preferences> read =
      ReadRegularPreferencesFile(InDirectory(directory, path), &result);
  if (result == OpenResult::kNotARegularFile && notes != nullptr) {
    std::fprintf(notes, "%s: not a regular file; using the default preferences\n", path.c_str());
  }
  Preferences p = read.value_or(DefaultPreferences());
  p.StateFileWords = {1, 1};
  const std::string name = p.ProductNameText();
  if (notes != nullptr && StateFileName(name) != name + kStateFileSuffix) {
    // The name as C escapes: its control bytes must not reach the terminal either.
    std::string shown;
    for (const char c : name) {
      const auto byte = static_cast<unsigned char>(c);
      shown += byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' ? std::string(1, c)
                                                                   : FormatText("\\x%02X", byte);
    }
    std::fprintf(notes, "ProductName \"%s\" cannot name a file here; the state file is \"%s\"\n",
                 shown.c_str(), StateFileName(name).c_str());
  }
  return p;
}

}  // namespace stampwright
