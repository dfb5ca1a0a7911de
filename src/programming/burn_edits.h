#pragma once

#include <cstdint>
#include <string>

#include "base/mac_address.h"
#include "programming/carrier_table.h"
#include "programming/parameter_module.h"

namespace stampwright {

constexpr const char* kDefaultNetworkPassword = "DefaultNPW";
// Of the password field, only the grouped password's 19 characters are hashed.
constexpr size_t kBurnPasswordChars = 19;

// What a burn wrote into the image besides the carrier table.
struct BurnKeys {
  Key nmk{};
  Key dak{};
  MacAddress mac;
  uint32_t checksum = 0;
};

// A hexadecimal digit's value; any other character gives its own character code.
int HexDigitValue(char c);

// The first 12 characters of mac_text as 6 bytes, two characters each through HexDigitValue,
// kept to 8 bits. Missing characters count as NUL.
MacAddress ParseBurnMacText(const std::string& mac_text);

// The burn's edits of the image, in the burn's order: the chip model's carrier table (none
// leaves the region as read), the NMK of the default network password at offset 100, the DAK
// of the first 19 characters of grouped_password at offset 18, the MAC of mac_text at offset 12,
// then the image checksum. Both keys are derived in one heap hashing context, released on return.
BurnKeys ApplyBurnEdits(ParameterModule& module, ChipModel chip, const std::string& mac_text,
                        const std::string& grouped_password);

}  // namespace stampwright
