#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/mac_pool.h"
#include "journal/journal.h"
#include "label/label_template.h"
#include "label/printer.h"
#include "programming/mac_database.h"
#include "station/station_events.h"

namespace stampwright {

// Where a burn's MAC comes from: a label scanned or typed (as always), or the station's pool.
enum class MacSource { kLabel, kPool };

struct LabelSettings {
  MacSource source = MacSource::kLabel;
  bool pool_confirm = false;  // pool: the MAC is typed in, the operator presses Burn
  size_t pool_warn = 100;     // warn below this many free MACs
  std::optional<PrinterTarget> printer;
  LabelTemplate label = LabelTemplate::Default();
  bool scan_back = false;     // a PASS is final once its printed label is scanned back
  std::string station;        // the station's name, on labels and in records
  std::string mac_prefix{kDefaultMacPrefix};
  std::string database_path{kDefaultMacDatabasePath};  // for the label's password
};

// What the desk asks its front end to do.
struct BurnPoolMac {  // type mac into the bay's New MAC and, unless confirm, press Burn
  int bay = 0;
  std::string mac;
  bool press = true;
};
struct PrintJob {  // send zpl to the printer, then call Printed
  int bay = 0;
  std::string mac;
  std::string zpl;
};
struct BayNotice {  // the bay's line of text for the operator
  int bay = 0;
  std::string text;
};
struct PoolWarning {  // the pool runs low (or is empty: text says so)
  size_t left = 0;
  std::string text;
};
struct LabelReport {  // one print, as it went
  int bay = 0;
  std::string mac;
  std::string printer;
  bool ok = false;
  std::string reason;
};
struct ScanBackReport {  // a scanned label taken as a scan-back
  int bay = 0;  // 0: none
  std::string label;
  std::string result;  // "label-verified", "label-mismatch", "refused"
  std::string reason;
};
using DeskAction =
    std::variant<BurnPoolMac, PrintJob, BayNotice, PoolWarning, LabelReport, ScanBackReport>;

// The command a bay runs for a BurnPoolMac: the MAC typed into New MAC and, unless the operator
// confirms, Burn pressed (a disabled Burn does nothing, as a click would).
std::function<void(Station&, PageModel&)> PoolBurnCommand(const BurnPoolMac& burn);

inline constexpr std::string_view kPoolEmptyText = "The MAC pool is empty.";
inline constexpr std::string_view kScanPrintedLabelText = "Scan the printed label";

// Labels made at the station and MACs drawn from its pool, for every bay, on the front end's
// thread: it sees each bay's events and tells the front end what to do (post a burn, print a
// label, show a line); the station itself is unchanged. Every print, failed or not, and every
// scanned-back label is a "label" record in the journal (its own connection).
class LabelDesk {
 public:
  LabelDesk(LabelSettings settings, std::unique_ptr<MacPool> pool, Journal* journal, int bays);

  const LabelSettings& settings() const { return settings_; }
  bool pool_mode() const { return pool_ != nullptr; }

  // The first warning when the pool starts low or empty.
  std::vector<DeskAction> Start();
  std::vector<DeskAction> Observe(const StationEvent& event);
  // The printer's answer to a PrintJob: nothing when printed, else why not.
  std::vector<DeskAction> Printed(int bay, const std::string& mac,
                                  const std::optional<std::string>& failure);
  // Prints a held unit's label again (a bay whose last print failed, or any PASS not yet
  // verified).
  std::vector<DeskAction> Reprint(int bay);
  // A scanned line. Taken here when some bay waits for its printed label, or in pool mode (a
  // MAC label burns nothing then); nothing: the front end routes it as a label.
  std::optional<std::vector<DeskAction>> Scan(std::string_view text);

  // What the top line adds: the pool's state, or the bay waiting for its scan-back.
  std::string TopLine() const;
  bool AwaitingScanBack(int bay) const;
  // The bay's last label did not print: its unit is held until a reprint.
  bool LabelFailed(int bay) const;

 private:
  enum class LabelState { kNone, kPrinting, kFailed, kAwaitingScan, kDone };
  struct Bay {
    std::string chip;
    std::string offered;        // the pool's MAC for the unit on the bay, until settled
    bool burned_this_unit = false;
    int offers = 0;             // MACs tried for this unit (a claim refused moves to the next)
    std::string passed;         // the MAC of the last PASS, until the unit goes
    std::string burned;         // the MAC the unit's last attempt sent frames for, until it goes
    LabelState label = LabelState::kNone;
  };

  Bay* Find(int bay);
  const Bay* Find(int bay) const;
  void Offer(int bay, std::vector<DeskAction>& actions);
  void Settle(const std::string& mac);
  void WarnIfLow(std::vector<DeskAction>& actions);
  void StartPrint(int bay, std::vector<DeskAction>& actions);
  void RecordLabel(int bay, const std::string& mac, const std::string& reason,
                   std::optional<bool> verified, std::vector<DeskAction>& actions);

  LabelSettings settings_;
  std::unique_ptr<MacPool> pool_;
  Journal* journal_;
  std::vector<Bay> bays_;
  std::optional<size_t> warned_at_;
};

}  // namespace stampwright
