#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace stampwright::fuzz {

// Takes the choices a target makes from the front of its input; past the end every read is 0,
// so a short input is still a valid one.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Le16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t Le32() { return uint32_t{Le16()} | uint32_t{Le16()} << 16; }

  // Up to n of the next bytes (fewer at the end).
  std::span<const uint8_t> Take(size_t n) {
    const size_t count = n < size_ - pos_ ? n : size_ - pos_;
    const std::span<const uint8_t> taken(data_ + pos_, count);
    pos_ += count;
    return taken;
  }
  std::span<const uint8_t> Rest() { return Take(size_ - pos_); }
  bool empty() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

inline std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A broken invariant is a finding: say which one, then crash so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline void Require(bool holds, const char* what) {
  if (!holds) Fail(what);
}

}  // namespace stampwright::fuzz
