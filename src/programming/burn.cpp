#include "programming/burn.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "app/station.h"
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
constexpr size_t kGroupedPasswordChars = 19;

ChipModel SelectedChipModel(const Page& page) {
  if (page.IsChecked(kPx300Radio)) return ChipModel::kPx300;
  if (page.IsChecked(kPx100Radio)) return ChipModel::kPx100;
  return ChipModel::kNone;
}

Key KeyOf(const Sha256Context& context) {
  Key key;
  std::memcpy(key.data(), context.digest.data(), key.size());
  return key;
}

// The text in a zeroed 65-byte buffer, as the derivations take it.
std::array<char, kPasswordBufferSize> PasswordBuffer(const std::string& text) {
  std::array<char, kPasswordBufferSize> buffer{};
  std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
  return buffer;
}

MacAddress ParseMacText(const std::string& text) {
  std::array<char, 12> digits{};
  std::memcpy(digits.data(), text.data(), std::min(text.size(), digits.size()));
  MacAddress mac;
  for (size_t i = 0; i < 6; ++i) {
    const int value = HexDigitValue(digits[2 * i]) * 16 + HexDigitValue(digits[2 * i + 1]);
    mac.octets[i] = static_cast<uint8_t>(value);
  }
  return mac;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return static_cast<unsigned char>(c);
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
  ParameterModule& module = station.module;

  if (const CarrierTable* table = SelectCarrierTable(SelectedChipModel(page))) {
    CopyCarrierTable(*table, module);
  }

  // One hashing object for both keys, released on every way out.
  const auto context = std::make_unique<Sha256Context>();

  const auto network_password = PasswordBuffer(kDefaultNetworkPassword);
  DeriveNmk(*context, network_password.data());
  const Key nmk = KeyOf(*context);
  page.SetText(kNmkField, HexBytes(nmk.data(), nmk.size(), " "));
  module.SetNetworkMembershipKey(nmk);

  std::string grouped = page.GetText(kPasswordField, kControlTextChars);
  if (grouped.size() > kGroupedPasswordChars) grouped.resize(kGroupedPasswordChars);
  const auto device_password = PasswordBuffer(grouped);
  DeriveDak(*context, device_password.data());
  const Key dak = KeyOf(*context);
  page.SetText(kDakField, HexBytes(dak.data(), dak.size(), ""));
  module.SetDeviceAccessKey(dak);

  const MacAddress mac = ParseMacText(page.GetText(kMacField, kControlTextChars));
  station.BurnedMac = mac;
  module.SetMacAddress(mac);

  const uint32_t checksum = UpdateImageChecksum(module);
  page.SetText(kStatusLine, FormatText("checksum: %08x", checksum));

  TransferRegisters& registers = station.registers;
  MessageContext messages = station.Messages();
  const int adapter = station.adapters.CurrentAdapter;
  constexpr auto kTotal = static_cast<uint32_t>(kModuleSize);
  StallCounter stalls;
  registers.WriteTransferOffset = 0;
  do {
    const uint32_t offset = registers.WriteTransferOffset;
    SendWriteModule(messages, adapter, offset, ChunkLength(kTotal, offset), kModuleIdParameter,
                    module);
    station.clock.Sleep(2);
    WaitForResponses(station, adapter, 50);
    if (stalls.GiveUp(offset, registers.WriteTransferOffset)) break;
  } while (registers.WriteTransferOffset < kTotal);

  page.SetText(kStatusLine, FormatText("Write Module - offset: %d",
                                       static_cast<int>(registers.WriteTransferOffset)));
  if (registers.WriteTransferOffset == kTotal) {
    page.SetText(kStatusLine, "Write Module - OK");
    CommitModule(station, kModuleIdParameter);
  }
  station.clock.Sleep(kBurnSettleMs);
}

}  // namespace stampwright
