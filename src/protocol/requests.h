#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "programming/parameter_module.h"
#include "protocol/management_message.h"
#include "settings/device_summary.h"
#include "transport/adapter_set.h"

namespace stampwright {

// Where a request and its confirmation meet. PendingRequestType holds the MMTYPE of the last
// request built (0 at start matches no confirmation); the two offsets are the write and read
// TransferOffset, advanced only by the confirmation handlers; PendingChunkLength is the number of
// module bytes the last read asked for or the last write carried, the only length its
// confirmation may report.
struct TransferRegisters {
  uint32_t PendingRequestType = 0;
  uint32_t WriteTransferOffset = 0;
  uint32_t ReadTransferOffset = 0;
  uint32_t PendingChunkLength = 0;
};

// Everything a request builder touches.
struct MessageContext {
  AdapterSet& adapters;
  DeviceSummaries& summaries;
  TransferRegisters& registers;
  std::array<uint8_t, 3> oui;
};

// Each builder fills a zeroed 1510-byte frame from the adapter's AdapterMac to its DeviceMac
// (broadcast for the version query), stores its MMTYPE in PendingRequestType before the frame
// is sent, and returns SendFrame's result.

// VS_VER_QUERY to FF:FF:FF:FF:FF:FF, 1510 bytes.
int32_t SendVersionQuery(MessageContext& ctx, int adapter);

// VS_RD_MOD for module 2, 1496 bytes.
int32_t SendReadModule(MessageContext& ctx, int adapter, uint32_t offset, uint32_t length);

// VS_WR_MOD of length bytes of the image from offset, 1070 bytes. The chunk carries at most
// 1024 bytes and never reads past the image: ChunkLength is the number of bytes actually carried.
int32_t SendWriteModule(MessageContext& ctx, int adapter, uint32_t offset, uint32_t length,
                         uint16_t module_id, const ParameterModule& module);

// VS_WR_MOD of a firmware chunk, as SendWriteModule but from image[0, image_size).
int32_t SendWriteFirmware(MessageContext& ctx, int adapter, uint32_t offset, uint32_t length,
                           uint16_t module_id, const uint8_t* image, size_t image_size);

// VS_MOD_COMMIT: 35 bytes handed to SendFrame, which pads to 60 from the same buffer; the
// constants stored past byte 34 are what the unit sees in that padding.
int32_t SendModuleCommit(MessageContext& ctx, int adapter, uint16_t module_id);

}  // namespace stampwright
