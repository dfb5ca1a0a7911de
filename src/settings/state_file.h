#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "settings/device_summary.h"
#include "settings/preferences.h"

namespace stampwright {

constexpr size_t kStateFileSize = 97492;
constexpr int32_t kStateFileVersion = 306;
constexpr const char* kStateFileSuffix = ".data";
constexpr size_t kStateSummariesOffset = 8;
constexpr size_t kStateNameCountOffset = kStateSummariesOffset + kDeviceSummaryArraySize;  // 97480
constexpr size_t kStateWordsOffset = kStateNameCountOffset + 4;                              // 97484
static_assert(kStateWordsOffset + 8 == kStateFileSize);

// ProductName followed by ".data", a relative name.
std::string StateFileName(const std::string& product_name);

// The stdio calls that writing the state file makes; tests override them to make a write or a
// close fail. The defaults are the plain stdio calls.
class StateFileIo {
 public:
  virtual ~StateFileIo() = default;
  virtual std::FILE* Open(const char* name, const char* mode);
  virtual size_t Write(const void* data, size_t size, size_t count, std::FILE* file);
  virtual int Close(std::FILE* file);
};

// Writes the whole state file anew: version 306, the current adapter, the eight summaries as one
// 97472-byte item, name count 0 and the two words, six write calls in all. A write that stores
// nothing, or a close that fails, leaves an empty file rather than a partial one; a file that
// cannot be created is skipped. True when the complete file was written; nothing is reported.
bool WriteStateFile(const std::string& product_name, int32_t current_adapter,
                    const DeviceSummaries& summaries, const std::array<uint32_t, 2>& words,
                    StateFileIo& io);
bool WriteStateFile(const std::string& product_name, int32_t current_adapter,
                    const DeviceSummaries& summaries, const Preferences& preferences);

// A state file decoded, for the engineer's tool.
struct StateFileContents {
  int32_t StateFileVersion = 0;
  int32_t CurrentAdapter = 0;
  DeviceSummaries Summaries{};
  int32_t NameCount = 0;
  std::array<uint32_t, 2> Words{};
};

// Reads a state file; it must be exactly 97492 bytes. On failure, *error (when given) says why.
std::optional<StateFileContents> ReadStateFile(const std::string& path,
                                               std::string* error = nullptr);

}  // namespace stampwright
