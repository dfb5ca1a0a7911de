#include "settings/device_summary.h"

#include <cstring>

#include "base/byte_order.h"

namespace stampwright {
namespace {

constexpr size_t kAdapterMacOffset = 0;
constexpr size_t kPresentOffset = 32;
constexpr size_t kDeviceMacOffset = 40;
constexpr size_t kStationAreaOffset = 72;
constexpr size_t kStationAreaSize = 32 * 376;
constexpr size_t kFramesReceivedOffset = 12104;
constexpr size_t kBytesReceivedOffset = 12108;
constexpr size_t kFramesSentOffset = 12112;
constexpr size_t kBytesSentOffset = 12116;
constexpr size_t kTrailingSpanSize = 64;

static_assert(kStationAreaOffset + kStationAreaSize == kFramesReceivedOffset);
static_assert(kBytesSentOffset + 4 + kTrailingSpanSize == kDeviceSummarySize);
static_assert(kDeviceSummaryArraySize == 97472);

}  // namespace

void DeviceSummary::WriteTo(uint8_t* record) const {
  // The unnamed spans and the StationArea are never filled: they go out as zeros.
  std::memset(record, 0, kDeviceSummarySize);
  AdapterMac.CopyTo(record + kAdapterMacOffset);
  StoreLe32(record + kPresentOffset, Present);
  DeviceMac.CopyTo(record + kDeviceMacOffset);
  StoreLe32(record + kFramesReceivedOffset, FramesReceived);
  StoreLe32(record + kBytesReceivedOffset, BytesReceived);
  StoreLe32(record + kFramesSentOffset, FramesSent);
  StoreLe32(record + kBytesSentOffset, BytesSent);
}

DeviceSummary DeviceSummary::ReadFrom(const uint8_t* record) {
  DeviceSummary summary;
  summary.AdapterMac = MacAddress::FromBytes(record + kAdapterMacOffset);
  summary.Present = LoadLe32(record + kPresentOffset);
  summary.DeviceMac = MacAddress::FromBytes(record + kDeviceMacOffset);
  summary.FramesReceived = LoadLe32(record + kFramesReceivedOffset);
  summary.BytesReceived = LoadLe32(record + kBytesReceivedOffset);
  summary.FramesSent = LoadLe32(record + kFramesSentOffset);
  summary.BytesSent = LoadLe32(record + kBytesSentOffset);
  return summary;
}

}  // namespace stampwright
