#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace stampwright {

// The first three octets of every MAC in the database; never stored in the file. A locally
// administered prefix (second digit 2), upper-case hex.
inline constexpr std::string_view kDefaultMacPrefix = "02A0C5";
inline constexpr std::string_view kDefaultMacDatabasePath = "cam.dbr";

// A record line carries its MAC digits and password characters over positions 0 to 22.
inline constexpr size_t kMacRecordLength = 23;
// The database is read with an 80-byte line buffer: one read takes at most 79 characters.
inline constexpr size_t kMacDatabaseReadSize = 79;
// The file is read in blocks of this size; memory does not grow with the file.
inline constexpr size_t kMacDatabaseBlockSize = 256 * 1024;
// Entered MAC text: at most this many characters of control 1009 are read.
inline constexpr size_t kMacTextLength = 12;
inline constexpr size_t kPasswordLength = 16;
// "%c%c%c%c-%c%c%c%c-%c%c%c%c-%c%c%c%c"
inline constexpr size_t kGroupedPasswordLength = 19;
// What EncodeMacRecord puts at position 21, which the lookup never reads.
inline constexpr char kMacRecordFiller = '0';

// A database of at least this size is searched as two halves at once, which a large file
// needs to be read about as fast as the page cache hands it out.
inline constexpr size_t kMacDatabaseSplitBytes = 4 * 1024 * 1024;

struct MacLookupOptions {
  std::string mac_prefix{kDefaultMacPrefix};
  std::string database_path{kDefaultMacDatabasePath};
  size_t split_from_bytes = kMacDatabaseSplitBytes;  // tests split small files too
};

struct MacRecord {
  std::string mac_text;       // 12 characters: the prefix, then the six record digits
  std::string password_text;  // 19 characters, grouped as the page shows it
};

// One read of the database as a record. A read is a record only when it holds at least 23
// characters before its newline (a NUL byte does not end a read) and none of the 22 characters
// the MAC and password are taken from is a NUL. Shorter reads yield nothing: no position past
// the read's end is ever looked at.
std::optional<MacRecord> DecodeMacRecord(std::string_view line,
                                         std::string_view mac_prefix = kDefaultMacPrefix);

// The 23-character record line (no newline) for a 12-character MAC and a 16-character password.
// The MAC's first six characters are the prefix and are not stored. Empty on wrong lengths.
std::string EncodeMacRecord(std::string_view mac12, std::string_view password16);

enum class MacSearchStatus { kFound, kCannotOpen, kNoRecord };

struct MacSearchResult {
  MacSearchStatus status = MacSearchStatus::kNoRecord;
  MacRecord record;  // set when found
};

// Looks an entered MAC text up in the database; the first matching read wins. The file is opened
// only if it is a regular file, without blocking, and closed on every way out.
MacSearchResult SearchMacDatabase(std::string_view entry, const MacLookupOptions& options = {});

}  // namespace stampwright
