#include "programming/parameter_module.h"

#include <algorithm>

#include "base/byte_order.h"

namespace stampwright {
namespace {

constexpr uint8_t kShortChecksumFormat = 2;

static_assert(kModuleWords * 4 == kModuleSize);
static_assert(kModuleWordsFormat2 * 4 == 7820);
static_assert(kCarrierValuesOffset + kCarrierCount * 4 == 7196);
static_assert(kNetworkMembershipKeyOffset + kKeySize <= kCarrierValuesOffset);

Key LoadKey(const uint8_t* at) {
  Key key;
  std::copy_n(at, kKeySize, key.begin());
  return key;
}

}  // namespace

uint32_t ParameterModule::ImageChecksum() const { return LoadLe32(&bytes[kImageChecksumOffset]); }

void ParameterModule::SetImageChecksum(uint32_t value) {
  StoreLe32(&bytes[kImageChecksumOffset], value);
}

MacAddress ParameterModule::GetMacAddress() const {
  return MacAddress::FromBytes(&bytes[kMacAddressOffset]);
}

void ParameterModule::SetMacAddress(const MacAddress& mac) { mac.CopyTo(&bytes[kMacAddressOffset]); }

Key ParameterModule::GetDeviceAccessKey() const { return LoadKey(&bytes[kDeviceAccessKeyOffset]); }

void ParameterModule::SetDeviceAccessKey(const Key& key) {
  std::copy(key.begin(), key.end(), &bytes[kDeviceAccessKeyOffset]);
}

Key ParameterModule::GetNetworkMembershipKey() const {
  return LoadKey(&bytes[kNetworkMembershipKeyOffset]);
}

void ParameterModule::SetNetworkMembershipKey(const Key& key) {
  std::copy(key.begin(), key.end(), &bytes[kNetworkMembershipKeyOffset]);
}

// An index past the region reads 0 and writes nothing, so no caller can reach beyond the image.
uint32_t ParameterModule::CarrierValue(size_t index) const {
  if (index >= kCarrierCount) return 0;
  return LoadLe32(&bytes[kCarrierValuesOffset + 4 * index]);
}

void ParameterModule::SetCarrierValue(size_t index, uint32_t value) {
  if (index >= kCarrierCount) return;
  StoreLe32(&bytes[kCarrierValuesOffset + 4 * index], value);
}

uint32_t ModuleChecksum(const uint8_t* words, uint32_t count) {
  uint32_t accumulator = 0;
  for (uint32_t i = 0; i < count; ++i) accumulator ^= LoadLe32(words + 4 * static_cast<size_t>(i));
  return ~accumulator;
}

uint32_t ImageChecksumWords(const ParameterModule& module) {
  // Only the first byte counts, not the 32-bit word at offset 0.
  return module.FormatVersion() == kShortChecksumFormat ? kModuleWordsFormat2 : kModuleWords;
}

uint32_t UpdateImageChecksum(ParameterModule& module) {
  module.SetImageChecksum(0);
  const uint32_t checksum = ModuleChecksum(module.bytes.data(), ImageChecksumWords(module));
  module.SetImageChecksum(checksum);
  return checksum;
}

uint32_t ExpectedImageChecksum(const ParameterModule& module) {
  // XOR: taking the stored field back out equals computing with the field at zero. The field
  // lies inside both coverages, so this holds for every format.
  const uint32_t with_field = ~ModuleChecksum(module.bytes.data(), ImageChecksumWords(module));
  return ~(with_field ^ module.ImageChecksum());
}

}  // namespace stampwright
