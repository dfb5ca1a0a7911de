#pragma once

#include <string>

namespace stampwright {

// This machine's host name, the name a station records its attempts under by default;
// "station" when the system has none to give.
std::string HostName();

}  // namespace stampwright
