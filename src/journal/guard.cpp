#include "journal/guard.h"

namespace stampwright {

JournalStatus CheckBurnGuard(Journal& journal, const std::string& mac, const std::string& unit_mac,
                             std::optional<BurnedMac>* refusing) {
  refusing->reset();
  if (unit_mac == mac) return {};
  return journal.FindBurned(mac, refusing);
}

std::string AlreadyBurnedText(const std::string& mac, const BurnedMac& burned) {
  return "MAC " + mac + " was already burned by station " + burned.station + " at " +
         FormatUtcSeconds(burned.committed) + " UTC.";
}

}  // namespace stampwright
