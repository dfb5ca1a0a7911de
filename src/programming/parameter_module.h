#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/mac_address.h"

namespace stampwright {

constexpr size_t kModuleSize = 7864;
constexpr uint32_t kModuleWords = 1966;         // the whole image
constexpr uint32_t kModuleWordsFormat2 = 1955;  // bytes 0..7819, when FormatVersion is 2
constexpr size_t kImageChecksumOffset = 8;
constexpr size_t kMacAddressOffset = 12;
constexpr size_t kDeviceAccessKeyOffset = 18;
constexpr size_t kNetworkMembershipKeyOffset = 100;
constexpr size_t kCarrierValuesOffset = 2576;
constexpr size_t kCarrierCount = 1155;
constexpr size_t kKeySize = 16;

using Key = std::array<uint8_t, kKeySize>;

// The unit's 7864-byte parameter image. Everything but the named fields is opaque and carried
// through unchanged; multi-byte fields are little-endian.
struct ParameterModule {
  std::array<uint8_t, kModuleSize> bytes{};

  uint8_t FormatVersion() const { return bytes[0]; }
  uint32_t ImageChecksum() const;
  void SetImageChecksum(uint32_t value);
  MacAddress GetMacAddress() const;
  void SetMacAddress(const MacAddress& mac);
  Key GetDeviceAccessKey() const;
  void SetDeviceAccessKey(const Key& key);
  Key GetNetworkMembershipKey() const;
  void SetNetworkMembershipKey(const Key& key);
  uint32_t CarrierValue(size_t index) const;
  void SetCarrierValue(size_t index, uint32_t value);
};
static_assert(sizeof(ParameterModule) == kModuleSize);

// XOR of count little-endian 32-bit words, complemented. A count of 0 gives 0xFFFFFFFF.
uint32_t ModuleChecksum(const uint8_t* words, uint32_t count);

// Number of words the image checksum covers: decided by byte 0 alone.
uint32_t ImageChecksumWords(const ParameterModule& module);

// Sets ImageChecksum to 0, computes the image checksum, stores it and returns it.
uint32_t UpdateImageChecksum(ParameterModule& module);

// The checksum the image should carry (computed with ImageChecksum taken as 0); the image is
// not changed.
uint32_t ExpectedImageChecksum(const ParameterModule& module);

}  // namespace stampwright
