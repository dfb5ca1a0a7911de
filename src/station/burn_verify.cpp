#include "station/burn_verify.h"

#include <array>

#include "programming/parameter_module.h"

namespace stampwright {
namespace {

struct BurnedField {
  size_t offset;
  size_t width;
  const char* name;
};

// In image order, so the first difference found is the lowest offset.
constexpr std::array<BurnedField, 4> kBurnedFields = {{
    {kMacAddressOffset, 6, "MacAddress"},
    {kDeviceAccessKeyOffset, kKeySize, "DeviceAccessKey"},
    {kNetworkMembershipKeyOffset, kKeySize, "NetworkMembershipKey"},
    {kCarrierValuesOffset, 4 * kCarrierCount, "CarrierValues"},
}};
static_assert(kCarrierValuesOffset + 4 * kCarrierCount <= kModuleSize);

// CountOtherDifferingBytes subtracts each field's differences once: the fields must not overlap.
constexpr bool InOrderAndDisjoint() {
  for (size_t k = 1; k < kBurnedFields.size(); ++k) {
    if (kBurnedFields[k - 1].offset + kBurnedFields[k - 1].width > kBurnedFields[k].offset) return false;
  }
  return true;
}
static_assert(InOrderAndDisjoint());

}  // namespace

std::optional<BurnedFieldDifference> FirstBurnedFieldDifference(const ParameterModule& written,
                                                                const ParameterModule& read_back) {
  for (const BurnedField& field : kBurnedFields) {
    for (size_t i = field.offset; i < field.offset + field.width; ++i) {
      if (written.bytes[i] != read_back.bytes[i]) return BurnedFieldDifference{i, field.name};
    }
  }
  return std::nullopt;
}

size_t CountOtherDifferingBytes(const ParameterModule& written, const ParameterModule& read_back) {
  size_t count = 0;
  for (size_t i = 0; i < kModuleSize; ++i) count += written.bytes[i] != read_back.bytes[i];
  for (const BurnedField& field : kBurnedFields) {
    for (size_t i = field.offset; i < field.offset + field.width; ++i) {
      count -= written.bytes[i] != read_back.bytes[i];
    }
  }
  return count;
}

}  // namespace stampwright
