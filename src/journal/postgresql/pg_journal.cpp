#include "journal/postgresql/pg_journal.h"

#include <cstdio>

#include "journal/postgresql/pg_schema.h"

namespace stampwright {
namespace {

// Why a database of schema version cannot be used by this program, or nothing.
std::optional<std::string> SchemaMismatch(int version) {
  if (version == kPgSchemaVersion) return std::nullopt;
  if (version == 0) {
    return "the database holds no journal yet; run "
           "\"stampwright-tool journal init --journal TARGET\"";
  }
  return "the journal's schema version " + std::to_string(version) + " is not this program's (" +
         std::to_string(kPgSchemaVersion) + ")";
}

}  // namespace

std::unique_ptr<PgJournal> PgJournal::OpenDirect(const std::string& target, JournalStatus* status) {
  std::unique_ptr<PgJournal> journal(new PgJournal(target));
  if (!journal->client_.Connect()) {
    *status = JournalStatus::Unavailable(journal->client_.LastError());
    return nullptr;
  }
  std::string error;
  std::optional<int> version = ReadPgSchemaVersion(journal->client_.connection(), &error);
  if (!version) {
    *status = JournalStatus::Error("reading the schema version: " + error);
    return nullptr;
  }
  if (auto mismatch = SchemaMismatch(*version)) {
    *status = JournalStatus::Error(*mismatch);
    return nullptr;
  }
  return journal;
}

std::unique_ptr<PgJournal> PgJournal::OpenStation(const std::string& target,
                                                  const std::string& station,
                                                  const std::string& outbox_path,
                                                  JournalStatus* status) {
  std::unique_ptr<Outbox> outbox = Outbox::Open(outbox_path, status);
  if (!outbox) return nullptr;
  std::unique_ptr<PgJournal> journal(new PgJournal(target));
  PgJournal& self = *journal;
  self.station_ = std::make_unique<PgStationJournal>(self.client_, self.central_, std::move(outbox),
                                                     station, self.now, self.forward_hook);
  self.mode_ = self.station_.get();
  self.client_.SetOnRegained([&self] { self.station_->FetchLeases(); });

  if (self.client_.Connect()) {
    std::string error;
    std::optional<int> version = ReadPgSchemaVersion(self.client_.connection(), &error);
    if (version) {
      if (auto mismatch = SchemaMismatch(*version)) {
        *status = JournalStatus::Error(*mismatch);
        return nullptr;
      }
    }
    self.station_->FetchLeases();
    self.station_->ForwardAll();
  } else {
    std::fprintf(stderr, "journal: %s unavailable at start: %s\n",
                 DescribePgTarget(target).c_str(), self.client_.LastError().c_str());
  }
  *status = {};
  return journal;
}

JournalStatus PgJournal::LiveLeases(const std::string& station, int64_t at,
                                    std::vector<std::pair<int64_t, int64_t>>* ranges) {
  ranges->clear();
  std::vector<MacLease> leases;
  if (station_) {
    leases = station_->LocalLeases();
  } else if (JournalStatus status = leases_.List(&leases); !status.ok()) {
    return status;
  }
  for (const MacLease& lease : leases) {
    const bool live = lease.granted <= at && (!lease.until || *lease.until > at) &&
                      (!lease.revoked || *lease.revoked > at);
    if (lease.station == station && live) ranges->emplace_back(lease.first, lease.last);
  }
  return {};
}

}  // namespace stampwright
