#include "station/attempts.h"

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "base/work_directory.h"
#include "crypto/sha256.h"
#include "journal/guard.h"
#include "programming/carrier_table.h"
#include "programming/mac_database.h"
#include "resources/controls.h"
#include "station/return_watch.h"
#include "station/station_core.h"

namespace stampwright {
namespace {

constexpr const char* kCaption = "Mac Burn";

std::string HexDigest(const uint8_t* data, size_t length, size_t chars) {
  Sha256Context context;
  Sha256Reset(context);
  // Sha256Update takes 32-bit lengths; firmware files are far smaller, but stay exact anyway.
  while (length > 0) {
    const auto piece = static_cast<uint32_t>(length > 0x40000000 ? 0x40000000 : length);
    Sha256Update(context, data, piece);
    data += piece;
    length -= piece;
  }
  Sha256Final(context);
  std::string text;
  for (const uint8_t byte : context.digest) text += FormatText("%02x", byte);
  return text.substr(0, chars);
}

const char* ModuleClass(ChipModel model) {
  switch (model) {
    case ChipModel::kPx300:
      return "PX300 Class B";
    case ChipModel::kPx100:
      return "PX100 Class B";
    case ChipModel::kNone:
      break;
  }
  return "Other";
}

// What shapes the image besides the unit and its record: the MAC prefix, the OUI, the chip
// table chosen and the database file (size and modification time), hashed short.
std::string ConfigHash(const StationCore& station) {
  std::string text = station.settings.mac_prefix.empty() ? std::string(kDefaultMacPrefix)
                                                         : station.settings.mac_prefix;
  text += FormatText("|%02X%02X%02X|", station.settings.oui[0], station.settings.oui[1],
                     station.settings.oui[2]);
  text += station.page.IsChecked(kPx300Radio) ? "PX300" : station.page.IsChecked(kPx100Radio) ? "PX100" : "-";
  struct stat info {};
  const std::string database = InDirectory(station.settings.workdir, station.settings.database_file);
  if (::stat(database.c_str(), &info) == 0) {
    text += "|" + std::to_string(info.st_size) + "|" + std::to_string(info.st_mtim.tv_sec) + "." +
            std::to_string(info.st_mtim.tv_nsec);
  }
  return HexDigest(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 12);
}

void ShowJournalError(StationCore& station, const std::string& reason) {
  station.page.MessageBox("Journal error: " + reason, kCaption, kMbIconError);
}

// A line's journal whose server cannot be reached says so in libpq's words.
void ShowJournalError(StationCore& station, const JournalStatus& status) {
  if (!status.unavailable) return ShowJournalError(station, status.error);
  station.page.MessageBox("Journal unavailable: " + status.error, kCaption, kMbIconError);
}

int64_t Elapsed(StationCore& station, uint32_t since) {
  return static_cast<int64_t>(static_cast<uint32_t>(station.clock.TickCount() - since));
}

// Writes what waits in memory; the first error, if any.
JournalStatus FlushUnwritten(JournalLink& link) {
  while (!link.unwritten.empty()) {
    auto& [record, opened, commit_noted] = link.unwritten.front();
    if (opened && record.committed && !commit_noted) {
      // The commit first: the outcome ends the claim.
      if (JournalStatus status = link.journal->NoteCommit(record.id, *record.committed); !status.ok()) {
        return status;
      }
      commit_noted = true;
    }
    JournalStatus status =
        opened ? link.journal->Finish(record.id, {*record.outcome, *record.finished, record.burn_ms,
                                                  record.return_ms, record.verified,
                                                  record.other_bytes_changed})
               : link.journal->Append(record);
    if (!status.ok()) return status;
    if (link.on_outcome) link.on_outcome(record);
    link.unwritten.erase(link.unwritten.begin());
  }
  return {};
}

// The record of the current attempt as far as the page and the adapter set know it now.
JournalRecord Draft(StationCore& station, RecordKind kind) {
  const JournalLink& link = station.journal;
  const AdapterRecord& adapter = station.adapters.records[static_cast<size_t>(station.adapters.CurrentAdapter)];
  JournalRecord record;
  record.id = NewRecordId();
  record.station = link.station_name;
  record.adapter = std::string(adapter.AdapterName, strnlen(adapter.AdapterName, sizeof adapter.AdapterName));
  record.kind = kind;
  record.unit_mac_before = adapter.DeviceMac.ToDigits();
  record.chip = station.shown.chip.substr(0, 79);
  record.module_class = ModuleClass(IdentifyCarrierTable(station.module));
  record.firmware_version = station.shown.firmware.substr(0, 79);
  record.started = link.now();
  if (station.settings.bay > 0) record.bay = station.settings.bay;
  return record;
}

// Closes the current attempt with outcome. The record goes to the journal before the caller
// shows any verdict; one the journal cannot take waits in memory and the operator is told.
void Finish(StationCore& station, Outcome outcome, std::optional<int64_t> burn_ms,
            std::optional<int64_t> return_ms) {
  JournalLink& link = station.journal;
  if (!link.current) return;
  JournalRecord record = std::move(*link.current);
  const bool opened = link.current_written;
  link.current.reset();
  link.current_written = false;
  link.awaiting_return = false;
  link.commit_unconfirmed = false;
  record.outcome = outcome;
  record.finished = link.now();
  record.burn_ms = burn_ms;
  record.return_ms = return_ms;
  link.unwritten.push_back({std::move(record), opened, !link.commit_unnoted});
  link.commit_unnoted = false;
  if (link.journal == nullptr) return;
  const JournalStatus status = FlushUnwritten(link);
  if (!status.ok()) ShowJournalError(station, status.error);
}

// The journal refuses a negative count, and a refused outcome would hold up every record after
// it: a count that cannot be is recorded as none.
std::optional<int64_t> ByteCount(int64_t count) {
  if (count < 0) return std::nullopt;
  return count;
}

// How a return watch ends when the unit did not come back under the burned MAC.
Outcome NotReturned(const JournalLink& link, Outcome outcome) {
  return link.commit_unconfirmed ? Outcome::kCommitUnconfirmed : outcome;
}

// A record begun and finished at once (refusals, rejected lookups).
void RecordAtOnce(StationCore& station, Outcome outcome) {
  JournalLink& link = station.journal;
  if (!link.current) return;
  link.current_written = false;
  Finish(station, outcome, Elapsed(station, link.pressed_tick), std::nullopt);
}

}  // namespace

bool RefuseWithoutJournal(StationCore& station) {
  JournalLink& link = station.journal;
  if (!link.enabled) return false;
  if (link.awaiting_return) {
    Finish(station, NotReturned(link, Outcome::kNoReturn), link.current->burn_ms, std::nullopt);
  }
  link.current.reset();
  if (!ReopenJournal(link)) {
    NoteRefused(station, Outcome::kJournalError);
    ShowJournalError(station, link.open_error);
    return true;
  }
  if (const JournalStatus status = FlushUnwritten(link); !status.ok()) {
    NoteRefused(station, Outcome::kJournalError);
    ShowJournalError(station, status.error);
    return true;
  }
  link.pressed_tick = station.clock.TickCount();
  return false;
}

void NoteRefused(StationCore& station, Outcome reason) {
  if (station.on_refused) station.on_refused(reason);
}

void RecordLookupFailed(StationCore& station) {
  NoteRefused(station, Outcome::kLookupFailed);
  JournalLink& link = station.journal;
  if (!link.enabled || link.journal == nullptr) return;
  link.current = Draft(station, RecordKind::kBurn);
  link.current->mac = station.page.GetText(kNewMacEdit, 12);
  RecordAtOnce(station, Outcome::kLookupFailed);
}

bool GuardRefuses(StationCore& station) {
  JournalLink& link = station.journal;
  if (!link.enabled || link.journal == nullptr) return false;
  link.current = Draft(station, RecordKind::kBurn);
  const std::string mac = station.shown.mac.substr(0, 12);
  link.current->mac = mac;
  std::optional<BurnedMac> burned;
  const JournalStatus status =
      CheckBurnGuard(*link.journal, mac, link.current->unit_mac_before, &burned);
  if (!status.ok()) {
    link.current.reset();
    NoteRefused(station, Outcome::kJournalError);
    ShowJournalError(station, status);
    return true;
  }
  if (!burned) return false;
  RecordAtOnce(station, Outcome::kDuplicateRefused);
  NoteRefused(station, Outcome::kDuplicateRefused);
  station.page.MessageBox(AlreadyBurnedText(mac, *burned), kCaption, kMbIconWarning);
  return true;
}

void RefuseLabelInFlight(StationCore& station, const std::string& label, const std::string& text) {
  JournalLink& link = station.journal;
  const int adapter = station.adapters.CurrentAdapter;
  // Recorded like a Burn the guard refused, unless an attempt is still open here or the unit
  // has gone (its record would name no adapter).
  if (link.enabled && link.journal != nullptr && !link.current && adapter >= 0 &&
      adapter < kMaxAdapters) {
    link.pressed_tick = station.clock.TickCount();
    link.current = Draft(station, RecordKind::kBurn);
    link.current->mac = label.substr(0, 12);
    RecordAtOnce(station, Outcome::kDuplicateRefused);
  }
  NoteRefused(station, Outcome::kDuplicateRefused);
  station.page.MessageBox(text, kCaption, kMbIconWarning);
}

bool EndReturnedOnOtherBay(StationCore& station, const std::string& mac, const std::string& text) {
  if (station.BurnedMac.IsZero() || station.BurnedMac.ToDigits() != mac) return false;
  JournalLink& link = station.journal;
  if (link.awaiting_return && link.current && link.current->mac == mac) {
    Finish(station, Outcome::kReturnedOnOtherBay, link.current->burn_ms, std::nullopt);
  }
  // Its answer here would no longer be this bay's "Success".
  station.CommitConfirmed = 0;
  station.verify_return = false;
  station.page.Enable(kBurnButton, false);
  EndReturnWatch(station);
  station.page.MessageBox(text, kCaption, kMbIconWarning);
  return true;
}

bool BeginBurnAttempt(StationCore& station, uint32_t image_checksum) {
  JournalLink& link = station.journal;
  if (!link.enabled || link.journal == nullptr || !link.current) return true;
  JournalRecord& record = *link.current;
  record.image_checksum = FormatText("%08x", image_checksum);
  record.config = ConfigHash(station);
  if (const JournalStatus status = link.journal->Append(record); !status.refusal.empty()) {
    // The line refuses: another station's attempt holds the MAC, or its lease does. Nothing is
    // sent; the try is recorded as a refused duplicate.
    RecordAtOnce(station, Outcome::kDuplicateRefused);
    NoteRefused(station, Outcome::kDuplicateRefused);
    station.page.MessageBox(status.refusal, kCaption, kMbIconWarning);
    return false;
  } else if (!status.ok()) {
    // Refused: nothing is sent. The refusal itself is recorded as soon as the journal can be.
    record.outcome = Outcome::kJournalError;
    record.finished = link.now();
    record.burn_ms = Elapsed(station, link.pressed_tick);
    link.unwritten.push_back({std::move(record), false});
    link.current.reset();
    NoteRefused(station, Outcome::kJournalError);
    ShowJournalError(station, status);
    return false;
  }
  link.current_written = true;
  return true;
}

void EndBurnTransfer(StationCore& station, bool all_confirmed, bool commit_confirmed) {
  JournalLink& link = station.journal;
  if (!link.current) return;
  const int64_t burn_ms = Elapsed(station, link.pressed_tick);
  if (!all_confirmed) return Finish(station, Outcome::kWriteFailed, burn_ms, std::nullopt);
  link.current->burn_ms = burn_ms;
  link.commit_tick = station.clock.TickCount();
  if (!commit_confirmed) {
    if (station.CommitConfirmed != 1) {
      return Finish(station, Outcome::kCommitUnconfirmed, burn_ms, std::nullopt);
    }
    link.commit_unconfirmed = true;
    link.awaiting_return = true;
    return;
  }
  link.current->committed = link.now();
  if (const JournalStatus status = link.journal->NoteCommit(link.current->id, *link.current->committed);
      !status.ok()) {
    // The unit holds the MAC now whatever the journal says: keep the attempt, and say so.
    link.commit_unnoted = true;
    ShowJournalError(station, status.error);
  }
  link.awaiting_return = true;
}

void NoteUnitAnswered(StationCore& station, const MacAddress& source, bool success_due) {
  JournalLink& link = station.journal;
  if (!link.awaiting_return || !link.current) return;
  const std::optional<int64_t> burn_ms = link.current->burn_ms;
  if (source == station.BurnedMac) {
    if (!success_due) return;
    if (link.commit_unconfirmed) {
      // Back under the burned MAC: the commit took, its confirmation was lost on the way.
      link.current->committed = link.now();
      if (const JournalStatus status = link.journal->NoteCommit(link.current->id, *link.current->committed);
          !status.ok()) {
        link.commit_unnoted = true;
        ShowJournalError(station, status.error);
      }
    }
    Finish(station, Outcome::kSuccess, burn_ms, Elapsed(station, link.commit_tick));
    return;
  }
  const bool old_mac = source.ToDigits() == link.current->unit_mac_before;
  Finish(station, NotReturned(link, old_mac ? Outcome::kWrongReturn : Outcome::kNoReturn), burn_ms,
         std::nullopt);
}

void NoteReturnVerified(StationCore& station, int64_t other_bytes_changed) {
  JournalLink& link = station.journal;
  if (!link.awaiting_return || !link.current) return;
  link.current->verified = true;
  link.current->other_bytes_changed = ByteCount(other_bytes_changed);
}

void RecordVerifyFailed(StationCore& station, int64_t other_bytes_changed) {
  JournalLink& link = station.journal;
  if (!link.awaiting_return || !link.current) return;
  link.current->verified = false;
  link.current->other_bytes_changed = ByteCount(other_bytes_changed);
  Finish(station, Outcome::kVerifyFailed, link.current->burn_ms, Elapsed(station, link.commit_tick));
}

void CheckReturnDeadline(StationCore& station) {
  JournalLink& link = station.journal;
  if (!link.awaiting_return || Elapsed(station, link.commit_tick) < kReturnWatchMs) return;
  Finish(station, NotReturned(link, Outcome::kNoReturn), link.current->burn_ms, std::nullopt);
}

void EndReturnWatchOnClose(StationCore& station) {
  JournalLink& link = station.journal;
  if (!link.awaiting_return) return;
  Finish(station, NotReturned(link, Outcome::kNoReturn), link.current->burn_ms, std::nullopt);
}

bool BeginFirmwareAttempt(StationCore& station, const std::string& path, const uint8_t* image,
                          size_t length) {
  JournalLink& link = station.journal;
  if (!link.enabled || link.journal == nullptr) return true;
  link.current = Draft(station, RecordKind::kFirmware);
  JournalRecord& record = *link.current;
  const AdapterRecord& adapter = station.adapters.records[static_cast<size_t>(station.adapters.CurrentAdapter)];
  record.mac = adapter.DeviceMac.ToDigits();
  const size_t slash = path.find_last_of('/');
  record.firmware_name = slash == std::string::npos ? path : path.substr(slash + 1);
  record.firmware_size = static_cast<int64_t>(length);
  record.firmware_sha256 = HexDigest(image, length, 64);
  record.config = ConfigHash(station);
  if (const JournalStatus status = link.journal->Append(record); !status.ok()) {
    record.outcome = Outcome::kJournalError;
    record.finished = link.now();
    link.unwritten.push_back({std::move(record), false});
    link.current.reset();
    NoteRefused(station, Outcome::kJournalError);
    ShowJournalError(station, status.error);
    return false;
  }
  link.current_written = true;
  return true;
}

void EndFirmwareTransfer(StationCore& station, bool all_confirmed, bool commit_confirmed) {
  JournalLink& link = station.journal;
  if (!link.current) return;
  const int64_t burn_ms = Elapsed(station, link.pressed_tick);
  Outcome outcome = Outcome::kFirmwareOk;
  if (!all_confirmed) {
    outcome = Outcome::kWriteFailed;
  } else if (!commit_confirmed) {
    outcome = Outcome::kCommitUnconfirmed;
  }
  Finish(station, outcome, burn_ms, std::nullopt);
}

}  // namespace stampwright
