#pragma once

#include <functional>
#include <memory>

#include "resources/page_model.h"
#include "settings/preferences.h"
#include "station/journal_link.h"
#include "station/station.h"
#include "station/station_events.h"
#include "station/station_loop.h"
#include "transport/arp_flush.h"
#include "transport/clock.h"
#include "transport/packet_driver.h"

namespace stampwright {

struct StationCore;

// What a station is built from: its hardware, its settings and its journal.
struct StationParts {
  PacketDriver& driver;
  Clock& clock;
  ArpFlush& arp_flush;
  Preferences preferences;
  StationSettings settings;
  JournalLink journal;
  int bay = 1;
  // A person answers message boxes and file dialogs: the station waits for each answer. Without
  // one, boxes are answered OK at once and dialogs take the answers queued on the page.
  bool operator_answers = false;
};

// One station on a thread of its own: its page (the state the operator's view is filled from),
// its scan timer and every operation run there; commands come in through Post, and everything
// it does goes out as events through the outlet, called on the station's thread, in order.
class StationHost {
 public:
  using Outlet = std::function<void(StationEvent event)>;

  StationHost(StationParts parts, Outlet outlet);
  // Closes the page (state files written) if Close was never asked, and ends the thread.
  ~StationHost();
  StationHost(const StationHost&) = delete;
  StationHost& operator=(const StationHost&) = delete;

  // Runs on the station's thread after each scan tick (a front end's own check).
  void SetAfterTick(std::function<void()> after_tick) { after_tick_ = std::move(after_tick); }
  // Begins the thread: page creation (the start-up scans), then after_created, then the page's
  // activation, then a StartedEvent.
  void Start(std::function<void()> after_created = {});
  // Runs command on the station's thread after the commands before it and after any device
  // operation under way.
  void Post(std::function<void(Station& station, PageModel& page)> command);
  // The close: after the commands posted before it, the page is deactivated and destroyed (the
  // state file written), a ClosedEvent goes out and the thread ends.
  void Close();
  // Waits for the thread to end (after Close).
  void Join() { loop_.Join(); }

  int bay() const { return bay_; }
  // For the station's thread only: what the outlet may consult while it runs.
  Station& station() { return station_; }

 private:
  void Publish(StationEventBody body);
  void CloseNow();

  const int bay_;
  Outlet outlet_;
  StationLoop loop_;
  PageModel page_;
  Station station_;
  StationCore& core_;  // station_'s state
  std::function<void()> after_tick_;
  bool started_ = false;
  bool closed_ = false;  // the station's thread only
};

}  // namespace stampwright
