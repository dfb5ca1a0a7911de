#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/mac_address.h"
#include "journal/journal.h"
#include "programming/parameter_module.h"
#include "protocol/management_message.h"
#include "resources/page.h"
#include "settings/preferences.h"
#include "station/journal_link.h"
#include "station/station_phase.h"
#include "station/timer.h"
#include "station/unit_watch.h"
#include "transport/arp_flush.h"
#include "transport/clock.h"
#include "transport/packet_driver.h"

namespace stampwright {

// Choices made on the command line that the core needs.
struct StationSettings {
  bool full_waits = false;  // keep the fixed-length waits instead of ending once answered
  // Every timing as originally specified, for comparison: full waits, one adapter after another,
  // waits that do not hand control to the event loop.
  bool classic = false;
  std::array<uint8_t, 3> oui = kDefaultVendorOui;
  std::string mac_prefix;  // empty: the compiled-in MacPrefix
  std::string database_file = "cam.dbr";
  // --workdir: where every relative file name is taken; empty: the process's working directory.
  std::string workdir;
  // A unit found is read at once (the page); the tool's commands read only when told to.
  bool auto_read = true;
  // 0: one station without bays; else the bay's number.
  int bay = 0;
};

// What the station itself has written into the page's fields: the page is a view of it, and
// nothing is decided by reading a control back.
struct ShownUnit {
  std::string chip;          // chip model field: "PX300", "PX100", or what it showed before
  std::string firmware;      // firmware version field
  std::string mac;           // MAC field: the answering unit's, or the label's after a lookup
  std::string password;      // password field, grouped, after a lookup
  std::string module_class;  // after a complete read: "PX300 Class B", "PX100 Class B", "Other"
  std::string dak, nmk;      // the last burn's keys as shown
  long ticks = 0;            // the scan tick counter
};

// What a front end shows beside the page (the verdict band), told as it happens: typed, so
// that no front end decides anything from a status text.
enum class StationActivity {
  kReading,       // a unit's module read began
  kRead,          // it ended complete
  kBurning,       // Burn went ahead: the first module frame is next
  kPassed,        // "Success": the unit is back under the burned MAC
  kVerifyFailed,  // "Verify failed"
};

// How many sends of one chunk that do not advance the offset end a transfer: an unplugged or
// stubborn unit must never hold the station for good.
constexpr unsigned kChunkSendLimit = 10;

struct StationCore;

// One station: the page's procedure, the operations the tool runs on a unit on its bench, and
// read-only views of what the station has shown and holds. Its state is its own: the code in
// station/ works on it, and nothing outside writes it.
class Station {
 public:
  Station(Page& page, PacketDriver& driver, Clock& clock, Timer& timer, ArpFlush& arp_flush,
          Preferences preferences, StationSettings settings = {});
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Wiring, before the page is created or between operations.
  void LinkJournal(JournalLink link);
  // Lets the front end's event loop run for a moment during the waits (single-thread front ends).
  void SetYieldToEvents(std::function<void()> yield);
  // Told when a Burn or a firmware upgrade is refused before anything was sent.
  void SetOnRefused(std::function<void(Outcome reason)> on_refused);

  // The page's life (see page_procedure.h).
  void PageCreated();
  void PageActivated();
  void PageDeactivated();
  void PageDestroyed();
  void PageCommand(int id);
  void ScanTick();
  void CloseRequested(std::function<void()> close);

  // Operations on the unit of one adapter, as the tool runs them on a bench.
  // Opens every adapter the driver offers; the number opened.
  int OpenAdapters();
  std::vector<AnsweringUnit> ListUnits(int adapter, uint32_t timeout_ms);
  bool WaitForUnit(int adapter, const MacAddress& mac, uint32_t timeout_ms);
  void ReadModule();
  bool ReadModuleImage(ParameterModule& into);
  bool WriteModuleImage(const ParameterModule& module);
  bool WriteFirmwareImage(const uint8_t* data, size_t length);
  // True when this commit was confirmed.
  bool CommitModule(uint8_t module_id);
  // The Burn command: lookup, guard, claim, burn, commit, then the return watch.
  void Burn();
  // A label being burned on another bay, scanned for this one: recorded as a refused duplicate,
  // text shown as a warning, nothing sent.
  void RefuseLabelInFlight(const std::string& label, const std::string& text);
  // The unit burned here (mac: 12 digits) answered on another bay: the attempt ends
  // "returned-on-other-bay" and text is shown; false when mac is not this bay's burn.
  bool ReturnedOnOtherBay(const std::string& mac, const std::string& text);
  // A warning from outside the station (another bay's doing), shown as the station's own.
  void Warn(const std::string& text);
  bool ReturnWatchActive() const;
  // Ends the return watch as a close does (the attempt recorded as not returned).
  void EndReturnWatch();

  // What the station has shown and holds.
  const StationSettings& settings() const;
  const ShownUnit& shown() const;
  const ParameterModule& module() const;
  uint32_t read_offset() const;
  uint32_t write_offset() const;
  const MacAddress& burned_mac() const;
  bool commit_answered() const;
  bool verify_failed() const;
  const JournalLink& journal() const;
  StationPhase phase() const;

 private:
  friend StationCore& CoreOf(Station& station);
  std::unique_ptr<StationCore> core_;
};

}  // namespace stampwright
