#include "app/label_desk.h"

#include <cctype>
#include <utility>

#include "base/text.h"
#include "resources/controls.h"
#include "station/mac_lookup.h"

namespace stampwright {
namespace {

// Twelve upper-case hex digits, as a label reads when scanned.
std::optional<std::string> LabelMac(std::string_view text) {
  if (text.size() == 12) {
    std::string upper;
    for (const char c : text) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return NormalizedMacEntry(text);
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
  }
  return NormalizedMacEntry(text);
}

}  // namespace

LabelDesk::LabelDesk(LabelSettings settings, std::unique_ptr<MacPool> pool, Journal* journal,
                     int bays)
    : settings_(std::move(settings)),
      pool_(std::move(pool)),
      journal_(journal),
      bays_(static_cast<size_t>(bays)) {}

LabelDesk::Bay* LabelDesk::Find(int bay) {
  return bay >= 1 && bay <= static_cast<int>(bays_.size()) ? &bays_[static_cast<size_t>(bay - 1)]
                                                           : nullptr;
}

const LabelDesk::Bay* LabelDesk::Find(int bay) const {
  return const_cast<LabelDesk*>(this)->Find(bay);
}

std::vector<DeskAction> LabelDesk::Start() {
  std::vector<DeskAction> actions;
  if (pool_) WarnIfLow(actions);
  return actions;
}

void LabelDesk::WarnIfLow(std::vector<DeskAction>& actions) {
  const size_t left = pool_->free();
  if (left == 0) {
    if (warned_at_ != 0u) actions.push_back(PoolWarning{0, std::string(kPoolEmptyText)});
    warned_at_ = 0;
    return;
  }
  if (left >= settings_.pool_warn) {
    warned_at_.reset();
    return;
  }
  // Once when it first runs low, then once per ten MACs fewer.
  if (!warned_at_ || left + 10 <= *warned_at_) {
    warned_at_ = left;
    actions.push_back(PoolWarning{left, FormatText("%zu MACs left in the pool.", left)});
  }
}

void LabelDesk::Settle(const std::string& mac) {
  if (!pool_ || mac.empty()) return;
  std::vector<JournalRecord> records;
  if (journal_ == nullptr) {
    // Without a journal nothing proves the MAC unused: it stays out.
    return;
  }
  RecordFilter filter;
  filter.mac = mac;
  if (!journal_->Read(filter, &records).ok()) return;  // unknown: kept out, never reused
  pool_->Settle(mac, records);
}

void LabelDesk::Offer(int number, std::vector<DeskAction>& actions) {
  Bay& bay = *Find(number);
  const std::optional<std::string> mac = pool_->Take();
  if (!mac) {
    actions.push_back(BayNotice{number, std::string(kPoolEmptyText)});
    WarnIfLow(actions);
    return;
  }
  bay.offered = *mac;
  ++bay.offers;
  actions.push_back(BurnPoolMac{number, *mac, !settings_.pool_confirm});
  WarnIfLow(actions);
}

std::vector<DeskAction> LabelDesk::Observe(const StationEvent& event) {
  std::vector<DeskAction> actions;
  Bay* bay = Find(event.bay);
  if (bay == nullptr) return actions;
  if (const auto* read = std::get_if<ModuleReadEvent>(&event.body)) {
    bay->chip = read->chip;
    // A unit read after its own burn (it came back, or was read again) is not burned twice.
    if (pool_ && !bay->burned_this_unit) {
      if (!bay->offered.empty()) Settle(std::exchange(bay->offered, {}));
      bay->offers = 0;
      Offer(event.bay, actions);
    }
  } else if (const auto* unit = std::get_if<UnitEvent>(&event.body)) {
    if (unit->present) return actions;
    // The unit's restart after its commit is no unit taken: its PASS or verdict is still to come.
    if (bay->burned_this_unit && bay->passed.empty() && !bay->offered.empty()) return actions;
    bay->burned_this_unit = false;
    if (!bay->offered.empty()) Settle(std::exchange(bay->offered, {}));
    if (bay->label == LabelState::kAwaitingScan) {
      RecordLabel(event.bay, bay->passed, {}, false, actions);
      actions.push_back(BayNotice{event.bay, "Unit taken before its label was scanned back"});
    }
    bay->passed.clear();
    bay->burned.clear();
    bay->label = LabelState::kNone;
  } else if (const auto* activity = std::get_if<ActivityEvent>(&event.body)) {
    if (activity->activity == StationActivity::kBurning) bay->burned_this_unit = true;
    if (activity->activity == StationActivity::kPassed) {
      bay->passed = activity->mac;
      if (settings_.printer) StartPrint(event.bay, actions);
    }
  } else if (const auto* record = std::get_if<RecordEvent>(&event.body)) {
    const JournalRecord& r = record->record;
    if (r.kind == RecordKind::kBurn && r.outcome && !IsRefusal(*r.outcome)) bay->burned = r.mac;
    if (r.kind != RecordKind::kBurn || r.mac != bay->offered || !pool_) return actions;
    bay->offered.clear();
    // Once its first frame was sent a MAC never returns, whatever its records show yet.
    if (bay->burned_this_unit) {
      pool_->KeepOut(r.mac);
    } else {
      Settle(r.mac);
    }
    // A failed lookup gives the MAC back, unless cam.dbr no longer holds it (then the next).
    bool dropped = false;
    if (r.outcome == Outcome::kLookupFailed) {
      MacLookupOptions lookup;
      lookup.mac_prefix = settings_.mac_prefix;
      lookup.database_path = settings_.database_path;
      dropped = SearchMacDatabase(r.mac, lookup).status == MacSearchStatus::kNoRecord;
      if (dropped) pool_->Drop(r.mac);
    }
    // Another station or bay had the MAC: the next one, a few times at most.
    if ((r.outcome == Outcome::kDuplicateRefused || dropped) && bay->offers < 5) {
      bay->burned_this_unit = false;
      Offer(event.bay, actions);
    } else {
      WarnIfLow(actions);
    }
  }
  return actions;
}

void LabelDesk::StartPrint(int number, std::vector<DeskAction>& actions) {
  Bay& bay = *Find(number);
  LabelFields fields;
  fields.mac = bay.passed;
  fields.station = settings_.station;
  fields.bay = number;
  fields.utc_ms = UtcNowMs();
  fields.chip = bay.chip;
  MacLookupOptions lookup;
  lookup.mac_prefix = settings_.mac_prefix;
  lookup.database_path = settings_.database_path;
  const MacSearchResult found = SearchMacDatabase(bay.passed, lookup);
  std::string reason;
  std::optional<std::string> zpl;
  if (found.status != MacSearchStatus::kFound) {
    reason = "no password for " + bay.passed + " in " + settings_.database_path;
  } else {
    fields.password = found.record.password_text;
    zpl = settings_.label.Filled(fields, &reason);
  }
  if (!zpl) {
    bay.label = LabelState::kFailed;
    RecordLabel(number, bay.passed, reason, std::nullopt, actions);
    actions.push_back(LabelReport{number, bay.passed, settings_.printer->text, false, reason});
    actions.push_back(BayNotice{number, "Label printer: " + reason});
    return;
  }
  bay.label = LabelState::kPrinting;
  actions.push_back(PrintJob{number, bay.passed, std::move(*zpl)});
}

std::vector<DeskAction> LabelDesk::Printed(int number, const std::string& mac,
                                           const std::optional<std::string>& failure) {
  std::vector<DeskAction> actions;
  Bay* bay = Find(number);
  RecordLabel(number, mac, failure.value_or(std::string()), std::nullopt, actions);
  actions.push_back(LabelReport{number, mac, settings_.printer->text, !failure,
                                failure.value_or(std::string())});
  // The unit may have gone meanwhile: its label is recorded all the same.
  if (bay == nullptr || bay->passed != mac || bay->label != LabelState::kPrinting) return actions;
  if (failure) {
    bay->label = LabelState::kFailed;
    actions.push_back(BayNotice{number, "Label printer: " + *failure});
  } else if (settings_.scan_back) {
    bay->label = LabelState::kAwaitingScan;
    actions.push_back(BayNotice{number, std::string(kScanPrintedLabelText)});
  } else {
    bay->label = LabelState::kDone;
    actions.push_back(BayNotice{number, "Label printed"});
  }
  return actions;
}

std::vector<DeskAction> LabelDesk::Reprint(int number) {
  std::vector<DeskAction> actions;
  Bay* bay = Find(number);
  if (bay == nullptr || !settings_.printer || bay->passed.empty() ||
      bay->label == LabelState::kPrinting) {
    actions.push_back(BayNotice{number, FormatText("Bay %d has no label to print again.", number)});
    return actions;
  }
  StartPrint(number, actions);
  return actions;
}

void LabelDesk::RecordLabel(int number, const std::string& mac, const std::string& reason,
                            std::optional<bool> verified, std::vector<DeskAction>& actions) {
  if (journal_ == nullptr) return;
  JournalRecord record;
  record.kind = RecordKind::kLabel;
  record.station = settings_.station;
  record.mac = mac;
  record.started = UtcNowMs();
  record.printer = settings_.printer ? settings_.printer->text : std::string();
  record.reason = reason;
  record.label_verified = verified;
  if (bays_.size() > 1) record.bay = number;
  if (const JournalStatus status = journal_->Append(record); !status.ok()) {
    actions.push_back(BayNotice{number, "Journal error: " + status.error + status.refusal});
  }
}

std::optional<std::vector<DeskAction>> LabelDesk::Scan(std::string_view scanned) {
  const std::optional<std::string> label = LabelMac(scanned);
  std::vector<int> awaiting;
  for (int number = 1; number <= static_cast<int>(bays_.size()); ++number) {
    if (AwaitingScanBack(number)) awaiting.push_back(number);
  }
  if (!label || (awaiting.empty() && !pool_)) return std::nullopt;
  std::vector<DeskAction> actions;
  for (const int number : awaiting) {
    Bay& bay = *Find(number);
    if (bay.passed != *label) continue;
    bay.label = LabelState::kDone;
    RecordLabel(number, *label, {}, true, actions);
    actions.push_back(ScanBackReport{number, *label, "label-verified", {}});
    actions.push_back(BayNotice{number, "Label verified"});
    return actions;
  }
  // A label of a unit on another bay: said, and nothing changes.
  for (int number = 1; number <= static_cast<int>(bays_.size()); ++number) {
    const Bay& bay = *Find(number);
    if (bay.passed == *label || bay.offered == *label || bay.burned == *label) {
      const std::string text = FormatText("Label %s belongs to bay %d.", label->c_str(), number);
      actions.push_back(ScanBackReport{0, *label, "refused", text});
      for (const int waiting : awaiting) actions.push_back(BayNotice{waiting, text});
      return actions;
    }
  }
  if (awaiting.size() == 1) {
    const int number = awaiting.front();
    Bay& bay = *Find(number);
    RecordLabel(number, bay.passed, {}, false, actions);
    const std::string text = FormatText("Label %s does not match bay %d's unit %s.", label->c_str(),
                                        number, bay.passed.c_str());
    actions.push_back(ScanBackReport{number, *label, "label-mismatch", text});
    actions.push_back(BayNotice{number, text});
    return actions;
  }
  const std::string reason = awaiting.empty()
                                 ? "The station takes its MACs from its pool; no label is burned."
                                 : FormatText("Label %s is no bay's.", label->c_str());
  actions.push_back(ScanBackReport{0, *label, "refused", reason});
  return actions;
}

std::function<void(Station&, PageModel&)> PoolBurnCommand(const BurnPoolMac& burn) {
  return [mac = burn.mac, press = burn.press](Station& station, PageModel& page) {
    page.Type(kNewMacEdit, mac);
    if (press && !page.Press(kBurnButton)) station.PageCommand(kBurnButton);
  };
}

bool LabelDesk::LabelFailed(int number) const {
  const Bay* bay = Find(number);
  return bay != nullptr && bay->label == LabelState::kFailed;
}

bool LabelDesk::AwaitingScanBack(int number) const {
  const Bay* bay = Find(number);
  return bay != nullptr && bay->label == LabelState::kAwaitingScan;
}

std::string LabelDesk::TopLine() const {
  for (int number = 1; number <= static_cast<int>(bays_.size()); ++number) {
    const Bay& bay = *Find(number);
    if (bay.label == LabelState::kAwaitingScan) {
      return FormatText("Bay %d: scan the printed label", number);
    }
    if (bay.label == LabelState::kFailed) {
      return FormatText("Bay %d: label not printed, print it again", number);
    }
  }
  if (!pool_) return {};
  if (pool_->free() == 0) return std::string(kPoolEmptyText);
  if (pool_->free() < settings_.pool_warn) return FormatText("%zu MACs left in the pool", pool_->free());
  return {};
}

}  // namespace stampwright
