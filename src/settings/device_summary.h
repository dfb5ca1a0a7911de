#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/mac_address.h"

namespace stampwright {

constexpr int kMaxAdapters = 8;
constexpr size_t kDeviceSummarySize = 12184;
constexpr size_t kDeviceSummaryArraySize = kDeviceSummarySize * kMaxAdapters;  // 97472

// What the station last knew of the device behind one adapter index. Only the named fields are
// held; every other span of the 12184-byte record is zero and is written as zeros.
struct DeviceSummary {
  MacAddress AdapterMac;     // offset 0
  uint32_t Present = 0;      // offset 32
  MacAddress DeviceMac;      // offset 40
  // Offset 72: StationArea, 32 entries of 376 bytes, never filled.
  uint32_t FramesReceived = 0;  // offset 12104
  uint32_t BytesReceived = 0;   // offset 12108
  uint32_t FramesSent = 0;      // offset 12112
  uint32_t BytesSent = 0;       // offset 12116

  // Writes the whole 12184-byte record, field by field, little-endian.
  void WriteTo(uint8_t* record) const;
  // Reads a record written by WriteTo (for the engineer's tool).
  static DeviceSummary ReadFrom(const uint8_t* record);
};

using DeviceSummaries = std::array<DeviceSummary, kMaxAdapters>;

}  // namespace stampwright
