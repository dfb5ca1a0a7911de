#pragma once

#include <cstddef>
#include <cstdint>

namespace stampwright {

struct Station;
struct ReceivePacket;

// Confirmation fields, as offsets from the first byte of the received frame.
constexpr size_t kVersionChipTypeOffset = 21;
constexpr size_t kVersionTextOffset = 23;
constexpr size_t kVersionTextBufferSize = 80;  // 79 characters and the NUL
constexpr size_t kWriteStatusOffset = 20;
constexpr size_t kWriteLengthOffset = 23;
constexpr size_t kWriteOffsetOffset = 25;
constexpr size_t kReadStatusOffset = 20;
constexpr size_t kReadLengthOffset = 26;
constexpr size_t kReadOffsetOffset = 28;
constexpr size_t kReadDataOffset = 36;
constexpr size_t kCommitStatusOffset = 20;

constexpr uint8_t kChipTypePx100 = 1;
constexpr uint8_t kChipTypePx300 = 2;
constexpr uint8_t kCommitStatusAccepted = 0x00;
constexpr uint8_t kCommitStatusAcceptedAlt = 0x46;

// Takes at most one received frame of the adapter and acts on it when it is a confirmation of
// the pending request. Returns the frame's record (acted on or not), or nullptr when none waited.
ReceivePacket* DispatchConfirmation(Station& station, int adapter);

}  // namespace stampwright
