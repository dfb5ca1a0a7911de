#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "journal/outcome.h"
#include "journal/record.h"

namespace stampwright {

// The last confirmed commit of a MAC that no later release allows again.
struct BurnedMac {
  std::string station;
  int64_t committed = 0;
};

// Empty when a journal operation went through; else the reason, with the database's own words.
struct JournalStatus {
  std::string error;
  // The journal's server could not be reached: the operator sees "Journal unavailable: " and error.
  bool unavailable = false;
  // The claim refuses the attempt (its MAC is burned, claimed by another attempt or leased to
  // another station): the text of the box the operator sees instead of a journal error.
  std::string refusal{};
  // Set with the refusal when the MAC is burned: the commit that forbids this burn.
  std::optional<BurnedMac> burned{};
  bool ok() const { return error.empty() && refusal.empty(); }

  // A failure, in the words of the library or the database.
  static JournalStatus Error(std::string text) { return {std::move(text)}; }
  // The server could not be reached: text is libpq's message.
  static JournalStatus Unavailable(std::string text) { return {std::move(text), true}; }
  // The claim refused the attempt: text is the box, burned the commit that forbids it (if any).
  static JournalStatus Refused(std::string text, std::optional<BurnedMac> burned = std::nullopt) {
    return {{}, false, std::move(text), std::move(burned)};
  }
};

// Told when a journal on a server loses it (false, libpq's message) and regains it (true, the
// server's description without the password).
using ConnectionObserver = std::function<void(bool connected, const std::string& text)>;

// The line the station prints on stderr for such a change.
inline std::string ConnectionChangeText(bool connected, const std::string& text) {
  return connected ? "journal: the database is back: " + text
                   : "journal: lost the database: " + text;
}

// A change to the journal that others may be told of in its own transaction: a record
// appended, an attempt's commit noted, an attempt finished (its outcome written).
enum class JournalChange { kAppended, kCommitNoted, kFinished };

// What an attempt learns at its end, written once with its outcome.
struct AttemptEnd {
  Outcome outcome = Outcome::kInterrupted;
  int64_t finished = 0;  // UTC ms
  std::optional<int64_t> burn_ms;
  std::optional<int64_t> return_ms;
  // What reading the returned unit back showed; both absent without a read-back.
  std::optional<bool> verified;
  std::optional<int64_t> other_bytes_changed;
};

// A record the journal flagged as it took it: which, and why.
struct FlaggedRecord {
  std::string id;
  std::string mac;
  std::string station;
  std::string reason;
};

// Which records to read, oldest first. Empty fields do not filter.
struct RecordFilter {
  std::string mac;
  std::optional<int64_t> since;  // started at or after
  std::optional<int64_t> until;  // started before
  std::string station;
};

// The production journal: every burn and firmware attempt, appended and closed once with its
// outcome; scrap and release records beside them. Nothing recorded is ever changed or deleted
// but for what an attempt learns once (its confirmed commit, its outcome).
//
// One interface for every backend (a file on one station; a database server for a line later,
// where claims and leases are decided by the database). Each call is durable when it returns ok.
class SqliteJournal;

class Journal {
 public:
  virtual ~Journal() = default;

  // Appends record. Fills its id (when empty) and its attempt number for burn and firmware
  // records (1 + the attempts of the same kind and MAC already there). A record may carry its
  // outcome already (a refusal, a record written late).
  //
  // A burn record without an outcome is the attempt's claim on its MAC, taken before the first
  // module frame, and the one place that decides whether the MAC may be burned: in the same
  // transaction as the record, it is refused when the MAC is burned (a confirmed commit with no
  // release after it; not for the rework of a unit that already answers under it), or held by
  // another attempt without an outcome. The claim ends with the attempt's outcome. An earlier
  // FindBurned may show the box sooner, but only the claim is atomic with the write.
  virtual JournalStatus Append(JournalRecord& record) = 0;
  // The attempt's commit was confirmed at utc_ms: from now on its MAC counts as burned.
  virtual JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) = 0;
  // Adds the attempt's end: its outcome and what it learnt. Refused when it has one already.
  virtual JournalStatus Finish(const std::string& id, const AttemptEnd& end) = 0;
  // Closes as "interrupted" the attempts of station left without an outcome; how many.
  virtual JournalStatus CloseInterrupted(const std::string& station, int64_t now, int* closed) = 0;
  // The guard's question: has mac been burned, and not released since?
  virtual JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) = 0;
  // Reads the records filter selects, oldest first.
  virtual JournalStatus Read(const RecordFilter& filter, std::vector<JournalRecord>* records) = 0;
  // Reads one record by id.
  virtual JournalStatus ReadOne(const std::string& id, std::optional<JournalRecord>* record) = 0;
  // Called on the station's scan tick: a journal on a server reconnects, refreshes the
  // station's leases and forwards its outbox here. Nothing for a file.
  virtual void Poll() {}
  virtual void SetConnectionObserver(ConnectionObserver) {}
  // The MAC ranges (first, last, as 48-bit numbers) of station's leases live at now: a line
  // station's pool. A file has none.
  virtual JournalStatus LiveLeases(const std::string& station, int64_t now,
                                   std::vector<std::pair<int64_t, int64_t>>* ranges) {
    (void)station;
    (void)now;
    ranges->clear();
    return JournalStatus::Error("a journal file has no leases: give the pool with --pool");
  }
  // Records the journal itself flagged when they reached it (a line's burns made offline that
  // met a MAC burned elsewhere meanwhile). None for a file.
  virtual JournalStatus ReadFlagged(std::vector<FlaggedRecord>* flagged) {
    flagged->clear();
    return {};
  }
  // The SQLite file on the station that every change of this journal passes through (the
  // journal's own file, or a line station's local outbox), where what a change causes can be
  // written in the change's own transaction; null for a journal without one (the tool's).
  virtual SqliteJournal* LocalFile() { return nullptr; }
};

// Opens the journal a target names: "none" (no journal: null and ok), a file path for the
// one-station backend (created with its directory's permissions, schema migrated forward), or a
// line's PostgreSQL database (a postgresql:// or postgres:// URI, or libpq's key=value string).
// A station names itself: its PostgreSQL journal then keeps its outbox in kPgOutboxFile in the
// working directory and opens even while the database is away. Without a station (the tool) the
// database must answer. directory: where relative file names (the SQLite file, the outbox) are
// taken (--workdir); empty: the process's working directory.
struct OpenedJournal {
  std::unique_ptr<Journal> journal;  // null for "none" or on error
  JournalStatus status;
};
inline constexpr const char* kNoJournalTarget = "none";
inline constexpr const char* kDefaultJournalTarget = "journal.db";
inline constexpr const char* kPgOutboxFile = "journal-outbox.db";
OpenedJournal OpenJournal(const std::string& target, const std::string& station = {},
                          const std::string& directory = {});

}  // namespace stampwright
