#include "base/mac_address.h"

#include <cstdio>
#include <cstring>

#include "base/hex.h"

namespace stampwright {

MacAddress MacAddress::FromBytes(const uint8_t* bytes) {
  MacAddress mac;
  std::memcpy(mac.octets.data(), bytes, mac.octets.size());
  return mac;
}

void MacAddress::CopyTo(uint8_t* bytes) const { std::memcpy(bytes, octets.data(), octets.size()); }

std::string MacAddress::ToString() const {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", octets[0], octets[1], octets[2],
                octets[3], octets[4], octets[5]);
  return text;
}

std::string MacAddress::ToDigits() const {
  char text[13];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", octets[0], octets[1], octets[2],
                octets[3], octets[4], octets[5]);
  return text;
}

uint64_t MacAddress::ToNumber() const {
  uint64_t value = 0;
  for (const uint8_t octet : octets) value = value << 8 | octet;
  return value;
}

std::optional<MacAddress> MacAddress::Parse(std::string_view text) {
  const bool separated = text.size() == 17;
  if (!separated && text.size() != 12) return std::nullopt;
  const size_t stride = separated ? 3 : 2;
  MacAddress mac;
  for (size_t i = 0; i < 6; ++i) {
    const size_t at = i * stride;
    if (separated && i > 0 && text[at - 1] != ':' && text[at - 1] != '-') return std::nullopt;
    const int high = HexValue(text[at]);
    const int low = HexValue(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    mac.octets[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return mac;
}

}  // namespace stampwright
