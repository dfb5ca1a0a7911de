#pragma once

#include <cstdint>
#include <string>

#include "base/mac_address.h"
#include "journal/outcome.h"

namespace stampwright {

struct StationCore;

// The station's steps of the production journal. Each does nothing when the journal is off.
// A journal that cannot be written refuses the command (fail closed): a box captioned
// "Mac Burn", text "Journal error: " and the reason, and nothing is sent.

// At the start of Burn and Browse: ends a return watch still open ("no-return": another
// command came) and refuses when the journal is unusable. True: refused, stop.
bool RefuseWithoutJournal(StationCore& station);
// Tells the front end (StationCore::on_refused) that the command was refused with reason.
void NoteRefused(StationCore& station, Outcome reason);
// Burn, lookup rejected: an attempt "lookup-failed", refused.
void RecordLookupFailed(StationCore& station);
// Burn, after the lookup and before anything is sent: true when the MAC in the MAC field was
// burned before and is not allowed again (box, record "duplicate-refused"), or the journal
// cannot answer.
bool GuardRefuses(StationCore& station);
// Burn, before the first module frame: the attempt's opening record. False: refused, send nothing.
// A label already being burned on another bay of this station, scanned for this one: nothing is
// sent; the try is recorded "duplicate-refused" and text shown as a warning.
void RefuseLabelInFlight(StationCore& station, const std::string& label, const std::string& text);
// The unit burned here answered on another bay of this station: the attempt ends
// "returned-on-other-bay", the return watch with it, and text is shown as a warning. False when
// mac is not this bay's last burn (nothing changes then).
bool EndReturnedOnOtherBay(StationCore& station, const std::string& mac, const std::string& text);
bool BeginBurnAttempt(StationCore& station, uint32_t image_checksum);
// Burn, after the commit step: "write-failed", "commit-unconfirmed", or a confirmed commit
// noted and the return watch started.
void EndBurnTransfer(StationCore& station, bool all_confirmed, bool commit_confirmed);
// A fully handled version confirmation from source; success_due when "Success" is about to be
// shown: the outcome is written first.
void NoteUnitAnswered(StationCore& station, const MacAddress& source, bool success_due);
// The unit came back under the burned MAC and its module, read back, holds the burned fields
// as written; other_bytes_changed bytes elsewhere differ from the image written. The success
// outcome written next carries both. Call it before NoteUnitAnswered.
void NoteReturnVerified(StationCore& station, int64_t other_bytes_changed);
// The unit came back under the burned MAC but its module differs from the image written in the
// burned fields: "verify-failed", with the count of other bytes that differ too.
void RecordVerifyFailed(StationCore& station, int64_t other_bytes_changed);
// Scan tick: a unit that has not come back within kReturnWatchMs: "no-return".
void CheckReturnDeadline(StationCore& station);
// The station closes: a return watch still open ends as "no-return".
void EndReturnWatchOnClose(StationCore& station);
// Firmware upgrade, before the first chunk; false: refused.
bool BeginFirmwareAttempt(StationCore& station, const std::string& path, const uint8_t* image,
                          size_t length);
void EndFirmwareTransfer(StationCore& station, bool all_confirmed, bool commit_confirmed);

}  // namespace stampwright
