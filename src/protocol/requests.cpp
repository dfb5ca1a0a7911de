#include "protocol/requests.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

constexpr uint8_t kWriteTrailerFill = 0xCD;

// What a VS_MOD_COMMIT carries past its module id. Only bytes 21..34 are inside the 35 bytes the
// builder hands over; the rest reaches the wire as the padding to 60 bytes.
constexpr size_t kCommitConstantsOffset = 21;
constexpr std::array<uint8_t, 39> kCommitConstants = {
    0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD,
    0xCD, 0xFD, 0xFD, 0xFD, 0xFD, 0xDD, 0x3B, 0x06, 0x0A, 0x00, 0xD0, 0x10, 0x08,
    0x01, 0x78, 0x01, 0xC2, 0x01, 0x78, 0x01, 0xC2, 0x01, 0xDD, 0xDD, 0xDD, 0xDD,
};
static_assert(kCommitConstantsOffset + kCommitConstants.size() == 60);

bool ValidAdapter(int adapter) { return adapter >= 0 && adapter < kMaxAdapters; }

// Header and message type for a request from the adapter to the given destination.
void StartRequest(MessageContext& ctx, ManagementMessage& frame, int adapter,
                  const MacAddress& destination, uint16_t mmtype) {
  BuildMessageHeader(frame, ctx.adapters.records[adapter].AdapterMac, destination);
  WriteMessageType(frame.data(), mmtype, ctx.oui);
}

int32_t Send(MessageContext& ctx, int adapter, uint16_t mmtype, const ManagementMessage& frame,
              uint16_t length) {
  // Before the send: a confirmation arriving during the following wait must already match.
  ctx.registers.PendingRequestType = mmtype;
  return SendFrame(ctx.adapters, ctx.summaries, adapter, frame.data(), length);
}

// Fills a VS_WR_MOD with at most one chunk of source[0, source_size) from offset: a chunk never
// reads past the source nor writes past the 1024-byte data area.
uint16_t BuildWriteChunk(ManagementMessage& frame, uint32_t offset, uint32_t length,
                         uint16_t module_id, const uint8_t* source, size_t source_size) {
  size_t carried = std::min<size_t>(length, kChunkSize);
  if (offset >= source_size) {
    carried = 0;
  } else {
    carried = std::min(carried, source_size - offset);
  }
  StoreLe16(frame.data() + kModuleIdOffset, module_id);
  StoreLe16(frame.data() + kChunkLengthOffset, static_cast<uint16_t>(carried));
  StoreLe32(frame.data() + kChunkOffsetOffset, offset);
  if (carried > 0) std::memcpy(frame.data() + kChunkDataOffset, source + offset, carried);
  // The whole area, zero tail included, so a short chunk sums as if zero-filled to 1024 bytes.
  StoreLe32(frame.data() + kChunkChecksumOffset,
            ModuleChecksum(frame.data() + kChunkDataOffset, kChunkSize / 4));
  std::memset(frame.data() + kWriteTrailerOffset, kWriteTrailerFill, kWriteTrailerSize);
  return static_cast<uint16_t>(carried);
}

}  // namespace

int32_t SendVersionQuery(MessageContext& ctx, int adapter) {
  if (!ValidAdapter(adapter)) return 0;
  ManagementMessage frame;
  StartRequest(ctx, frame, adapter, MacAddress::Broadcast(), kVsVerQueryReq);
  return Send(ctx, adapter, kVsVerQueryReq, frame, kVersionQueryLength);
}

int32_t SendReadModule(MessageContext& ctx, int adapter, uint32_t offset, uint32_t length) {
  if (!ValidAdapter(adapter)) return 0;
  ManagementMessage frame;
  StartRequest(ctx, frame, adapter, ctx.adapters.records[adapter].DeviceMac, kVsRdModReq);
  StoreLe16(frame.data() + kModuleIdOffset, kModuleIdParameter);
  StoreLe16(frame.data() + kChunkLengthOffset, static_cast<uint16_t>(length));
  StoreLe32(frame.data() + kChunkOffsetOffset, offset);
  ctx.registers.PendingChunkLength = static_cast<uint16_t>(length);
  return Send(ctx, adapter, kVsRdModReq, frame, kReadModuleLength);
}

int32_t SendWriteModule(MessageContext& ctx, int adapter, uint32_t offset, uint32_t length,
                         uint16_t module_id, const ParameterModule& module) {
  if (!ValidAdapter(adapter)) return 0;
  ManagementMessage frame;
  StartRequest(ctx, frame, adapter, ctx.adapters.records[adapter].DeviceMac, kVsWrModReq);
  ctx.registers.PendingChunkLength =
      BuildWriteChunk(frame, offset, length, module_id, module.bytes.data(), module.bytes.size());
  return Send(ctx, adapter, kVsWrModReq, frame, kWriteModuleLength);
}

int32_t SendWriteFirmware(MessageContext& ctx, int adapter, uint32_t offset, uint32_t length,
                           uint16_t module_id, const uint8_t* image, size_t image_size) {
  if (!ValidAdapter(adapter)) return 0;
  ManagementMessage frame;
  StartRequest(ctx, frame, adapter, ctx.adapters.records[adapter].DeviceMac, kVsWrModReq);
  ctx.registers.PendingChunkLength =
      BuildWriteChunk(frame, offset, length, module_id, image, image == nullptr ? 0 : image_size);
  return Send(ctx, adapter, kVsWrModReq, frame, kWriteModuleLength);
}

int32_t SendModuleCommit(MessageContext& ctx, int adapter, uint16_t module_id) {
  if (!ValidAdapter(adapter)) return 0;
  ManagementMessage frame;
  StartRequest(ctx, frame, adapter, ctx.adapters.records[adapter].DeviceMac, kVsModCommitReq);
  frame[kModuleIdOffset] = static_cast<uint8_t>(module_id);
  std::memcpy(frame.data() + kCommitConstantsOffset, kCommitConstants.data(),
              kCommitConstants.size());
  return Send(ctx, adapter, kVsModCommitReq, frame, kModuleCommitLength);
}

}  // namespace stampwright
