#pragma once

#include <string>

namespace stampwright {

// Texts shown to the operator are formatted into fixed 80-byte buffers: at most 79 characters.
constexpr size_t kTextBufferSize = 80;

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Upper-case hex pairs, e.g. HexBytes(key, 16, " ") -> "50 D3 E4 ...".
std::string HexBytes(const unsigned char* bytes, size_t count, const char* separator);

}  // namespace stampwright
