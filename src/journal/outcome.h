#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace stampwright {

// Where an attempt ended. The names are what every record and export carries; a new step that
// can end an attempt is one more enumerator and one more name, in the same place in both lists.
enum class Outcome {
  kSuccess,
  kDuplicateRefused,
  kLookupFailed,
  kWriteFailed,
  kCommitUnconfirmed,
  kWrongReturn,
  kNoReturn,
  kInterrupted,
  kJournalError,
  kFirmwareOk,
  kVerifyFailed,
  kCount,
};

inline constexpr std::array<std::string_view, static_cast<size_t>(Outcome::kCount)> kOutcomeNames = {
    "success",     "duplicate-refused", "lookup-failed", "write-failed",  "commit-unconfirmed",
    "wrong-return", "no-return",        "interrupted",   "journal-error", "firmware-ok",
    "verify-failed",
};

constexpr std::string_view OutcomeName(Outcome outcome) {
  return kOutcomeNames[static_cast<size_t>(outcome)];
}

constexpr std::optional<Outcome> ParseOutcome(std::string_view name) {
  for (size_t i = 0; i < kOutcomeNames.size(); ++i) {
    if (kOutcomeNames[i] == name) return static_cast<Outcome>(i);
  }
  return std::nullopt;
}

// An attempt that ended well: a unit burned and back under its MAC, or a firmware committed.
constexpr bool IsGoodOutcome(Outcome outcome) {
  return outcome == Outcome::kSuccess || outcome == Outcome::kFirmwareOk;
}

}  // namespace stampwright
