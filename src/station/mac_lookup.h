#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "programming/mac_database.h"
#include "resources/page.h"

namespace stampwright {

struct StationCore;

// Looks the MAC typed into the New MAC edit up in the database. On a match writes the MAC text
// into the MAC field and the grouped password into the password field and returns true.
// Otherwise shows one message box (the database cannot be opened, or no read matches) and
// returns false, leaving both fields alone.
// found, when given, takes the record shown.
bool LookupMacRecord(Page& page, const MacLookupOptions& options = {}, MacRecord* found = nullptr);

// Burn's lookup on a station: the New MAC in the station's database, with its MAC prefix; the
// record found is what the station burns.
bool LookupLabel(StationCore& station);

// How much of the New MAC text is read to normalise it: a MAC with a separator between every
// two digits and some blanks around.
inline constexpr size_t kMacEntryScanLength = 40;

// The entry as the lookup compares it, when it is a MAC written otherwise: twelve hex digits once
// the separators (':', '-', '.') and blanks are taken out, shown in upper case. Nothing when the
// entry is already in that form or is no MAC at all (the lookup then says so as usual).
std::optional<std::string> NormalizedMacEntry(std::string_view entry);

}  // namespace stampwright
