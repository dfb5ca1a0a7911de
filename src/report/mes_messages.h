#pragma once

#include <functional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/record.h"
#include "report/cfx/envelope.h"

namespace stampwright {

// Who the station is to the MES, and where its ids come from.
struct MesEndpoint {
  std::string handle;  // the CFX handle, "Stampwright.Station.<station name>" by default
  // The bay of a record (its lane and position number); bay 1 where not set.
  std::function<int(const JournalRecord&)> bay;
  // A fresh lower-case GUID for each envelope, test and measurement.
  std::function<std::string()> new_id = RandomGuids();

  // Version 4 GUIDs from a generator seeded once: a burn asks for seven, and seeding each from
  // the system's entropy (as NewRecordId does) would cost most of what the MES adds to a burn.
  // Not for use from two threads at once.
  static std::function<std::string()> RandomGuids();
};

// The default handle for a station name.
std::string DefaultCfxHandle(const std::string& station);

// "02-A0-C5-10-00-01" for "02A0C5100001"; anything else as it is.
std::string CfxMacText(const std::string& mac);

// The CFX messages a journal change causes, in the order they are sent. A burn or firmware
// attempt is one work transaction whose id is the record's: WorkStarted when it is recorded,
// UnitsPersonalized when its commit is noted (a firmware's when it ends well), UnitsTested (a
// burn's) and WorkCompleted when it ends; a record written with its outcome already carries them
// all at once. Refusals (nothing sent to a unit), scrap and release cause none. The record never
// holds a password or a key, and nothing else goes into a message.
std::vector<cfx::Envelope> MessagesForChange(JournalChange change, const JournalRecord& record,
                                             const MesEndpoint& endpoint);

}  // namespace stampwright
