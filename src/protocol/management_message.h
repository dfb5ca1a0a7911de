#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/mac_address.h"

namespace stampwright {

// HomePlug AV vendor-specific management messages in raw Ethernet frames.
inline constexpr uint16_t kEtherTypeHomePlugAv = 0x88E1;

// Request MMTYPEs end in binary 00, their confirmations in 01 (request + 1).
inline constexpr uint16_t kVsVerQueryReq = 0xA000;
inline constexpr uint16_t kVsVerQueryCnf = 0xA001;
inline constexpr uint16_t kVsWrModReq = 0xA020;
inline constexpr uint16_t kVsWrModCnf = 0xA021;
inline constexpr uint16_t kVsRdModReq = 0xA024;
inline constexpr uint16_t kVsRdModCnf = 0xA025;
inline constexpr uint16_t kVsModCommitReq = 0xA028;
inline constexpr uint16_t kVsModCommitCnf = 0xA029;

inline constexpr uint16_t kModuleIdParameter = 2;
inline constexpr uint16_t kModuleIdFirmware = 1;

// The frame buffer every builder fills, and the lengths the builders hand to SendFrame.
inline constexpr size_t kManagementMessageSize = 1510;
inline constexpr uint16_t kVersionQueryLength = 1510;
inline constexpr uint16_t kReadModuleLength = 1496;
inline constexpr uint16_t kWriteModuleLength = 1070;
inline constexpr uint16_t kModuleCommitLength = 35;
// Module data per VS_WR_MOD / VS_RD_MOD chunk.
inline constexpr size_t kChunkSize = 1024;

using ManagementMessage = std::array<uint8_t, kManagementMessageSize>;
static_assert(sizeof(ManagementMessage) == 1510);

// The common header, offsets from the first byte of the frame (no VLAN tag).
inline constexpr size_t kDestinationMacOffset = 0;
inline constexpr size_t kSourceMacOffset = 6;
inline constexpr size_t kEtherTypeOffset = 12;
inline constexpr size_t kMmvOffset = 14;
inline constexpr size_t kMmTypeOffset = 15;
inline constexpr size_t kVendorOuiOffset = 17;
inline constexpr size_t kMessageHeaderSize = 20;

// Request payload fields.
inline constexpr size_t kModuleIdOffset = 20;
inline constexpr size_t kChunkLengthOffset = 22;
inline constexpr size_t kChunkOffsetOffset = 24;
inline constexpr size_t kChunkChecksumOffset = 28;
inline constexpr size_t kChunkDataOffset = 32;
inline constexpr size_t kWriteTrailerOffset = kChunkDataOffset + kChunkSize;  // 1056
inline constexpr size_t kWriteTrailerSize = 14;
static_assert(kWriteTrailerOffset + kWriteTrailerSize == kWriteModuleLength);

using Oui = std::array<uint8_t, 3>;

// The IEEE OUI that units of this chip family expect in vendor-specific messages. The value in
// use travels in MessageContext, so a station or simulator can be pointed at another family.
inline constexpr Oui kDefaultVendorOui = {0x00, 0xB0, 0x52};

// "XX:XX:XX", "XX-XX-XX" or six bare hex digits.
std::optional<Oui> ParseOui(std::string_view text);
// "XX:XX:XX", upper case.
std::string FormatOui(const Oui& oui);

// Zero-fills all 1510 bytes, then writes destination (0), source (6) and the ethertype (12).
void BuildMessageHeader(ManagementMessage& frame, const MacAddress& source,
                        const MacAddress& destination);

// Writes MMV 0, the MMTYPE little-endian and the OUI: what every message has after its header.
void WriteMessageType(uint8_t* frame, uint16_t mmtype, const Oui& oui);

// "VS_RD_MOD.REQ", "VS_VER_QUERY.CNF", ...; nullptr for a type this system does not speak.
const char* MessageTypeName(uint16_t mmtype);

// Every access to a received frame goes through this: a read past the frame's length yields
// nothing instead of a neighbour's bytes.
class FrameReader {
 public:
  FrameReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t size() const { return size_; }
  bool Has(size_t offset, size_t width) const { return offset <= size_ && width <= size_ - offset; }
  std::optional<uint8_t> U8(size_t offset) const;
  std::optional<uint16_t> Le16(size_t offset) const;
  std::optional<uint16_t> Be16(size_t offset) const;
  std::optional<uint32_t> Le32(size_t offset) const;
  std::optional<MacAddress> Mac(size_t offset) const;
  // Empty when the span does not lie wholly inside the frame.
  std::span<const uint8_t> Bytes(size_t offset, size_t width) const;

 private:
  const uint8_t* data_;
  size_t size_;
};

// The header of a received management message, or nothing when the frame is too short for one
// or carries another ethertype.
struct MessageHeader {
  MacAddress destination;
  MacAddress source;
  uint16_t mmtype = 0;
  Oui oui{};
};
std::optional<MessageHeader> ReadMessageHeader(const FrameReader& frame);

}  // namespace stampwright
