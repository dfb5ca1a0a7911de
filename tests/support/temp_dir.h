#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace stampwright {

// Runs each test in a fresh temporary directory, because the settings files are relative names
// in the current directory; changes back and removes it afterwards.
class InTempDir : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

  static void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  static std::vector<uint8_t> ReadBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;

 private:
  std::filesystem::path previous_;
};

// A scratch directory that is also XDG_RUNTIME_DIR, so a station started here takes a
// single-instance lock of its own.
class InTempRuntimeDir : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) previous_runtime_ = previous;
    ASSERT_EQ(::mkdir("runtime", 0700), 0);
    ::setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
  }
  void TearDown() override {
    if (previous_runtime_.empty()) {
      ::unsetenv("XDG_RUNTIME_DIR");
    } else {
      ::setenv("XDG_RUNTIME_DIR", previous_runtime_.c_str(), 1);
    }
    InTempDir::TearDown();
  }

 private:
  std::string previous_runtime_;
};

}  // namespace stampwright
