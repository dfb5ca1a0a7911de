#include "base/big5.h"

#include <iconv.h>

#include <cerrno>

namespace stampwright {

bool HasNonAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 0x7F) return true;
  }
  return false;
}

std::string Big5ToUtf8(std::string_view big5) {
  if (!HasNonAscii(big5)) return std::string(big5);
  iconv_t cd = iconv_open("UTF-8", "BIG5");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(big5);
  std::string out;
  char buffer[256];
  char* in = const_cast<char*>(big5.data());
  size_t in_left = big5.size();
  while (in_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    const size_t rc = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      out += "\xEF\xBF\xBD";  // skip one undecodable byte
      ++in;
      --in_left;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace stampwright
