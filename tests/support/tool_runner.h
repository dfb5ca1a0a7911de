#pragma once

// Runs the built stampwright-tool as a child in a directory of the test's own and captures what
// it printed and how it ended.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace stampwright::tool_test {

namespace fs = std::filesystem;

struct ToolResult {
  int exit_code = -1;  // -1: the tool could not be started or did not exit by itself
  std::string out;
  std::string err;
};

// One shell word holding the argument as it is, quotes included.
inline std::string ShellQuote(const std::string& argument) {
  std::string quoted = "'";
  for (const char ch : argument) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return quoted + "'";
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether the output holds this text with a line end right after it.
inline bool Has(const std::string& text, const std::string& line) {
  return text.find(line + "\n") != std::string::npos;
}

// Runs the tool in `directory`, so that relative names resolve there. stdin_text, if given, is
// fed through a file, else stdin is /dev/null: the child never waits on a terminal. Its stderr
// goes through a file in the directory, its stdout through a pipe.
inline ToolResult RunTool(const fs::path& directory, const std::vector<std::string>& arguments,
                          const std::string* stdin_text = nullptr) {
  const fs::path err_path = directory / ".stderr";
  std::string command = "cd " + ShellQuote(directory.string()) + " && " +
                        ShellQuote(std::string(STAMPWRIGHT_BIN_DIR) + "/stampwright-tool");
  for (const std::string& argument : arguments) command += " " + ShellQuote(argument);
  if (stdin_text != nullptr) {
    const fs::path in_path = directory / ".stdin";
    std::ofstream(in_path, std::ios::binary) << *stdin_text;
    command += " <" + ShellQuote(in_path.string());
  } else {
    command += " </dev/null";
  }
  command += " 2>" + ShellQuote(err_path.string());

  ToolResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
  const int status = ::pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadFile(err_path);
  return result;
}

// A fresh directory for each test, removed afterwards; the tool runs in it.
class ToolDirectoryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "stampwright-tool-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  ToolResult Run(const std::vector<std::string>& arguments,
                 const std::string* stdin_text = nullptr) {
    return RunTool(dir_, arguments, stdin_text);
  }

  fs::path Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  fs::path Write(const std::string& name, const uint8_t* bytes, size_t size) {
    const fs::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    return path;
  }

  fs::path dir_;
};

}  // namespace stampwright::tool_test
