#include "base/host_name.h"

#include <unistd.h>

#include <array>

namespace stampwright {

std::string HostName() {
  std::array<char, 256> name{};
  // One byte kept back: a name that fills the buffer is not terminated by gethostname.
  if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "station";
  return name.data();
}

}  // namespace stampwright
