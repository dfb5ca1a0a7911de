#include "base/text.h"

#include <cstdarg>
#include <cstdio>

namespace stampwright {

std::string FormatText(const char* format, ...) {
  char buffer[kTextBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string HexBytes(const unsigned char* bytes, size_t count, const char* separator) {
  std::string out;
  char pair[3];
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out += separator;
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    out += pair;
  }
  return out;
}

}  // namespace stampwright
