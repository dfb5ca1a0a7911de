#include "base/work_directory.h"

namespace stampwright {

std::string InDirectory(const std::string& directory, const std::string& name) {
  if (directory.empty() || name.empty() || name.front() == '/') return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

}  // namespace stampwright
