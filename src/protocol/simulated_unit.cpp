#include "protocol/simulated_unit.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/text.h"
#include "programming/carrier_table.h"
#include "protocol/confirmations.h"

namespace stampwright {
namespace {

constexpr size_t kCnfCommitLength = kConfirmationStatusOffset + 1;
// Ethernet's minimum frame without the FCS: every answer is padded to it.
constexpr size_t kMinimumAnswerLength = 60;
constexpr size_t kMaxVersionText = 255;

// The smallest requests the unit acts on: each must carry every field it reads.
constexpr size_t kReadRequestMinimum = kChunkOffsetOffset + 4;
constexpr size_t kWriteRequestMinimum = kChunkDataOffset + kChunkSize;
constexpr size_t kCommitRequestMinimum = kModuleIdOffset + 1;

constexpr uint64_t kFillerSeed = 0x5354414D50ULL;

uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// True once now has reached due, right across a wrap of the tick count.
bool Reached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }

int CountIndex(uint16_t mmtype) {
  switch (mmtype) {
    case kVsVerQueryReq: return 0;
    case kVsRdModReq: return 1;
    case kVsWrModReq: return 2;
    case kVsModCommitReq: return 3;
    default: return -1;
  }
}

// ModuleChecksum of data zero-padded to whole 32-bit words.
uint32_t PaddedChecksum(std::span<const uint8_t> data) {
  std::array<uint8_t, kChunkSize + 4> words{};
  std::memcpy(words.data(), data.data(), data.size());
  return ModuleChecksum(words.data(), static_cast<uint32_t>((data.size() + 3) / 4));
}

}  // namespace

ParameterModule DefaultUnitImage(const MacAddress& mac) {
  ParameterModule image;
  uint64_t state = kFillerSeed;
  for (size_t i = 0; i < image.bytes.size(); i += 8) {
    const uint64_t value = SplitMix64(state);
    for (size_t b = 0; b < 8 && i + b < image.bytes.size(); ++b) {
      image.bytes[i + b] = static_cast<uint8_t>(value >> (8 * b));
    }
  }
  image.bytes[0] = 2;
  CopyCarrierTable(Px300CarrierTable(), image);
  image.SetMacAddress(mac);
  UpdateImageChecksum(image);
  return image;
}

SimulatedUnit::SimulatedUnit(SimulatedUnitConfig config)
    : config_(std::move(config)),
      current_mac_(config_.mac),
      flash_(config_.image ? *config_.image : DefaultUnitImage(config_.mac)),
      rng_state_(config_.faults.seed) {
  config_.version_text.resize(std::min(config_.version_text.size(), kMaxVersionText));
}

bool SimulatedUnit::IsRestarting(uint32_t now) const {
  return restart_end_ && !Reached(now, *restart_end_);
}

void SimulatedUnit::FinishRestart(uint32_t now) {
  if (!restart_end_ || !Reached(now, *restart_end_)) return;
  restart_end_.reset();
  current_mac_ = restart_mac_;
  Note("restarted as " + current_mac_.ToString());
}

uint32_t SimulatedUnit::RequestCount(uint16_t mmtype) const {
  const int index = CountIndex(mmtype);
  return index < 0 ? 0 : request_counts_[index];
}

bool SimulatedUnit::Addressed(const MessageHeader& header) const {
  if (header.destination == current_mac_) return true;
  return header.mmtype == kVsVerQueryReq && header.destination.IsBroadcast();
}

bool SimulatedUnit::DrawDrop() {
  if (config_.faults.drop_percent == 0) return false;
  return SplitMix64(rng_state_) % 100 < config_.faults.drop_percent;
}

void SimulatedUnit::Note(const std::string& line) const {
  if (log_) log_(line);
}

void SimulatedUnit::OnFrame(const uint8_t* data, size_t length, uint32_t now) {
  FinishRestart(now);
  const FrameReader frame(data, length);
  const std::optional<MessageHeader> header = ReadMessageHeader(frame);
  if (!header) return;  // not a management message
  const char* name = MessageTypeName(header->mmtype);
  const int index = CountIndex(header->mmtype);
  const std::string what = (name ? name : FormatText("MMTYPE %04X", header->mmtype)) + " from " +
                           header->source.ToString();
  if (index < 0) return Note("ignored " + what + ": not a request");
  if (!Addressed(*header)) return Note("ignored " + what + ": addressed to " +
                                       header->destination.ToString());
  if (header->oui != config_.oui) return Note("ignored " + what + ": OUI " + FormatOui(header->oui));
  if (IsRestarting(now)) return Note("ignored " + what + ": restarting");
  if (config_.faults.silent_after && requests_seen_ >= *config_.faults.silent_after) {
    return Note("ignored " + what + ": silent");
  }
  ++requests_seen_;
  if (DrawDrop()) {
    ++dropped_;
    return Note("dropped " + what);
  }
  ++request_counts_[index];

  std::vector<uint8_t> answer;
  switch (header->mmtype) {
    case kVsVerQueryReq: answer = AnswerVersion(*header); break;
    case kVsRdModReq: answer = AnswerRead(*header, frame); break;
    case kVsWrModReq: answer = AnswerWrite(*header, frame); break;
    case kVsModCommitReq: answer = AnswerCommit(*header, frame, now); break;
    default: return;
  }
  Note(what + ": status " + FormatText("%02X", answer[kConfirmationStatusOffset]));
  answers_.push_back({now + config_.latency_ms, std::move(answer)});
}

bool SimulatedUnit::TakeFrame(uint32_t now, std::vector<uint8_t>* frame) {
  FinishRestart(now);
  if (answers_.empty() || !Reached(now, answers_.front().due)) return false;
  *frame = std::move(answers_.front().frame);
  answers_.pop_front();
  return true;
}

std::optional<uint32_t> SimulatedUnit::NextFrameDue() const {
  if (answers_.empty()) return std::nullopt;
  return answers_.front().due;
}

std::vector<uint8_t> SimulatedUnit::StartAnswer(const MessageHeader& request,
                                                size_t length) const {
  std::vector<uint8_t> answer(std::max(length, kMinimumAnswerLength), 0);
  request.source.CopyTo(answer.data() + kDestinationMacOffset);
  current_mac_.CopyTo(answer.data() + kSourceMacOffset);
  StoreBe16(answer.data() + kEtherTypeOffset, kEtherTypeHomePlugAv);
  WriteMessageType(answer.data(), static_cast<uint16_t>(request.mmtype + 1), request.oui);
  return answer;
}

std::vector<uint8_t> SimulatedUnit::AnswerVersion(const MessageHeader& request) {
  const std::string& text = config_.version_text;
  std::vector<uint8_t> answer = StartAnswer(request, kVersionTextOffset + text.size() + 1);
  answer[kConfirmationStatusOffset] = kUnitStatusOk;
  answer[kVersionChipTypeOffset] = config_.chip_type;
  answer[kVersionTextLengthOffset] = static_cast<uint8_t>(text.size());
  std::memcpy(answer.data() + kVersionTextOffset, text.data(), text.size());  // NUL from the fill
  return answer;
}

std::vector<uint8_t> SimulatedUnit::AnswerRead(const MessageHeader& request,
                                               const FrameReader& frame) {
  uint8_t status = kUnitStatusFailed;
  uint32_t offset = 0;
  size_t delivered = 0;
  if (frame.Has(0, kReadRequestMinimum)) {
    const uint16_t module_id = *frame.Le16(kModuleIdOffset);
    const uint16_t asked = *frame.Le16(kChunkLengthOffset);
    offset = *frame.Le32(kChunkOffsetOffset);
    if (module_id == kModuleIdParameter && offset < kModuleSize) {
      delivered = std::min<size_t>({asked, kChunkSize, kModuleSize - offset});
      status = kUnitStatusOk;
    }
  }
  std::vector<uint8_t> answer = StartAnswer(request, kReadDataOffset + (delivered + 3) / 4 * 4);
  answer[kConfirmationStatusOffset] = status;
  StoreLe16(answer.data() + kReadLengthOffset, static_cast<uint16_t>(delivered));
  StoreLe32(answer.data() + kReadOffsetOffset, offset);
  const std::span<const uint8_t> data(flash_.bytes.data() + (delivered ? offset : 0), delivered);
  StoreLe32(answer.data() + kReadChecksumOffset, PaddedChecksum(data));
  if (delivered > 0) std::memcpy(answer.data() + kReadDataOffset, data.data(), delivered);
  return answer;
}

std::vector<uint8_t> SimulatedUnit::AnswerWrite(const MessageHeader& request,
                                                const FrameReader& frame) {
  ++write_requests_;
  uint8_t status = kUnitStatusFailed;
  uint16_t length = 0;
  uint32_t offset = 0;
  if (frame.Has(0, kWriteRequestMinimum)) {
    const uint16_t module_id = *frame.Le16(kModuleIdOffset);
    length = *frame.Le16(kChunkLengthOffset);
    offset = *frame.Le32(kChunkOffsetOffset);
    const uint32_t checksum = *frame.Le32(kChunkChecksumOffset);
    const std::span<const uint8_t> area = frame.Bytes(kChunkDataOffset, kChunkSize);
    if (config_.faults.reject_every != 0 && write_requests_ % config_.faults.reject_every == 0) {
      status = kUnitStatusRejected;
    } else if (ModuleChecksum(area.data(), kChunkSize / 4) != checksum) {
      status = kUnitStatusBadChecksum;
    } else if (length <= kChunkSize) {
      status = StoreChunk(module_id, offset, area.first(length));
    }
  }
  ++write_confirmations_;
  const bool wrong = config_.faults.wrong_offset_at == write_confirmations_;
  std::vector<uint8_t> answer = StartAnswer(request, kWriteOffsetOffset + 4);
  answer[kConfirmationStatusOffset] = status;
  StoreLe16(answer.data() + kWriteLengthOffset, length);
  StoreLe32(answer.data() + kWriteOffsetOffset, wrong ? offset + 1 : offset);
  return answer;
}

uint8_t SimulatedUnit::StoreChunk(uint16_t module_id, uint32_t offset,
                                  std::span<const uint8_t> data) {
  if (module_id == kModuleIdParameter) {
    if (offset > kModuleSize || data.size() > kModuleSize - offset) return kUnitStatusFailed;
    std::memcpy(staged_.bytes.data() + offset, data.data(), data.size());
    for (size_t i = 0; i < data.size(); ++i) staged_written_.set(offset + i);
    return kUnitStatusOk;
  }
  if (module_id == kModuleIdFirmware) {
    if (offset > kUnitFirmwareCapacity || data.size() > kUnitFirmwareCapacity - offset) {
      return kUnitStatusFailed;
    }
    const size_t end = offset + data.size();
    if (staged_firmware_.size() < end) {
      staged_firmware_.resize(end, 0);
      staged_firmware_written_.resize(end, false);
    }
    std::memcpy(staged_firmware_.data() + offset, data.data(), data.size());
    std::fill_n(staged_firmware_written_.begin() + offset, data.size(), true);
    return kUnitStatusOk;
  }
  return kUnitStatusFailed;
}

std::vector<uint8_t> SimulatedUnit::AnswerCommit(const MessageHeader& request,
                                                 const FrameReader& frame, uint32_t now) {
  uint8_t status = kUnitStatusFailed;
  if (frame.Has(0, kCommitRequestMinimum)) {
    const uint8_t module_id = *frame.U8(kModuleIdOffset);
    if (module_id == kModuleIdParameter) status = CommitParameterModule(now);
    if (module_id == kModuleIdFirmware) status = CommitFirmware();
  }
  std::vector<uint8_t> answer = StartAnswer(request, kCnfCommitLength);
  answer[kConfirmationStatusOffset] = status;
  return answer;
}

uint8_t SimulatedUnit::CommitParameterModule(uint32_t now) {
  if (!staged_written_.all()) {
    Note(FormatText("commit refused: %zu of %zu bytes written", staged_written_.count(),
                    kModuleSize));
    return kUnitStatusFailed;
  }
  if (ExpectedImageChecksum(staged_) != staged_.ImageChecksum()) {
    Note("commit refused: image checksum does not match");
    return kUnitStatusFailed;
  }
  flash_ = staged_;
  if (config_.faults.alter_on_commit && *config_.faults.alter_on_commit < kModuleSize) {
    flash_.bytes[*config_.faults.alter_on_commit] ^= 0xFF;
  }
  ++parameter_commits_;
  staged_written_.reset();
  // Silent from now until the restart is over, then under the committed image's MAC.
  restart_mac_ = config_.faults.return_mac ? *config_.faults.return_mac : flash_.GetMacAddress();
  restart_end_ = now + config_.latency_ms + config_.restart_ms;
  return config_.commit_status;
}

uint8_t SimulatedUnit::CommitFirmware() {
  const size_t length = staged_firmware_.size();
  const bool complete = std::all_of(staged_firmware_written_.begin(),
                                    staged_firmware_written_.end(), [](bool b) { return b; });
  if (length == 0 || !complete) {
    Note(FormatText("firmware commit refused: %zu bytes staged, %s", length,
                    complete ? "none" : "with gaps"));
    return kUnitStatusFailed;
  }
  firmware_ = std::move(staged_firmware_);
  staged_firmware_.clear();
  staged_firmware_written_.clear();
  ++firmware_commits_;
  return config_.commit_status;
}

}  // namespace stampwright
