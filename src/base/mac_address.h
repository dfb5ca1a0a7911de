#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stampwright {

// Six bytes in wire order, first octet first.
struct MacAddress {
  std::array<uint8_t, 6> octets{};

  static constexpr MacAddress Broadcast() { return {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}; }
  static MacAddress FromBytes(const uint8_t* bytes);

  bool IsBroadcast() const { return *this == Broadcast(); }
  bool IsZero() const { return *this == MacAddress{}; }
  void CopyTo(uint8_t* bytes) const;

  // "%02X:%02X:%02X:%02X:%02X:%02X", as an answering unit is shown.
  std::string ToString() const;
  // Twelve upper-case hex digits, no separators, as the journal keeps a MAC.
  std::string ToDigits() const;
  // The 48-bit number the MAC spells, first octet most significant (lease ranges, claims).
  uint64_t ToNumber() const;

  // Accepts "AA:BB:CC:DD:EE:FF", "aa-bb-cc-dd-ee-ff" and twelve bare hex digits.
  static std::optional<MacAddress> Parse(std::string_view text);

  friend bool operator==(const MacAddress&, const MacAddress&) = default;
};

}  // namespace stampwright
