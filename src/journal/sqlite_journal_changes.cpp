#include "journal/sqlite_journal.h"

namespace stampwright {

JournalStatus SqliteJournal::TellChange(JournalChange change, const std::string& id) {
  std::optional<JournalRecord> record;
  if (JournalStatus status = ReadOne(id, &record); !status.ok()) return status;
  if (!record) return JournalStatus::Error("writing the journal: no record " + id);
  return on_change_(change, *record);
}

JournalStatus SqliteJournal::OpenAttempts(const std::string& station, std::vector<std::string>* ids) {
  if (open_attempts_.get() == nullptr &&
      !open_attempts_.Prepare(db_.get(),
                              "SELECT id FROM records WHERE station = ?1 AND outcome IS NULL AND "
                              "kind IN ('burn', 'firmware') ORDER BY seq")) {
    return Failed("reading the journal");
  }
  open_attempts_.BindText(1, station);
  int step;
  while ((step = open_attempts_.Step()) == SQLITE_ROW) ids->push_back(open_attempts_.Text(0));
  open_attempts_.Reset();
  return step == SQLITE_DONE ? JournalStatus{} : Failed("reading the journal");
}

}  // namespace stampwright
