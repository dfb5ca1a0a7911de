#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/pg_client.h"
#include "journal/postgresql/pg_rows.h"

namespace stampwright {

// The line's database alone: the journal the tool uses (it must answer now; nothing is queued),
// and the statements a station's journal sends there.
class PgCentral final : public Journal {
 public:
  explicit PgCentral(PgClient& client) : client_(client) {}

  // A burn without an outcome claims its MAC for the record's station; other records go in as
  // they are (a supervisor's scrap or release, a refusal).
  JournalStatus Append(JournalRecord& record) override;
  // Its own transaction, before the outcome's that ends the claim.
  JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override;
  // The outcome and the claim's end in one transaction under the MAC's lock.
  JournalStatus Finish(const std::string& id, const AttemptEnd& end) override;
  // Refused: only a station closes its own attempts.
  JournalStatus CloseInterrupted(const std::string& station, int64_t now, int* closed) override;
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) override;
  JournalStatus Read(const RecordFilter& filter, std::vector<JournalRecord>* records) override;
  JournalStatus ReadOne(const std::string& id, std::optional<JournalRecord>* record) override;
  // Notices a lost database and tries it again.
  void Poll() override;
  JournalStatus ReadFlagged(std::vector<FlaggedRecord>* flagged) override;

  // The claim and the attempt's record in one transaction, for station, under the MAC's lock.
  JournalStatus Claim(const JournalRecord& record, int64_t mac, const std::string& station);
  // One record as it is given; nothing when its id is there already.
  JournalStatus Insert(const JournalRecord& record);
  // Closes station's attempts the database holds open, and ends its claims; false when it
  // did not go through (rolled back).
  bool CloseInterruptedOf(const std::string& station, int64_t now, int* closed);

  enum class Sent { kAll, kNothing, kRefused };
  // One forwarding batch in one transaction; hook runs just before it commits. kRefused (with
  // the server's message) when a statement was refused while the connection stood: rolled back.
  Sent Forward(const std::vector<JournalRecord>& records, const std::function<void()>& hook,
               std::string* refusal);
  // station's live leases and what the line burned inside them; false when not read.
  bool FetchLeases(const std::string& station, std::vector<MacLease>* leases,
                   std::vector<LeaseBurnedMac>* burned);

 private:
  PgClient& client_;
};

}  // namespace stampwright
