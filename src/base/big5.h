#pragma once

#include <string>
#include <string_view>

namespace stampwright {

// Converts Big5 (code page 950) text to UTF-8 for display; ASCII passes through unchanged.
// Bytes that do not convert become U+FFFD.
std::string Big5ToUtf8(std::string_view big5);

// True when the text holds bytes above 0x7F, i.e. is not plain ASCII.
bool HasNonAscii(std::string_view text);

}  // namespace stampwright
