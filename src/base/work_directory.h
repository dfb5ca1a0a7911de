#pragma once

#include <string>

namespace stampwright {

// name as the program opens it when its files live in directory (--workdir): a relative name is
// taken in directory, an absolute one stays as it is. An empty directory means the process's
// own working directory, so the name is used unchanged. Nothing is changed process-wide: a
// chdir would move every thread and every library at once.
std::string InDirectory(const std::string& directory, const std::string& name);

}  // namespace stampwright
