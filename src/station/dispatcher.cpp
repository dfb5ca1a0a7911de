#include "station/dispatcher.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "station/attempts.h"
#include "station/scan_cycle.h"
#include "station/station.h"
#include "base/text.h"
#include "protocol/management_message.h"
#include "resources/controls.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

constexpr const char* kWriteCaption = "VS_WR_MOD::eMMTypeReq";
constexpr const char* kReadCaption = "VS_RD_MOD::eMMTypeReq";

// The version text up to its NUL, at most 79 characters, never past the end of the frame.
std::string TakeVersionText(const FrameReader& frame) {
  const std::span<const uint8_t> rest =
      frame.Bytes(kVersionTextOffset, frame.size() - kVersionTextOffset);
  const size_t limit = std::min(rest.size(), kVersionTextBufferSize - 1);
  size_t n = 0;
  while (n < limit && rest[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(rest.data()), n);
}

void HandleVersionConfirmation(Station& station, int a, const MessageHeader& header,
                               const FrameReader& frame) {
  AdapterRecord& record = station.adapters.records[a];
  DeviceSummary& summary = station.summaries[a];

  station.adapters.CurrentAdapter = a;
  record.DevicePresent = 1;
  summary.Present = 1;
  NoteAwaitedAccepted(station);

  const MacAddress& destination = header.destination;
  const MacAddress& source = header.source;
  if (summary.AdapterMac != destination) return;
  if (source == destination) return;
  if (station.VersionAnswered[a] != 0) return;
  // Too short to carry the chip type and the text: it counts for presence, nothing is taken.
  const std::optional<uint8_t> chip_type = frame.U8(kVersionChipTypeOffset);
  if (!chip_type || !frame.Has(kVersionTextOffset, 1)) return;

  record.DeviceMac = source;
  summary.DeviceMac = source;

  if (*chip_type == kChipTypePx300) {
    station.page.SetText(kChipModelField, "PX300");
  } else if (*chip_type == kChipTypePx100) {
    station.page.SetText(kChipModelField, "PX100");
  }

  const std::string version = TakeVersionText(frame);
  std::memset(record.FirmwareVersion, 0, sizeof record.FirmwareVersion);
  std::memcpy(record.FirmwareVersion, version.data(), version.size());
  station.page.SetText(kFirmwareVersionField, version);

  const bool success = station.CommitConfirmed == 1 && station.AutoReadDone != 0 &&
                       source == station.BurnedMac;
  // The journal has the outcome before the operator sees the verdict.
  NoteUnitAnswered(station, source, success);
  if (success) {
    station.page.SetText(kStatusLine, "Success");
    station.CommitConfirmed = 0;
  }

  // May run the automatic module read, whose waits dispatch nested on this same adapter.
  RefreshConnection(station);

  station.VersionAnswered[a] += 1;
  station.page.SetText(kMacField, source.ToString());
}

void HandleWriteConfirmation(Station& station, const FrameReader& frame) {
  const std::optional<uint8_t> status = frame.U8(kWriteStatusOffset);
  const std::optional<uint16_t> length = frame.Le16(kWriteLengthOffset);
  const std::optional<uint32_t> offset = frame.Le32(kWriteOffsetOffset);
  if (!status || !length || !offset) return;
  TransferRegisters& registers = station.registers;
  if (*offset != registers.WriteTransferOffset) {
    station.page.MessageBox("Write Module response offset not match", kWriteCaption, kMbOk);
    return;
  }
  if (*status != 0) {
    station.page.MessageBox("Write Module response failed", kWriteCaption, kMbOk);
    return;
  }
  station.page.SetText(kStatusLine, FormatText("Write Module - offset: %d",
                                               static_cast<int>(registers.WriteTransferOffset)));
  registers.WriteTransferOffset += *length;
  NoteAwaitedAccepted(station);
}

void HandleReadConfirmation(Station& station, const FrameReader& frame) {
  const std::optional<uint8_t> status = frame.U8(kReadStatusOffset);
  const std::optional<uint16_t> length = frame.Le16(kReadLengthOffset);
  const std::optional<uint32_t> offset = frame.Le32(kReadOffsetOffset);
  if (!status || !length || !offset) return;
  TransferRegisters& registers = station.registers;
  // The unit is trusted with the offset and status, not with the bounds of our buffers.
  const std::span<const uint8_t> data = frame.Bytes(kReadDataOffset, *length);
  const bool fits_frame = data.size() == *length;
  const bool fits_image = size_t{*offset} + *length <= kModuleSize;
  if (*offset != registers.ReadTransferOffset || *status != 0 || !fits_frame || !fits_image) {
    station.page.MessageBox("Read Module response failed", kReadCaption, kMbOk);
    return;
  }
  station.page.SetText(kStatusLine,
                       FormatText("response Read Module (%x) - offset: %d",
                                  registers.PendingRequestType, static_cast<int>(*offset)));
  std::copy(data.begin(), data.end(), station.module.bytes.begin() + *offset);
  registers.ReadTransferOffset += *length;
  NoteAwaitedAccepted(station);
}

void HandleCommitConfirmation(Station& station, const FrameReader& frame) {
  const std::optional<uint8_t> status = frame.U8(kCommitStatusOffset);
  if (!status || (*status != kCommitStatusAccepted && *status != kCommitStatusAcceptedAlt)) return;
  station.CommitConfirmed = 1;
  station.page.SetText(kStatusLine, "Waiting...");
  NoteAwaitedAccepted(station);
}

}  // namespace

ReceivePacket* DispatchConfirmation(Station& station, int adapter) {
  ReceivePacket* packet = TakeReceivedFrame(station.adapters, station.summaries, adapter);
  if (packet == nullptr) return nullptr;
  const FrameReader frame(packet->frame, std::min<size_t>(packet->length, sizeof packet->frame));
  // Header present, ethertype 0x88E1, and not a broadcast (our own query among them).
  const std::optional<MessageHeader> header = ReadMessageHeader(frame);
  if (!header || header->destination.IsBroadcast()) return packet;

  const uint16_t mmtype = header->mmtype;
  switch (station.registers.PendingRequestType) {
    case kVsVerQueryReq:
      if (mmtype == kVsVerQueryCnf) HandleVersionConfirmation(station, adapter, *header, frame);
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
