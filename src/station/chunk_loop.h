#pragma once

#include <cstdint>

#include "station/station_core.h"
#include "protocol/management_message.h"
#include "protocol/requests.h"
#include "station/station_wait.h"

namespace stampwright {

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

constexpr uint32_t kChunkWaitMs = 50;

// The chunk loop of a module transfer on the current adapter. offset is the TransferOffset that
// the confirmations advance (set to 0 here); send_chunk(messages, adapter, offset, length) sends
// one request, followed by the pause and the wait. Ends when the offset has reached total, or
// after kChunkSendLimit sends in a row that did not move it.
template <typename SendChunk>
void RunChunkLoop(StationCore& station, uint32_t& offset, uint32_t total, uint32_t pause_ms,
                  SendChunk send_chunk) {
  MessageContext messages = station.Messages();
  const int adapter = station.adapters.CurrentAdapter;
  StallCounter stalls;
  offset = 0;
  while (offset < total) {
    const uint32_t sent_at = offset;
    send_chunk(messages, adapter, sent_at, ChunkLength(total, sent_at));
    station.clock.Sleep(pause_ms);
    WaitForResponses(station, adapter, kChunkWaitMs);
    if (stalls.GiveUp(sent_at, offset)) break;
  }
}

}  // namespace stampwright
