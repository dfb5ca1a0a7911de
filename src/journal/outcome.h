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
  kReturnedOnOtherBay,
  kCount,
};

inline constexpr std::array<std::string_view, static_cast<size_t>(Outcome::kCount)> kOutcomeNames = {
    "success",     "duplicate-refused", "lookup-failed", "write-failed",  "commit-unconfirmed",
    "wrong-return", "no-return",        "interrupted",   "journal-error", "firmware-ok",
    "verify-failed", "returned-on-other-bay",
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

// An attempt refused before anything was sent to a unit: the guard or the line said no, the
// typed MAC was not found, or the journal could not record it. No unit was touched, so it is
// neither a failure nor part of the yield.
constexpr bool IsRefusal(Outcome outcome) {
  return outcome == Outcome::kDuplicateRefused || outcome == Outcome::kLookupFailed ||
         outcome == Outcome::kJournalError;
}

}  // namespace stampwright
