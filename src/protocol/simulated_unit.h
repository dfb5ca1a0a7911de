#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/mac_address.h"
#include "programming/parameter_module.h"
#include "protocol/management_message.h"
#include "transport/wire_peer.h"

namespace stampwright {

inline constexpr uint8_t kUnitChipPx100 = 1;
inline constexpr uint8_t kUnitChipPx300 = 2;

// Status bytes the unit answers with. The station accepts a commit with 0x00 or 0x46 alike.
inline constexpr uint8_t kUnitStatusOk = 0x00;
inline constexpr uint8_t kUnitStatusFailed = 0x01;       // bad request, refused commit
inline constexpr uint8_t kUnitStatusBadChecksum = 0x02;  // chunk checksum does not match
inline constexpr uint8_t kUnitStatusRejected = 0x03;     // rejected by the fault plan
inline constexpr uint8_t kUnitStatusCommitted46 = 0x46;

// The largest firmware image the unit stages.
inline constexpr size_t kUnitFirmwareCapacity = 542248;

// Ways the unit misbehaves on purpose. Counts are 1-based; 0 switches a fault off.
struct UnitFaultPlan {
  uint32_t drop_percent = 0;  // share of requests lost, 0..100, drawn from the seed
  uint64_t seed = 1;
  uint32_t reject_every = 0;     // every Nth write request is refused with a non-zero status
  uint32_t wrong_offset_at = 0;  // the Nth write confirmation carries offset + 1
  std::optional<uint32_t> silent_after;  // no answers at all after this many requests
  std::optional<MacAddress> return_mac;  // MAC after a restart, instead of the image's
  // A committed image keeps this byte inverted, as a flash that did not take it would.
  std::optional<size_t> alter_on_commit;
};

struct SimulatedUnitConfig {
  MacAddress mac{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}};
  uint8_t chip_type = kUnitChipPx300;
  std::string version_text = "3.0.2-sim";  // at most 255 characters are sent
  std::optional<ParameterModule> image;      // default: DefaultUnitImage(mac)
  uint32_t latency_ms = 2;
  uint32_t restart_ms = 2000;
  uint8_t commit_status = kUnitStatusOk;
  Oui oui = kDefaultVendorOui;
  UnitFaultPlan faults;
};

// Format 2, the PX300 carrier table, deterministic filler elsewhere, the MAC at offset 12 and a
// valid image checksum.
ParameterModule DefaultUnitImage(const MacAddress& mac);

// The powerline unit's side of the contract: answers VS_VER_QUERY, VS_RD_MOD, VS_WR_MOD and
// VS_MOD_COMMIT, stages written chunks, commits checked images and restarts under the committed
// MAC. Answers are due latency_ms after their request.
class SimulatedUnit final : public WirePeer {
 public:
  using Log = std::function<void(const std::string&)>;

  explicit SimulatedUnit(SimulatedUnitConfig config);

  void OnFrame(const uint8_t* frame, size_t length, uint32_t now) override;
  bool TakeFrame(uint32_t now, std::vector<uint8_t>* frame) override;
  std::optional<uint32_t> NextFrameDue() const override;

  // One line per request received (answered, dropped or ignored, and why).
  void SetLog(Log log) { log_ = std::move(log); }

  const SimulatedUnitConfig& config() const { return config_; }
  const ParameterModule& Flash() const { return flash_; }
  const std::vector<uint8_t>& Firmware() const { return firmware_; }
  // The MAC the unit answers under, as of the last frame in or out.
  const MacAddress& CurrentMac() const { return current_mac_; }
  bool IsRestarting(uint32_t now) const;
  // Requests of one MMTYPE acted on (not those dropped or ignored).
  uint32_t RequestCount(uint16_t mmtype) const;
  uint32_t DroppedRequests() const { return dropped_; }
  uint32_t ParameterCommits() const { return parameter_commits_; }
  uint32_t FirmwareCommits() const { return firmware_commits_; }

 private:
  struct Answer {
    uint32_t due;
    std::vector<uint8_t> frame;
  };

  void FinishRestart(uint32_t now);
  bool Addressed(const MessageHeader& header) const;
  bool DrawDrop();
  std::vector<uint8_t> StartAnswer(const MessageHeader& request, size_t length) const;
  std::vector<uint8_t> AnswerVersion(const MessageHeader& request);
  std::vector<uint8_t> AnswerRead(const MessageHeader& request, const FrameReader& frame);
  std::vector<uint8_t> AnswerWrite(const MessageHeader& request, const FrameReader& frame);
  std::vector<uint8_t> AnswerCommit(const MessageHeader& request, const FrameReader& frame,
                                    uint32_t now);
  uint8_t StoreChunk(uint16_t module_id, uint32_t offset, std::span<const uint8_t> data);
  uint8_t CommitParameterModule(uint32_t now);
  uint8_t CommitFirmware();
  void Note(const std::string& line) const;

  SimulatedUnitConfig config_;
  MacAddress current_mac_;
  ParameterModule flash_;
  std::vector<uint8_t> firmware_;

  ParameterModule staged_{};
  std::bitset<kModuleSize> staged_written_;
  std::vector<uint8_t> staged_firmware_;
  std::vector<bool> staged_firmware_written_;

  std::optional<uint32_t> restart_end_;
  MacAddress restart_mac_;

  std::deque<Answer> answers_;
  uint64_t rng_state_;
  std::array<uint32_t, 4> request_counts_{};
  uint32_t requests_seen_ = 0;
  uint32_t write_requests_ = 0;
  uint32_t write_confirmations_ = 0;
  uint32_t dropped_ = 0;
  uint32_t parameter_commits_ = 0;
  uint32_t firmware_commits_ = 0;
  Log log_;
};

}  // namespace stampwright
