#pragma once

#include <cstdint>

#include "protocol/management_message.h"

namespace stampwright {

// How many sends of one chunk that do not advance the offset end a transfer: an unplugged or
// stubborn unit must never hold the station for good.
constexpr unsigned kChunkSendLimit = 10;

// Next chunk length at offset for a transfer of total bytes.
constexpr uint32_t ChunkLength(uint32_t total, uint32_t offset) {
  constexpr auto kChunk = static_cast<uint32_t>(kChunkSize);
  return total - offset < kChunk ? total - offset : kChunk;
}

// Counts the sends of one chunk that did not move the offset.
class StallCounter {
 public:
  // After one pass: true when the transfer should give up.
  bool GiveUp(uint32_t offset_before, uint32_t offset_after) {
    if (offset_after != offset_before) {
      stalled_ = 0;
      return false;
    }
    return ++stalled_ >= kChunkSendLimit;
  }

 private:
  unsigned stalled_ = 0;
};

}  // namespace stampwright
