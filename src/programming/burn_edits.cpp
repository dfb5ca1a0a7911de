#include "programming/burn_edits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "base/hex.h"
#include "crypto/key_derivation.h"
#include "programming/carrier_table.h"

namespace stampwright {
namespace {

constexpr size_t kPasswordBufferSize = 65;
constexpr size_t kMacTextChars = 12;

// The text in a zeroed 65-byte buffer, as the derivations take it.
std::array<char, kPasswordBufferSize> PasswordBuffer(const std::string& text) {
  std::array<char, kPasswordBufferSize> buffer{};
  std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
  return buffer;
}

}  // namespace

int HexDigitValue(char c) {
  const int value = HexValue(c);
  return value >= 0 ? value : static_cast<unsigned char>(c);
}

MacAddress ParseBurnMacText(const std::string& mac_text) {
  std::array<char, kMacTextChars> digits{};
  std::memcpy(digits.data(), mac_text.data(), std::min(mac_text.size(), digits.size()));
  MacAddress mac;
  for (size_t i = 0; i < mac.octets.size(); ++i) {
    const int value = HexDigitValue(digits[2 * i]) * 16 + HexDigitValue(digits[2 * i + 1]);
    mac.octets[i] = static_cast<uint8_t>(value);
  }
  return mac;
}

BurnKeys ApplyBurnEdits(ParameterModule& module, ChipModel chip, const std::string& mac_text,
                        const std::string& grouped_password) {
  if (const CarrierTable* table = SelectCarrierTable(chip)) CopyCarrierTable(*table, module);

  // One hashing object for both keys, released on every way out.
  const auto context = std::make_unique<Sha256Context>();
  BurnKeys keys;

  const auto network_password = PasswordBuffer(kDefaultNetworkPassword);
  keys.nmk = KeyFromDigest(DeriveNmk(*context, network_password.data()));
  module.SetNetworkMembershipKey(keys.nmk);

  const std::string hashed = grouped_password.substr(0, kBurnPasswordChars);
  const auto device_password = PasswordBuffer(hashed);
  keys.dak = KeyFromDigest(DeriveDak(*context, device_password.data()));
  module.SetDeviceAccessKey(keys.dak);

  keys.mac = ParseBurnMacText(mac_text);
  module.SetMacAddress(keys.mac);

  keys.checksum = UpdateImageChecksum(module);
  return keys;
}

}  // namespace stampwright
