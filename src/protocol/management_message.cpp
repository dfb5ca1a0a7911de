#include "protocol/management_message.h"

#include <cstdio>

#include "base/byte_order.h"
#include "base/hex.h"

namespace stampwright {
namespace {

struct MessageTypeEntry {
  uint16_t mmtype;
  const char* name;
};

constexpr std::array<MessageTypeEntry, 8> kMessageTypes = {{
    {kVsVerQueryReq, "VS_VER_QUERY.REQ"},
    {kVsVerQueryCnf, "VS_VER_QUERY.CNF"},
    {kVsWrModReq, "VS_WR_MOD.REQ"},
    {kVsWrModCnf, "VS_WR_MOD.CNF"},
    {kVsRdModReq, "VS_RD_MOD.REQ"},
    {kVsRdModCnf, "VS_RD_MOD.CNF"},
    {kVsModCommitReq, "VS_MOD_COMMIT.REQ"},
    {kVsModCommitCnf, "VS_MOD_COMMIT.CNF"},
}};

}  // namespace

std::optional<Oui> ParseOui(std::string_view text) {
  const bool separated = text.size() == 8;
  if (!separated && text.size() != 6) return std::nullopt;
  const size_t stride = separated ? 3 : 2;
  Oui oui{};
  for (size_t i = 0; i < oui.size(); ++i) {
    const size_t at = i * stride;
    if (separated && i > 0 && text[at - 1] != ':' && text[at - 1] != '-') return std::nullopt;
    const int high = HexValue(text[at]);
    const int low = HexValue(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    oui[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return oui;
}

std::string FormatOui(const Oui& oui) {
  char text[9];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X", oui[0], oui[1], oui[2]);
  return text;
}

void BuildMessageHeader(ManagementMessage& frame, const MacAddress& source,
                        const MacAddress& destination) {
  frame.fill(0);
  destination.CopyTo(frame.data() + kDestinationMacOffset);
  source.CopyTo(frame.data() + kSourceMacOffset);
  StoreBe16(frame.data() + kEtherTypeOffset, kEtherTypeHomePlugAv);
}

void WriteMessageType(uint8_t* frame, uint16_t mmtype, const Oui& oui) {
  frame[kMmvOffset] = 0;
  StoreLe16(frame + kMmTypeOffset, mmtype);
  for (size_t i = 0; i < oui.size(); ++i) frame[kVendorOuiOffset + i] = oui[i];
}

const char* MessageTypeName(uint16_t mmtype) {
  for (const MessageTypeEntry& entry : kMessageTypes) {
    if (entry.mmtype == mmtype) return entry.name;
  }
  return nullptr;
}

std::optional<uint8_t> FrameReader::U8(size_t offset) const {
  if (!Has(offset, 1)) return std::nullopt;
  return data_[offset];
}

std::optional<uint16_t> FrameReader::Le16(size_t offset) const {
  if (!Has(offset, 2)) return std::nullopt;
  return LoadLe16(data_ + offset);
}

std::optional<uint16_t> FrameReader::Be16(size_t offset) const {
  if (!Has(offset, 2)) return std::nullopt;
  return LoadBe16(data_ + offset);
}

std::optional<uint32_t> FrameReader::Le32(size_t offset) const {
  if (!Has(offset, 4)) return std::nullopt;
  return LoadLe32(data_ + offset);
}

std::optional<MacAddress> FrameReader::Mac(size_t offset) const {
  if (!Has(offset, 6)) return std::nullopt;
  return MacAddress::FromBytes(data_ + offset);
}

std::span<const uint8_t> FrameReader::Bytes(size_t offset, size_t width) const {
  if (!Has(offset, width)) return {};
  return {data_ + offset, width};
}

std::optional<MessageHeader> ReadMessageHeader(const FrameReader& frame) {
  if (!frame.Has(0, kMessageHeaderSize)) return std::nullopt;
  if (frame.Be16(kEtherTypeOffset) != kEtherTypeHomePlugAv) return std::nullopt;
  MessageHeader header;
  header.destination = *frame.Mac(kDestinationMacOffset);
  header.source = *frame.Mac(kSourceMacOffset);
  header.mmtype = *frame.Le16(kMmTypeOffset);
  const std::span<const uint8_t> oui = frame.Bytes(kVendorOuiOffset, header.oui.size());
  for (size_t i = 0; i < header.oui.size(); ++i) header.oui[i] = oui[i];
  return header;
}

}  // namespace stampwright
