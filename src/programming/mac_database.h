#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "resources/page.h"

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
inline constexpr size_t kMacDatabaseBlockSize = 64 * 1024;
// Entered MAC text: at most this many characters of control 1009 are read.
inline constexpr size_t kMacTextLength = 12;
inline constexpr size_t kPasswordLength = 16;
// "%c%c%c%c-%c%c%c%c-%c%c%c%c-%c%c%c%c"
inline constexpr size_t kGroupedPasswordLength = 19;
// What EncodeMacRecord puts at position 21, which the lookup never reads.
inline constexpr char kMacRecordFiller = '0';

struct MacLookupOptions {
  std::string mac_prefix{kDefaultMacPrefix};
  std::string database_path{kDefaultMacDatabasePath};
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

// Looks the MAC typed into the New MAC edit up in the database. On a match writes the MAC text
// into the MAC field and the grouped password into the password field and returns true; the
// first matching read wins. Otherwise shows one message box (the database cannot be opened, or
// no read matches) and returns false, leaving both fields alone.
bool LookupMacRecord(Page& page, const MacLookupOptions& options = {});

}  // namespace stampwright
