#include "programming/burn.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "app/station.h"
#include "base/hex.h"
#include "base/text.h"
#include "crypto/key_derivation.h"
#include "programming/carrier_table.h"
#include "programming/chunk_loop.h"
#include "protocol/requests.h"
#include "protocol/station_wait.h"
#include "resources/controls.h"

namespace stampwright {
namespace {

constexpr size_t kPasswordBufferSize = 65;
constexpr size_t kControlTextChars = 79;
constexpr size_t kMacTextChars = 12;

ChipModel SelectedChipModel(const Page& page) {
  if (page.IsChecked(kPx300Radio)) return ChipModel::kPx300;
  if (page.IsChecked(kPx100Radio)) return ChipModel::kPx100;
  return ChipModel::kNone;
}

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

bool CommitModule(Station& station, uint8_t module_id) {
  station.VersionAnswered.fill(0);
  MessageContext messages = station.Messages();
  const int adapter = station.adapters.CurrentAdapter;
  SendModuleCommit(messages, adapter, module_id);
  station.clock.Sleep(1);
  WaitForResponses(station, adapter, 50);
  station.clock.Sleep(1);
  return true;
}

void BurnDevice(Station& station) {
  Page& page = station.page;
  const ChipModel chip = SelectedChipModel(page);
  const std::string grouped = page.GetText(kPasswordField, kControlTextChars);
  const std::string mac_text = page.GetText(kMacField, kControlTextChars);
  const BurnKeys keys = ApplyBurnEdits(station.module, chip, mac_text, grouped);
  page.SetText(kNmkField, HexBytes(keys.nmk.data(), keys.nmk.size(), " "));
  page.SetText(kDakField, HexBytes(keys.dak.data(), keys.dak.size(), ""));
  station.BurnedMac = keys.mac;
  page.SetText(kStatusLine, FormatText("checksum: %08x", keys.checksum));

  TransferRegisters& registers = station.registers;
  constexpr auto kTotal = static_cast<uint32_t>(kModuleSize);
  const ParameterModule& module = station.module;
  RunChunkLoop(station, registers.WriteTransferOffset, kTotal, 2,
               [&module](MessageContext& messages, int adapter, uint32_t offset, uint32_t length) {
                 SendWriteModule(messages, adapter, offset, length, kModuleIdParameter, module);
               });

  page.SetText(kStatusLine, FormatText("Write Module - offset: %d",
                                       static_cast<int>(registers.WriteTransferOffset)));
  if (registers.WriteTransferOffset == kTotal) {
    page.SetText(kStatusLine, "Write Module - OK");
    CommitModule(station, kModuleIdParameter);
  }
  station.clock.Sleep(kBurnSettleMs);
}

}  // namespace stampwright
