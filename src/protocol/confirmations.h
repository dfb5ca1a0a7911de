#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "protocol/management_message.h"

namespace stampwright {

// Confirmation fields, as offsets from the first byte of the received frame. The one place these
// layouts are written down: the station reads through the parsers below, the simulated unit
// writes at these offsets.
inline constexpr size_t kConfirmationStatusOffset = 20;
inline constexpr size_t kVersionChipTypeOffset = 21;
inline constexpr size_t kVersionTextLengthOffset = 22;  // filled by units, never read
inline constexpr size_t kVersionTextOffset = 23;
inline constexpr size_t kVersionTextBufferSize = 80;  // 79 characters and the NUL
inline constexpr size_t kWriteLengthOffset = 23;
inline constexpr size_t kWriteOffsetOffset = 25;
inline constexpr size_t kReadLengthOffset = 26;
inline constexpr size_t kReadOffsetOffset = 28;
inline constexpr size_t kReadChecksumOffset = 32;  // filled by units, never read
inline constexpr size_t kReadDataOffset = 36;

inline constexpr uint8_t kChipTypePx100 = 1;
inline constexpr uint8_t kChipTypePx300 = 2;
inline constexpr uint8_t kCommitStatusAccepted = 0x00;
inline constexpr uint8_t kCommitStatusAcceptedAlt = 0x46;

// The parsers look at the payload only: the caller has matched the header (ethertype, MMTYPE,
// addresses). Each returns nothing when the frame is too short for the fields it needs; the
// views point into the frame and live as long as it does.

// 0xA001: the chip type and the version text up to its NUL, at most 79 characters and never
// past the end of the frame.
struct VersionConfirmation {
  uint8_t chip_type = 0;
  std::string_view text;
};
std::optional<VersionConfirmation> ParseVersionConfirmation(const FrameReader& frame);

// 0xA021.
struct WriteConfirmation {
  uint8_t status = 0;
  uint16_t length = 0;
  uint32_t offset = 0;
};
std::optional<WriteConfirmation> ParseWriteConfirmation(const FrameReader& frame);

// 0xA025. data holds the `length` module bytes, or is empty when they do not lie wholly inside
// the frame (data_complete then tells a short frame from a zero length).
struct ReadConfirmation {
  uint8_t status = 0;
  uint16_t length = 0;
  uint32_t offset = 0;
  std::span<const uint8_t> data;
  bool data_complete = false;
};
std::optional<ReadConfirmation> ParseReadConfirmation(const FrameReader& frame);

// 0xA029.
struct CommitConfirmation {
  uint8_t status = 0;
  bool accepted() const {
    return status == kCommitStatusAccepted || status == kCommitStatusAcceptedAlt;
  }
};
std::optional<CommitConfirmation> ParseCommitConfirmation(const FrameReader& frame);

}  // namespace stampwright
