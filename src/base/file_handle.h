#pragma once

#include <cstdio>
#include <memory>

namespace stampwright {

// Owns a FILE*: closed on every way out.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace stampwright
