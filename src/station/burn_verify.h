#pragma once

#include <cstddef>
#include <optional>

namespace stampwright {

struct ParameterModule;

// Where a module read back from a unit first differs from the one written to it, within the
// fields a burn writes.
struct BurnedFieldDifference {
  size_t offset = 0;          // image offset of the first differing byte
  const char* field = "";     // "MacAddress", "DeviceAccessKey", "NetworkMembershipKey", "CarrierValues"
};

// Compares the MAC, DAK, NMK and carrier table of the two images; the lowest differing offset,
// or nothing when all four agree.
std::optional<BurnedFieldDifference> FirstBurnedFieldDifference(const ParameterModule& written,
                                                                const ParameterModule& read_back);

// How many bytes outside those four fields differ between the two images: what the unit changed
// on its own. The image checksum counts like any other byte: the burn stores the checksum of the
// image it writes, so it differs only when the unit stored another one.
size_t CountOtherDifferingBytes(const ParameterModule& written, const ParameterModule& read_back);

}  // namespace stampwright
