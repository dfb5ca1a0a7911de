#include "journal/postgresql/pg_central.h"

#include "journal/guard.h"
#include "journal/postgresql/pg_statements.h"
#include "journal/transaction.h"

namespace stampwright {

using namespace pg_statements;

JournalStatus PgCentral::Append(JournalRecord& record) {
  if (record.id.empty()) record.id = NewRecordId();
  if (record.kind == RecordKind::kBurn && !record.outcome) {
    // The tool's burn claims its MAC like a station's, and only while the database answers.
    const std::optional<int64_t> mac = MacNumber(record.mac);
    if (!mac) return JournalStatus::Error("the MAC '" + record.mac + "' is not 12 hex digits");
    if (!client_.Ok()) return client_.Unavailable();
    return Claim(record, *mac, record.station);
  }
  return Insert(record);
}

JournalStatus PgCentral::Insert(const JournalRecord& record) {
  if (!client_.Ok()) return client_.Unavailable();
  PgResult inserted = client_.Run(kInsertRecord, PgRecordParams(record));
  if (!inserted.Ok()) return client_.Failed(inserted);
  return {};
}

JournalStatus PgCentral::Claim(const JournalRecord& record, int64_t mac,
                               const std::string& station) {
  // The claim and the attempt's record in one transaction: one round to the disk.
  Transaction transaction(client_, "BEGIN");
  if (transaction.Begin()) return client_.Unavailable();
  const bool rework = !record.unit_mac_before.empty() && record.unit_mac_before == record.mac;
  PgResult claimed = client_.Run(kLockMac, {PgText(mac)});
  if (claimed.Ok()) {
    claimed = client_.Run(kClaim, {record.id, PgText(mac), station, PgText(record.started),
                                   record.mac, rework ? "true" : "false"});
  }
  const bool inserted_claim = claimed.Ok() && claimed.Rows() == 1 && claimed.Integer(0, 0) == 1;
  if (inserted_claim) {
    PgResult inserted = client_.Run(kInsertRecord, PgRecordParams(record));
    if (!inserted.Ok()) {
      claimed = std::move(inserted);
    } else if (auto error = transaction.Commit()) {
      if (!client_.Ok()) return client_.Unavailable();
      transaction.Rollback();
      return JournalStatus::Error("claiming MAC " + record.mac + ": " + *error);
    } else {
      return {};
    }
  }
  const PgFailure failure = client_.Classify(claimed);
  if (failure == PgFailure::kLostConnection) return client_.Unavailable();
  transaction.Rollback();
  if (failure == PgFailure::kNone && claimed.Rows() == 1) {
    if (!claimed.IsNull(0, 1)) {
      const BurnedMac burned{claimed.Text(0, 1), claimed.Integer(0, 2)};
      return JournalStatus::Refused(AlreadyBurnedText(record.mac, burned), burned);
    }
    const std::string who = claimed.IsNull(0, 3) ? "?" : claimed.Text(0, 3);
    return JournalStatus::Refused("MAC " + record.mac + " is leased to station " + who + ".");
  }
  if (failure == PgFailure::kUniqueViolation &&
      claimed.ConstraintName() == "claims_one_open_per_mac") {
    PgResult holder = client_.Run(kOpenClaimHolder, {PgText(mac)});
    const std::string who = holder.Ok() && holder.Rows() > 0 ? holder.Text(0, 0) : "?";
    return JournalStatus::Refused("MAC " + record.mac + " is being burned by station " + who + ".");
  }
  return JournalStatus::Error("claiming MAC " + record.mac + ": " + claimed.Error());
}

JournalStatus PgCentral::NoteCommit(const std::string& id, int64_t utc_ms) {
  PgResult noted = client_.Run(kInsertCommit, {id, PgText(utc_ms)});
  if (!noted.Ok()) return client_.Failed(noted);
  if (noted.Rows() != 1) return JournalStatus::Error("writing the journal: no open attempt " + id);
  return {};
}

JournalStatus PgCentral::Finish(const std::string& id, const AttemptEnd& end) {
  Transaction transaction(client_, "BEGIN");
  if (!client_.Ok() || transaction.Begin()) return client_.Unavailable();
  PgResult done = client_.Run(kLockRecordMac, {id});
  if (done.Ok()) {
    done = client_.Run(kInsertOutcome, PgEndParams(id, end));
  }
  if (done.Ok() && done.Integer(0, 0) == 1 && !transaction.Commit()) return {};
  if (!client_.Ok()) return client_.Unavailable();
  transaction.Rollback();
  if (done.Ok()) return JournalStatus::Error("writing the journal: no open attempt " + id);
  return JournalStatus::Error("writing the journal: " + done.Error());
}

JournalStatus PgCentral::CloseInterrupted(const std::string&, int64_t, int*) {
  return JournalStatus::Error("the tool closes no attempts");
}

bool PgCentral::CloseInterruptedOf(const std::string& station, int64_t now, int* closed) {
  Transaction transaction(client_, "BEGIN");
  if (transaction.Begin()) return false;
  PgResult central;
  const bool done = client_.Run(kLockStationClaims, {station}).Ok() &&
                    (central = client_.Run(kCloseInterruptedCentral, {station, PgText(now)})).Ok() &&
                    client_.Run(kEndStationClaims, {station, PgText(now)}).Ok() &&
                    !transaction.Commit();
  if (done && closed) *closed += static_cast<int>(central.Integer(0, 0));
  return done;
}

JournalStatus PgCentral::FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) {
  burned->reset();
  PgResult last = client_.Run(kLastCommit, {mac});
  if (!last.Ok()) return client_.Failed(last, "reading the journal: ");
  if (last.Rows() == 1 && last.Text(0, 2) != "t") {
    *burned = BurnedMac{last.Text(0, 0), last.Integer(0, 1)};
  }
  return {};
}

JournalStatus PgCentral::Read(const RecordFilter& filter, std::vector<JournalRecord>* records) {
  PgResult rows = client_.Run(kSelectRecordsStatement,
                              {PgOptionalText(filter.mac), PgOptionalText(filter.since),
                               PgOptionalText(filter.until), PgOptionalText(filter.station)});
  if (!rows.Ok()) return client_.Failed(rows, "reading the journal: ");
  for (int row = 0; row < rows.Rows(); ++row) records->push_back(PgRowToRecord(rows, row));
  return {};
}

JournalStatus PgCentral::ReadOne(const std::string& id, std::optional<JournalRecord>* record) {
  record->reset();
  PgResult rows = client_.Run(kSelectRecordStatement, {id});
  if (!rows.Ok()) return client_.Failed(rows);
  if (rows.Rows() == 1) *record = PgRowToRecord(rows, 0);
  return {};
}

void PgCentral::Poll() {
  // An idle station notices a lost database on the tick, not only at the next Burn.
  if (client_.Ok()) client_.Run("SELECT 1");
  if (!client_.Ok()) client_.Reconnect();
}

JournalStatus PgCentral::ReadFlagged(std::vector<FlaggedRecord>* flagged) {
  flagged->clear();
  PgResult rows = client_.Run(kFlagged, {});
  if (!rows.Ok()) return client_.Failed(rows);
  for (int row = 0; row < rows.Rows(); ++row) {
    flagged->push_back({rows.Text(row, 0), rows.Text(row, 1), rows.Text(row, 2), rows.Text(row, 3)});
  }
  return {};
}

PgCentral::Sent PgCentral::Forward(const std::vector<JournalRecord>& records,
                                   const std::function<void()>& hook, std::string* refusal) {
  Transaction transaction(client_, "BEGIN");
  if (transaction.Begin()) return Sent::kNothing;
  // The whole batch as one JSON parameter, read by each statement: a few round trips per batch
  // instead of several per record.
  const std::string batch = PgBatchJson(records);
  for (const PgStatement* statement :
       {&kLockBatchMacs, &kForwardRecords, &kForwardClaims, &kFlagBurnedTwice, &kForwardCommits,
        &kForwardOutcomes, &kForwardEndClaims}) {
    PgResult done = client_.Run(*statement, {batch});
    if (done.Ok()) continue;
    if (client_.Classify(done) == PgFailure::kLostConnection) return Sent::kNothing;
    *refusal = done.Error();
    transaction.Rollback();
    return Sent::kRefused;
  }
  if (hook) hook();
  if (transaction.Commit()) return Sent::kNothing;
  return Sent::kAll;
}

bool PgCentral::FetchLeases(const std::string& station, std::vector<MacLease>* leases,
                            std::vector<LeaseBurnedMac>* burned) {
  if (!client_.Ok()) return false;
  PgResult live = client_.Run(kLiveLeases, {station});
  if (!live.Ok()) return false;
  PgResult macs = client_.Run(kBurnedInLeases, {station});
  if (!macs.Ok()) return false;
  for (int row = 0; row < live.Rows(); ++row) leases->push_back(PgRowToLease(live, row));
  for (int row = 0; row < macs.Rows(); ++row) {
    burned->push_back({macs.Text(row, 0), BurnedMac{macs.Text(row, 1), macs.Integer(row, 2)}});
  }
  return true;
}

}  // namespace stampwright
