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

// ProductName followed by ".data", a relative name in the working directory. A ProductName that
// would leave the directory or name another one ("/" inside, ".", "..", empty) is replaced by the
// default product name. Control characters and bytes that are not UTF-8 become "_" in the file
// name (the page's texts keep the name as it is).
std::string StateFileName(const std::string& product_name);
// False for the names StateFileName replaces.
bool IsSafeProductName(const std::string& product_name);

// The file calls that writing the state file makes; tests override them to make a write, a sync
// or a close fail, or to stop part-way. The defaults are the plain stdio and POSIX calls.
class StateFileIo {
 public:
  virtual ~StateFileIo() = default;
  virtual std::FILE* Open(const char* name, const char* mode);
  virtual size_t Write(const void* data, size_t size, size_t count, std::FILE* file);
  // Flushes the stream and the file's data to the disk: 0 on success.
  virtual int Sync(std::FILE* file);
  virtual int Close(std::FILE* file);
  virtual int Rename(const char* from, const char* to);
  virtual int Remove(const char* name);
};

// The name the state file is written under before it is renamed into place.
std::string StateFileTempName(const std::string& state_file_name);

// Writes the whole state file anew: version 306, the current adapter, the eight summaries as one
// 97472-byte item, name count 0 and the two words, six write calls in all. They go to a
// temporary file in the same directory, which is synced and then renamed over the state file,
// so a process killed at any moment leaves the old complete file or the new complete one. A
// write, sync or close that fails removes the temporary file and leaves the old file as it was;
// a file that cannot be created is skipped. True when the complete file was put in place;
// nothing is reported.
bool WriteStateFile(const std::string& product_name, int32_t current_adapter,
                    const DeviceSummaries& summaries, const std::array<uint32_t, 2>& words,
                    StateFileIo& io, const std::string& directory = {});
// directory: where the file is written (--workdir); empty: the process's working directory.
bool WriteStateFile(const std::string& product_name, int32_t current_adapter,
                    const DeviceSummaries& summaries, const Preferences& preferences,
                    const std::string& directory = {});

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
