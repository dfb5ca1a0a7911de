#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "journal/record.h"

namespace stampwright {

// A range of MACs as the 48-bit numbers they spell, both ends inside.
struct MacRange {
  uint64_t first = 0;
  uint64_t last = 0;
};

// The most MACs a pool spans: a pool is kept in memory, one entry per MAC.
inline constexpr uint64_t kMaxPoolSize = uint64_t{1} << 24;

// "FIRST-LAST", 12 hex digits each (separators inside a MAC allowed), FIRST not above LAST.
std::optional<MacRange> ParseMacRange(std::string_view text, std::string* error);

// What a MAC's journal records say about handing it out.
//  - free: no record, or only burn attempts refused before any module frame was sent
//    ("duplicate-refused", "lookup-failed", "journal-error": the guard, the lookup or the journal
//    said no) and releases. Such a MAC goes back to the pool.
//  - held: an attempt still open (its claim stands), or a PASS whose last label did not print.
//  - scrapped: a scrap record.
//  - burned: anything else. Once a burn attempt has sent its first module frame its commit may
//    have landed; a record cannot tell a write that no unit confirmed from one that it did, so
//    every such attempt, whatever its outcome, keeps its MAC out of the pool for good. A label
//    or a firmware record does the same: the MAC is on a unit or on a printed label.
enum class PoolMacState { kFree, kHeld, kScrapped, kBurned };
PoolMacState PoolStateOf(const std::vector<const JournalRecord*>& records);

struct PoolCounts {
  size_t free = 0;
  size_t burned = 0;
  size_t scrapped = 0;
  size_t held = 0;
  size_t missing = 0;  // in the ranges, not in cam.dbr: never handed out
};

// The MACs cam.dbr holds inside ranges, read as the station reads the file; false when it cannot
// be opened.
bool ReadPoolDatabase(const std::string& path, std::string_view mac_prefix,
                      const std::vector<MacRange>& ranges, std::set<uint64_t>* macs);

// The station's pool: the MACs of its ranges that cam.dbr holds, sorted by their records. Owned
// by one thread (the front end's); the journal's claim stays the one guard against a MAC burned
// twice, the pool only chooses which MAC to try.
class MacPool {
 public:
  MacPool(std::vector<MacRange> ranges, std::set<uint64_t> in_database);

  // Sorts every MAC of the pool by the journal's records (all of them, any order).
  void Load(const std::vector<JournalRecord>& records);
  PoolCounts Counts() const;
  size_t free() const { return free_.size(); }

  // The lowest free MAC (12 upper-case hex digits), taken out of the free ones until Settle
  // decides it again.
  std::optional<std::string> Take();
  // Decides mac again from its records as they stand now: back to the free ones, or kept out.
  void Settle(const std::string& mac, const std::vector<JournalRecord>& records);
  // A burn of mac sent frames: kept out whatever the records say so far (a line's records reach
  // its database after the station's outbox).
  void KeepOut(const std::string& mac);
  // mac is no longer in cam.dbr: never handed out again.
  void Drop(const std::string& mac);
  bool Contains(const std::string& mac) const;

 private:
  std::vector<MacRange> ranges_;
  std::set<uint64_t> in_database_;
  std::set<uint64_t> free_;
  std::map<uint64_t, PoolMacState> kept_out_;
};

}  // namespace stampwright
