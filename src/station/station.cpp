#include "station/station.h"

#include <utility>

namespace stampwright {

Station::Station(Page& page_in, PacketDriver& driver_in, Clock& clock_in, Timer& timer_in,
                 ArpFlush& arp_flush_in, Preferences preferences_in, StationSettings settings_in)
    : page(page_in),
      driver(driver_in),
      clock(clock_in),
      timer(timer_in),
      arp_flush(arp_flush_in),
      preferences(std::move(preferences_in)),
      settings(std::move(settings_in)) {
  adapters.driver = &driver;
}

MessageContext Station::Messages() {
  return MessageContext{adapters, summaries, registers, settings.oui};
}

}  // namespace stampwright
