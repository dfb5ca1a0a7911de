#include "app/gang_tile.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <type_traits>
#include <variant>

#include "base/mac_address.h"
#include "programming/parameter_module.h"
#include "resources/controls.h"

namespace stampwright {
namespace {

constexpr int kModuleBytes = static_cast<int>(kModuleSize);
constexpr std::string_view kWriteOffsetPrefix = "Write Module - offset: ";
constexpr std::string_view kWriteDone = "Write Module - OK";

// The headline of each word that is not a verdict; a restart's seconds are added to its own.
std::string_view WordText(TileWord word) {
  switch (word) {
    case TileWord::kNoAdapter:
      return "No adapter";
    case TileWord::kNoUnit:
      return "No unit";
    case TileWord::kUnitFound:
      return "Unit found";
    case TileWord::kReading:
      return "Reading";
    case TileWord::kScanLabel:
      return "Scan label";
    case TileWord::kBurning:
      return "Burning";
    case TileWord::kRestarting:
      return "Restarting";
    case TileWord::kVerifying:
      return "Verifying";
    case TileWord::kUpgrading:
      return "Upgrading";
    case TileWord::kVerdict:
      break;
  }
  return "";
}

bool IsBusy(TileWord word) {
  return word == TileWord::kReading || word == TileWord::kBurning ||
         word == TileWord::kRestarting || word == TileWord::kVerifying ||
         word == TileWord::kUpgrading;
}

}  // namespace

std::string CountsText(const TileCounts& counts) {
  return "Attempts " + std::to_string(counts.attempts) + "  Passed " +
         std::to_string(counts.passed) + "  Failed " + std::to_string(counts.failed) +
         "  Refused " + std::to_string(counts.refused);
}

void TileState::Apply(const StationEventBody& event, int64_t now_ms) {
  std::visit(
      [&](const auto& body) {
        using B = std::decay_t<decltype(body)>;
        if constexpr (std::is_same_v<B, PageChange>) {
          if (body.kind == PageChange::Kind::kText && body.id == kStatusLine) ApplyStatus(body.text);
          if (body.kind == PageChange::Kind::kEnable && body.id == kBurnButton) {
            burn_enabled_ = body.on;
          }
        } else if constexpr (std::is_same_v<B, Notice>) {
          notice_ = body.caption.empty() ? body.text : body.caption + ": " + body.text;
        } else if constexpr (std::is_same_v<B, ActivityEvent>) {
          ApplyActivity(body);
        } else if constexpr (std::is_same_v<B, PhaseEvent>) {
          ApplyPhase(body.phase, now_ms);
        } else if constexpr (std::is_same_v<B, UnitEvent>) {
          if (!body.present) return ForgetUnit();
          unit_present_ = true;
          mac_ = body.mac;
          if (!body.chip.empty()) chip_ = body.chip;
        } else if constexpr (std::is_same_v<B, ModuleReadEvent>) {
          chip_ = body.chip;
          module_class_ = body.module_class;
        } else if constexpr (std::is_same_v<B, RefusedEvent>) {
          ++counts_.refused;
          verdict_ = VerdictAfterRefusal(body.reason);
        } else if constexpr (std::is_same_v<B, RecordEvent>) {
          ApplyRecord(body.record);
        } else if constexpr (std::is_same_v<B, AdapterEvent>) {
          SetAdapterPresent(body.present);
        }
      },
      event);
}

void TileState::ApplyActivity(const ActivityEvent& event) {
  switch (event.activity) {
    case StationActivity::kBurning:
      // The frames are next. An earlier attempt that ended only now (a unit that never came
      // back, told as this burn began) has had its say.
      ForgetResult();
      written_ = 0;
      break;
    case StationActivity::kPassed:
      // The unit answered under the label: that is its MAC now.
      if (const std::optional<MacAddress> burned = MacAddress::Parse(event.mac)) {
        mac_ = burned->ToString();
      }
      verdict_ = VerdictAfterActivity(event.activity, event.mac);
      break;
    case StationActivity::kVerifyFailed:
      verdict_ = VerdictAfterActivity(event.activity, event.mac);
      break;
    case StationActivity::kReading:
    case StationActivity::kRead:
      break;
  }
}

void TileState::ApplyPhase(StationPhase phase, int64_t now_ms) {
  const StationPhase before = phase_;
  phase_ = phase;
  switch (phase) {
    case StationPhase::kReading:
      // The next unit: what was said about the one before no longer holds.
      ForgetResult();
      module_class_.clear();
      break;
    case StationPhase::kBurning:
      // Back from the commit, the same burn goes on; otherwise a new one begins.
      if (before != StationPhase::kCommitting) {
        ForgetResult();
        written_ = 0;
      }
      break;
    case StationPhase::kUpgrading:
      ForgetResult();
      break;
    case StationPhase::kRestarting:
      // The verify's read-back returns here: the restart has not begun again.
      if (before != StationPhase::kVerifying) restart_since_ms_ = now_ms;
      break;
    case StationPhase::kNoUnit:
    case StationPhase::kReady:
    case StationPhase::kCommitting:
    case StationPhase::kVerifying:
      break;
  }
}

void TileState::ApplyStatus(const std::string& text) {
  const std::string_view status = text;
  if (status == kWriteDone) {
    written_ = kModuleBytes;
    return;
  }
  if (!status.starts_with(kWriteOffsetPrefix)) return;
  const std::string_view digits = status.substr(kWriteOffsetPrefix.size());
  int offset = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), offset);
  if (error == std::errc() && end == digits.data() + digits.size()) {
    written_ = std::clamp(offset, 0, kModuleBytes);
  }
}

void TileState::ApplyRecord(const JournalRecord& record) {
  if (!record.outcome) return;
  if (record.kind == RecordKind::kBurn && !IsRefusal(*record.outcome)) {
    ++counts_.attempts;
    if (IsGoodOutcome(*record.outcome)) {
      ++counts_.passed;
    } else {
      ++counts_.failed;
    }
  }
  // A refusal's record may come long after it (a journal that could not take it at once): the
  // refusal itself was shown and counted when it happened.
  const Verdict now = verdict_.value_or(Verdict{});
  const Verdict next = VerdictAfterOutcome(now, record);
  if (next != now) verdict_ = next;
}

void TileState::SetAdapterPresent(bool present) {
  adapter_present_ = present;
  if (!present) {
    ForgetUnit();
    phase_ = StationPhase::kNoUnit;
  }
}

void TileState::ForgetResult() {
  verdict_.reset();
  notice_.clear();
}

void TileState::ForgetUnit() {
  ForgetResult();
  unit_present_ = false;
  burn_enabled_ = false;
  mac_.clear();
  chip_.clear();
  module_class_.clear();
}

TileFace TileState::Face(int64_t now_ms) const {
  TileFace face;
  face.mac = mac_;
  face.chip = chip_;
  face.module_class = module_class_;
  face.notice = notice_;
  face.counts = counts_;
  if (!adapter_present_) {
    face.word = TileWord::kNoAdapter;
  } else if (verdict_) {
    face.word = TileWord::kVerdict;
    face.headline = verdict_->text;
    face.tone = verdict_->tone;
    return face;
  } else {
    switch (phase_) {
      case StationPhase::kNoUnit:
        face.word = TileWord::kNoUnit;
        break;
      case StationPhase::kReady:
        face.word = !unit_present_ ? TileWord::kNoUnit
                    : burn_enabled_ ? TileWord::kScanLabel
                                    : TileWord::kUnitFound;
        break;
      case StationPhase::kReading:
        face.word = TileWord::kReading;
        break;
      case StationPhase::kBurning:
      case StationPhase::kCommitting:
        face.word = TileWord::kBurning;
        face.written = written_;
        break;
      case StationPhase::kRestarting:
        face.word = TileWord::kRestarting;
        break;
      case StationPhase::kVerifying:
        face.word = TileWord::kVerifying;
        break;
      case StationPhase::kUpgrading:
        face.word = TileWord::kUpgrading;
        break;
    }
  }
  face.headline = WordText(face.word);
  if (face.word == TileWord::kRestarting) {
    face.headline += " " + std::to_string(std::max<int64_t>(0, now_ms - restart_since_ms_) / 1000) + " s";
  }
  if (IsBusy(face.word)) face.tone = VerdictTone::kNeutral;
  return face;
}

bool TileState::Ticking() const {
  return adapter_present_ && !verdict_ && phase_ == StationPhase::kRestarting;
}

}  // namespace stampwright
