#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/pg_client.h"
#include "journal/postgresql/pg_rows.h"

namespace stampwright {

// A supervisor's work on the line's leases (the tool): the database refuses a range that
// overlaps a live lease, and says so.
class LeaseAdmin {
 public:
  explicit LeaseAdmin(PgClient& client) : client_(client) {}

  JournalStatus Grant(const std::string& station, int64_t first, int64_t count,
                      std::optional<int64_t> until, MacLease* granted);
  // Every lease, live or not, by range.
  JournalStatus List(std::vector<MacLease>* leases);
  JournalStatus Revoke(int64_t id);

 private:
  PgClient& client_;
};

}  // namespace stampwright
