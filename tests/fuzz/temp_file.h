#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "fuzz_input.h"

namespace stampwright::fuzz {

// One file in a private temporary directory, rewritten for every input and removed, with its
// directory, when the process ends normally.
class TempFile {
 public:
  explicit TempFile(const std::string& name) {
    std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-fuzz-XXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    dir_ = pattern;
    path_ = (dir_ / name).string();
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Replaces the file's contents with the pieces, in order.
  void Write(std::initializer_list<std::span<const uint8_t>> pieces) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    Require(file != nullptr, "open the temporary file");
    for (std::span<const uint8_t> piece : pieces) {
      Require(std::fwrite(piece.data(), 1, piece.size(), file) == piece.size(), "write");
    }
    Require(std::fclose(file) == 0, "close the temporary file");
  }

  const std::string& path() const { return path_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

}  // namespace stampwright::fuzz
