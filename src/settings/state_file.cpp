#include "settings/state_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

#include "base/byte_order.h"
#include "base/file_handle.h"
#include "base/work_directory.h"

namespace stampwright {
namespace {

// Owns an open state file and closes it through the same StateFileIo on every way out.
class OpenFile {
 public:
  OpenFile(StateFileIo& io, std::FILE* file) : io_(io), file_(file) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (file_ != nullptr) io_.Close(file_);
  }

  std::FILE* get() const { return file_; }
  bool Close() {
    std::FILE* file = file_;
    file_ = nullptr;
    return io_.Close(file) == 0;
  }

 private:
  StateFileIo& io_;
  std::FILE* file_;
};

// The length of the well-formed UTF-8 sequence at text[at] (shortest form, no surrogate, at
// most U+10FFFF) and its code point; 0 when the bytes there are not one.
size_t Utf8Sequence(const std::string& text, size_t at, uint32_t* code_point) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t value = 0;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(at + i) & 0x3F);
  }
  constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code_point = value;
  return length;
}

// A file name that a shell, a file manager and a terminal show as it is: control characters
// (C0, DEL, C1) and bytes that are not UTF-8 become "_", one per byte.
std::string PrintableFileName(const std::string& name) {
  std::string out;
  for (size_t at = 0; at < name.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8Sequence(name, at, &code_point);
    const bool control = code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
    if (length == 0 || control) {
      out += '_';
      at += length == 0 ? 1 : length;
    } else {
      out.append(name, at, length);
      at += length;
    }
  }
  return out;
}

}  // namespace

bool IsSafeProductName(const std::string& product_name) {
  return !product_name.empty() && product_name != "." && product_name != ".." &&
         product_name.find('/') == std::string::npos;
}

std::string StateFileName(const std::string& product_name) {
  return (IsSafeProductName(product_name) ? PrintableFileName(product_name)
                                           : std::string(kDefaultProductName)) +
         kStateFileSuffix;
}

std::string StateFileTempName(const std::string& state_file_name) {
  return state_file_name + ".tmp";
}

std::FILE* StateFileIo::Open(const char* name, const char* mode) { return std::fopen(name, mode); }

size_t StateFileIo::Write(const void* data, size_t size, size_t count, std::FILE* file) {
  return std::fwrite(data, size, count, file);
}

int StateFileIo::Sync(std::FILE* file) {
  if (std::fflush(file) != 0) return EOF;
  return ::fsync(::fileno(file));
}

int StateFileIo::Close(std::FILE* file) { return std::fclose(file); }

int StateFileIo::Rename(const char* from, const char* to) { return std::rename(from, to); }

int StateFileIo::Remove(const char* name) { return std::remove(name); }

bool WriteStateFile(const std::string& product_name, int32_t current_adapter,
                    const DeviceSummaries& summaries, const std::array<uint32_t, 2>& words,
                    StateFileIo& io, const std::string& directory) {
  // Built before the file is created, so nothing can fail between create and close but I/O.
  std::vector<uint8_t> block(kDeviceSummaryArraySize);
  for (size_t i = 0; i < summaries.size(); ++i) summaries[i].WriteTo(&block[i * kDeviceSummarySize]);

  const std::string name = InDirectory(directory, StateFileName(product_name));
  const std::string temp_name = StateFileTempName(name);
  OpenFile file(io, io.Open(temp_name.c_str(), "wb"));
  if (file.get() == nullptr) return false;

  const auto write_word = [&](uint32_t value) {
    uint8_t bytes[4];
    StoreLe32(bytes, value);
    return io.Write(bytes, sizeof bytes, 1, file.get()) == 1;
  };
  const bool written = write_word(static_cast<uint32_t>(kStateFileVersion)) &&
                       write_word(static_cast<uint32_t>(current_adapter)) &&
                       io.Write(block.data(), block.size(), 1, file.get()) == 1 &&
                       write_word(0) &&  // no device names follow
                       write_word(words[0]) && write_word(words[1]);
  // Synced before the rename: a crash after it must not leave a name pointing at lost data. A
  // close that fails has lost buffered bytes too.
  const bool synced = written && io.Sync(file.get()) == 0;
  if (file.Close() && synced && io.Rename(temp_name.c_str(), name.c_str()) == 0) return true;
  io.Remove(temp_name.c_str());
  return false;
}

bool WriteStateFile(const std::string& product_name, int32_t current_adapter,
                    const DeviceSummaries& summaries, const Preferences& preferences,
                    const std::string& directory) {
  StateFileIo io;
  return WriteStateFile(product_name, current_adapter, summaries, preferences.StateFileWords, io,
                        directory);
}

std::optional<StateFileContents> ReadStateFile(const std::string& path, std::string* error) {
  const auto fail = [error](std::string why) -> std::optional<StateFileContents> {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  const FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return fail(path + ": " + std::strerror(errno));

  // One byte more than a state file holds tells a longer file from an exact one.
  std::vector<uint8_t> bytes(kStateFileSize + 1);
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) return fail(path + ": read error");
  if (got != kStateFileSize) {
    return fail(path + ": " + (got > kStateFileSize ? "more than " + std::to_string(kStateFileSize)
                                                    : std::to_string(got)) +
                " bytes, a state file has " + std::to_string(kStateFileSize));
  }

  StateFileContents contents;
  contents.StateFileVersion = static_cast<int32_t>(LoadLe32(&bytes[0]));
  contents.CurrentAdapter = static_cast<int32_t>(LoadLe32(&bytes[4]));
  for (size_t i = 0; i < contents.Summaries.size(); ++i) {
    contents.Summaries[i] =
        DeviceSummary::ReadFrom(&bytes[kStateSummariesOffset + i * kDeviceSummarySize]);
  }
  contents.NameCount = static_cast<int32_t>(LoadLe32(&bytes[kStateNameCountOffset]));
  contents.Words = {LoadLe32(&bytes[kStateWordsOffset]), LoadLe32(&bytes[kStateWordsOffset + 4])};
  return contents;
}

}  // namespace stampwright
