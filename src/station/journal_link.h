#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"

namespace stampwright {

// A record whose outcome waits in memory for the journal.
struct UnwrittenRecord {
  JournalRecord record;
  bool opened = false;        // its opening record is in the journal: only the outcome is missing
  bool commit_noted = true;   // its confirmed commit (if any) is in the journal
};

// The station's tie to the production journal: which journal (or none), and the attempt under
// way or waiting for the unit's return.
struct JournalLink {
  bool enabled = false;      // off with "--journal none": no records, no guard
  Journal* journal = nullptr;  // not owned; null while enabled means it could not be opened
  std::string open_error;    // why it could not be opened
  // Opens the journal again once it could not be opened (a full or read-only disk at start):
  // sets journal, or open_error to why not. Tried at Burn, Browse and every scan tick, so that
  // the station recovers without a restart. Empty: no second try.
  std::function<void(JournalLink&)> reopen;
  // Told when reopen has opened the journal (a front end hooks its observers up to it).
  std::function<void(Journal&)> on_reopened;
  std::string station_name;
  // Told every record whose outcome has just been written.
  std::function<void(const JournalRecord&)> on_outcome;
  std::function<int64_t()> now = UtcNowMs;

  std::optional<JournalRecord> current;  // begun, no outcome yet
  bool current_written = false;          // current's opening record is in the journal
  bool awaiting_return = false;          // current's commit was sent whole; the unit may return
  // The commit's confirmation was not seen, but a confirmation of an earlier commit still lets
  // "Success" show once the unit answers under the burned MAC; else the watch ends unconfirmed.
  bool commit_unconfirmed = false;
  uint32_t pressed_tick = 0;             // the command that started current
  uint32_t commit_tick = 0;
  // The journal refused current's confirmed commit: it is noted again before the outcome, which
  // ends the attempt's claim on its MAC; a MAC must never be unclaimed and unburned at once.
  bool commit_unnoted = false;
  // Records with an outcome that the journal could not take yet, oldest first.
  std::vector<UnwrittenRecord> unwritten;
};

// Tries link.reopen when the journal is on but not open; true when it is open afterwards.
inline bool ReopenJournal(JournalLink& link) {
  if (!link.enabled || link.journal != nullptr || !link.reopen) return link.journal != nullptr;
  link.reopen(link);
  if (link.journal != nullptr && link.on_reopened) link.on_reopened(*link.journal);
  return link.journal != nullptr;
}

// How long a unit may take to come back under the burned MAC before "no-return".
inline constexpr uint32_t kReturnWatchMs = 120000;

}  // namespace stampwright
