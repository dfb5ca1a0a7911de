#include "protocol/dispatcher.h"

#include <algorithm>
#include <cstring>

#include "app/scan_cycle.h"
#include "app/station.h"
#include "base/byte_order.h"
#include "base/text.h"
#include "protocol/management_message.h"
#include "resources/controls.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

constexpr const char* kWriteCaption = "VS_WR_MOD::eMMTypeReq";
constexpr const char* kReadCaption = "VS_RD_MOD::eMMTypeReq";

// The smallest frame that carries each confirmation's fixed fields; shorter ones are not acted on.
constexpr size_t kVersionMinLength = kVersionTextOffset + 1;
constexpr size_t kWriteMinLength = kWriteOffsetOffset + 4;
constexpr size_t kReadMinLength = kReadDataOffset;
constexpr size_t kCommitMinLength = kCommitStatusOffset + 1;
constexpr size_t kHeaderLength = 17;  // through MMTYPE

struct Frame {
  const uint8_t* bytes;
  size_t length;

  MacAddress Destination() const { return MacAddress::FromBytes(bytes); }
  MacAddress Source() const { return MacAddress::FromBytes(bytes + 6); }
  uint16_t MmType() const { return LoadLe16(bytes + 15); }
};

// The version text up to its NUL, at most 79 characters, never past the end of the frame.
std::string TakeVersionText(const Frame& frame) {
  char text[kVersionTextBufferSize] = {};
  const size_t available = frame.length - kVersionTextOffset;
  const size_t limit = std::min(available, kVersionTextBufferSize - 1);
  size_t n = 0;
  while (n < limit && frame.bytes[kVersionTextOffset + n] != 0) {
    text[n] = static_cast<char>(frame.bytes[kVersionTextOffset + n]);
    ++n;
  }
  return std::string(text, n);
}

void HandleVersionConfirmation(Station& station, int a, const Frame& frame) {
  if (frame.length < kVersionMinLength) return;
  AdapterRecord& record = station.adapters.records[a];
  DeviceSummary& summary = station.summaries[a];

  station.adapters.CurrentAdapter = a;
  record.DevicePresent = 1;
  summary.Present = 1;
  NoteAwaitedAccepted(station);

  const MacAddress destination = frame.Destination();
  const MacAddress source = frame.Source();
  if (summary.AdapterMac != destination) return;
  if (source == destination) return;
  if (station.VersionAnswered[a] != 0) return;

  record.DeviceMac = source;
  summary.DeviceMac = source;

  const uint8_t chip_type = frame.bytes[kVersionChipTypeOffset];
  if (chip_type == kChipTypePx300) {
    station.page.SetText(kChipModelField, "PX300");
  } else if (chip_type == kChipTypePx100) {
    station.page.SetText(kChipModelField, "PX100");
  }

  const std::string version = TakeVersionText(frame);
  std::memset(record.FirmwareVersion, 0, sizeof record.FirmwareVersion);
  std::memcpy(record.FirmwareVersion, version.data(), version.size());
  station.page.SetText(kFirmwareVersionField, version);

  if (station.CommitConfirmed == 1 && station.AutoReadDone != 0 && source == station.BurnedMac) {
    station.page.SetText(kStatusLine, "Success");
    station.CommitConfirmed = 0;
  }

  // May run the automatic module read, whose waits dispatch nested on this same adapter.
  RefreshConnection(station);

  station.VersionAnswered[a] += 1;
  station.page.SetText(kMacField, source.ToString());
}

void HandleWriteConfirmation(Station& station, const Frame& frame) {
  if (frame.length < kWriteMinLength) return;
  TransferRegisters& registers = station.registers;
  const uint8_t status = frame.bytes[kWriteStatusOffset];
  const uint16_t length = LoadLe16(frame.bytes + kWriteLengthOffset);
  const uint32_t offset = LoadLe32(frame.bytes + kWriteOffsetOffset);
  if (offset != registers.WriteTransferOffset) {
    station.page.MessageBox("Write Module response offset not match", kWriteCaption, kMbOk);
    return;
  }
  if (status != 0) {
    station.page.MessageBox("Write Module response failed", kWriteCaption, kMbOk);
    return;
  }
  station.page.SetText(kStatusLine, FormatText("Write Module - offset: %d",
                                               static_cast<int>(registers.WriteTransferOffset)));
  registers.WriteTransferOffset += length;
  NoteAwaitedAccepted(station);
}

void HandleReadConfirmation(Station& station, const Frame& frame) {
  if (frame.length < kReadMinLength) return;
  TransferRegisters& registers = station.registers;
  const uint8_t status = frame.bytes[kReadStatusOffset];
  const uint16_t length = LoadLe16(frame.bytes + kReadLengthOffset);
  const uint32_t offset = LoadLe32(frame.bytes + kReadOffsetOffset);
  // The unit is trusted with the offset and status, not with the bounds of our buffers.
  const bool fits_frame = kReadDataOffset + size_t{length} <= frame.length;
  const bool fits_image = size_t{offset} + length <= kModuleSize;
  if (offset != registers.ReadTransferOffset || status != 0 || !fits_frame || !fits_image) {
    station.page.MessageBox("Read Module response failed", kReadCaption, kMbOk);
    return;
  }
  station.page.SetText(kStatusLine,
                       FormatText("response Read Module (%x) - offset: %d",
                                  registers.PendingRequestType, static_cast<int>(offset)));
  std::memcpy(station.module.bytes.data() + offset, frame.bytes + kReadDataOffset, length);
  registers.ReadTransferOffset += length;
  NoteAwaitedAccepted(station);
}

void HandleCommitConfirmation(Station& station, const Frame& frame) {
  if (frame.length < kCommitMinLength) return;
  const uint8_t status = frame.bytes[kCommitStatusOffset];
  if (status != kCommitStatusAccepted && status != kCommitStatusAcceptedAlt) return;
  station.CommitConfirmed = 1;
  station.page.SetText(kStatusLine, "Waiting...");
  NoteAwaitedAccepted(station);
}

}  // namespace

ReceivePacket* DispatchConfirmation(Station& station, int adapter) {
  ReceivePacket* packet = TakeReceivedFrame(station.adapters, station.summaries, adapter);
  if (packet == nullptr) return nullptr;
  const Frame frame{packet->frame, std::min<size_t>(packet->length, sizeof packet->frame)};
  if (frame.length < kHeaderLength) return packet;
  if (LoadBe16(frame.bytes + 12) != kEtherTypeHomePlugAv) return packet;
  if (frame.Destination().IsBroadcast()) return packet;

  const uint16_t mmtype = frame.MmType();
  switch (station.registers.PendingRequestType) {
    case kVsVerQueryReq:
      if (mmtype == kVsVerQueryCnf) HandleVersionConfirmation(station, adapter, frame);
      break;
    case kVsWrModReq:
      if (mmtype == kVsWrModCnf) HandleWriteConfirmation(station, frame);
      break;
    case kVsRdModReq:
      if (mmtype == kVsRdModCnf) HandleReadConfirmation(station, frame);
      break;
    case kVsModCommitReq:
      if (mmtype == kVsModCommitCnf) HandleCommitConfirmation(station, frame);
      break;
    default:
      break;
  }
  return packet;
}

}  // namespace stampwright
