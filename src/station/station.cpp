#include "station/station.h"

#include <utility>

#include "station/attempts.h"
#include "station/burn.h"
#include "station/firmware_upgrade.h"
#include "station/module_read.h"
#include "station/page_procedure.h"
#include "station/return_watch.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"

namespace stampwright {

Station::Station(Page& page, PacketDriver& driver, Clock& clock, Timer& timer,
                 ArpFlush& arp_flush, Preferences preferences, StationSettings settings)
    : core_(std::make_unique<StationCore>(page, driver, clock, timer, arp_flush,
                                          std::move(preferences), std::move(settings))) {}

Station::~Station() = default;

StationCore& CoreOf(Station& station) { return *station.core_; }

void Station::LinkJournal(JournalLink link) { core_->journal = std::move(link); }

void Station::SetYieldToEvents(std::function<void()> yield) {
  core_->yield_to_events = std::move(yield);
}

void Station::SetOnRefused(std::function<void(Outcome)> on_refused) {
  core_->on_refused = std::move(on_refused);
}

void Station::PageCreated() { OnPageCreated(*core_); }
void Station::PageActivated() { OnPageActivated(*core_); }
void Station::PageDeactivated() { OnPageDeactivated(*core_); }
void Station::PageDestroyed() { OnPageDestroyed(*core_); }
void Station::PageCommand(int id) { OnPageCommand(*core_, id); }
void Station::ScanTick() { OnScanTimer(*core_); }

void Station::CloseRequested(std::function<void()> close) {
  OnCloseRequested(*core_, std::move(close));
}

int Station::OpenAdapters() {
  OpenAllAdapters(core_->adapters);
  return core_->adapters.AdapterCount;
}

std::vector<AnsweringUnit> Station::ListUnits(int adapter, uint32_t timeout_ms) {
  return ListAnsweringUnits(*core_, adapter, timeout_ms);
}

bool Station::WaitForUnit(int adapter, const MacAddress& mac, uint32_t timeout_ms) {
  return WaitForUnitAnswer(*core_, adapter, mac, timeout_ms);
}

void Station::ReadModule() { stampwright::ReadModule(*core_); }

bool Station::ReadModuleImage(ParameterModule& into) {
  return stampwright::ReadModuleImage(*core_, into);
}

bool Station::WriteModuleImage(const ParameterModule& module) {
  return stampwright::WriteModuleImage(*core_, module);
}

bool Station::WriteFirmwareImage(const uint8_t* data, size_t length) {
  return stampwright::WriteFirmwareImage(*core_, data, length);
}

bool Station::CommitModule(uint8_t module_id) {
  stampwright::CommitModule(*core_, module_id);
  return core_->commit_answered;
}

void Station::Burn() { BurnCommand(*core_); }

void Station::RefuseLabelInFlight(const std::string& label, const std::string& text) {
  stampwright::RefuseLabelInFlight(*core_, label, text);
}

bool Station::ReturnedOnOtherBay(const std::string& mac, const std::string& text) {
  return EndReturnedOnOtherBay(*core_, mac, text);
}

void Station::Warn(const std::string& text) { core_->page.MessageBox(text, "Mac Burn", kMbIconWarning); }

bool Station::ReturnWatchActive() const { return stampwright::ReturnWatchActive(*core_); }

void Station::EndReturnWatch() { EndReturnWatchOnClose(*core_); }

const StationSettings& Station::settings() const { return core_->settings; }
const ShownUnit& Station::shown() const { return core_->shown; }
const ParameterModule& Station::module() const { return core_->module; }
uint32_t Station::read_offset() const { return core_->registers.ReadTransferOffset; }
uint32_t Station::write_offset() const { return core_->registers.WriteTransferOffset; }
const MacAddress& Station::burned_mac() const { return core_->BurnedMac; }
bool Station::commit_answered() const { return core_->commit_answered; }
bool Station::verify_failed() const { return core_->verify_failed; }
const JournalLink& Station::journal() const { return core_->journal; }
StationPhase Station::phase() const { return Phase(*core_); }

}  // namespace stampwright
