#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stampwright {

FileHandle OpenRegularFile(const std::string& path, const char* mode, OpenResult* result) {
  OpenResult ignored;
  OpenResult& outcome = result != nullptr ? *result : ignored;
  outcome = OpenResult::kCannotOpen;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    outcome = OpenResult::kNotARegularFile;
    return nullptr;
  }
  FileHandle file(::fdopen(fd, mode));
  if (!file) {
    ::close(fd);
    return nullptr;
  }
  outcome = OpenResult::kOpened;
  return file;
}

}  // namespace stampwright
