#include "protocol/confirmations.h"

#include <algorithm>

namespace stampwright {

std::optional<VersionConfirmation> ParseVersionConfirmation(const FrameReader& frame) {
  const std::optional<uint8_t> chip_type = frame.U8(kVersionChipTypeOffset);
  // A confirmation too short to hold the first character of its text carries nothing to take.
  if (!chip_type || !frame.Has(kVersionTextOffset, 1)) return std::nullopt;
  const std::span<const uint8_t> rest =
      frame.Bytes(kVersionTextOffset, frame.size() - kVersionTextOffset);
  const size_t limit = std::min(rest.size(), kVersionTextBufferSize - 1);
  const auto end = std::find(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(limit), 0);
  VersionConfirmation parsed;
  parsed.chip_type = *chip_type;
  parsed.text = std::string_view(reinterpret_cast<const char*>(rest.data()),
                                 static_cast<size_t>(end - rest.begin()));
  return parsed;
}

std::optional<WriteConfirmation> ParseWriteConfirmation(const FrameReader& frame) {
  const std::optional<uint8_t> status = frame.U8(kConfirmationStatusOffset);
  const std::optional<uint16_t> length = frame.Le16(kWriteLengthOffset);
  const std::optional<uint32_t> offset = frame.Le32(kWriteOffsetOffset);
  if (!status || !length || !offset) return std::nullopt;
  return WriteConfirmation{*status, *length, *offset};
}

std::optional<ReadConfirmation> ParseReadConfirmation(const FrameReader& frame) {
  const std::optional<uint8_t> status = frame.U8(kConfirmationStatusOffset);
  const std::optional<uint16_t> length = frame.Le16(kReadLengthOffset);
  const std::optional<uint32_t> offset = frame.Le32(kReadOffsetOffset);
  if (!status || !length || !offset) return std::nullopt;
  ReadConfirmation parsed;
  parsed.status = *status;
  parsed.length = *length;
  parsed.offset = *offset;
  parsed.data_complete = frame.Has(kReadDataOffset, *length);
  if (parsed.data_complete) parsed.data = frame.Bytes(kReadDataOffset, *length);
  return parsed;
}

std::optional<CommitConfirmation> ParseCommitConfirmation(const FrameReader& frame) {
  const std::optional<uint8_t> status = frame.U8(kConfirmationStatusOffset);
  if (!status) return std::nullopt;
  return CommitConfirmation{*status};
}

}  // namespace stampwright
