#pragma once

#include <optional>
#include <string>

#include "journal/journal.h"

namespace stampwright {

// The duplicate guard, for the station and for any other program that burns a unit: a MAC is
// burned once a commit carrying it was confirmed. Another burn of it is allowed only when the
// unit on the wire already answers under it (rework of the same unit; units fresh from their
// maker share one default MAC, so the MAC before a burn proves nothing else), or a release was
// recorded after its last confirmed commit. mac and unit_mac are 12 upper-case hex digits.
// *refusing is the burn that forbids this one, or empty when the burn may go ahead.
JournalStatus CheckBurnGuard(Journal& journal, const std::string& mac, const std::string& unit_mac,
                             std::optional<BurnedMac>* refusing);

// "MAC %s was already burned by station %s at %s UTC.", whole (no 80-byte cut).
std::string AlreadyBurnedText(const std::string& mac, const BurnedMac& burned);

}  // namespace stampwright
