#pragma once

#include <string>
#include <vector>

#include "journal/journal.h"

namespace stampwright {

// A journal that passes every call on to another: tests override the calls they hold up or fail.
class ForwardingJournal : public Journal {
 public:
  explicit ForwardingJournal(Journal& inner) : inner_(inner) {}

  JournalStatus Append(JournalRecord& record) override { return inner_.Append(record); }
  JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override {
    return inner_.NoteCommit(id, utc_ms);
  }
  JournalStatus Finish(const std::string& id, const AttemptEnd& end) override {
    return inner_.Finish(id, end);
  }
  JournalStatus CloseInterrupted(const std::string& station, int64_t now, int* closed) override {
    return inner_.CloseInterrupted(station, now, closed);
  }
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) override {
    return inner_.FindBurned(mac, burned);
  }
  JournalStatus Read(const RecordFilter& filter, std::vector<JournalRecord>* records) override {
    return inner_.Read(filter, records);
  }
  JournalStatus ReadOne(const std::string& id, std::optional<JournalRecord>* record) override {
    return inner_.ReadOne(id, record);
  }

 protected:
  Journal& inner_;
};

}  // namespace stampwright
