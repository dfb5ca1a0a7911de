#include "journal/postgresql/lease_admin.h"

namespace stampwright {
namespace {

constexpr int64_t kMacSpace = int64_t{1} << 48;

constexpr PgStatement kGrantLease{
    "grant_lease",
    "INSERT INTO stampwright.leases (station, macs, until)"
    " VALUES ($1, int8range($2::bigint, $3::bigint), stampwright.from_ms($4::bigint))"
    " RETURNING id, stampwright.to_ms(granted)"};
constexpr PgStatement kAllLeases{
    "all_leases",
    "SELECT id, station, lower(macs), upper(macs) - 1, stampwright.to_ms(until),"
    " stampwright.to_ms(revoked), stampwright.to_ms(granted) FROM stampwright.leases"
    " ORDER BY lower(macs), granted"};
constexpr PgStatement kRevokeLease{
    "revoke_lease",
    "UPDATE stampwright.leases SET revoked = greatest(now(), granted)"
    " WHERE id = $1::bigint AND revoked IS NULL RETURNING id"};

}  // namespace

JournalStatus LeaseAdmin::Grant(const std::string& station, int64_t first, int64_t count,
                                std::optional<int64_t> until, MacLease* granted) {
  if (count < 1 || first < 0 || first >= kMacSpace || count > kMacSpace - first) {
    return JournalStatus::Error("a lease covers 1 or more MACs inside the 48-bit space");
  }
  PgResult made =
      client_.Run(kGrantLease, {station, PgText(first), PgText(first + count), PgOptionalText(until)});
  if (client_.Classify(made) == PgFailure::kExclusionViolation) {
    return JournalStatus::Error("the range overlaps a live lease; the database refused it");
  }
  if (!made.Ok()) return client_.Failed(made);
  if (granted) {
    *granted = MacLease{made.Integer(0, 0), station, first, first + count - 1, until,
                        std::nullopt, made.Integer(0, 1)};
  }
  return {};
}

JournalStatus LeaseAdmin::List(std::vector<MacLease>* leases) {
  PgResult rows = client_.Run(kAllLeases, {});
  if (!rows.Ok()) return client_.Failed(rows);
  for (int row = 0; row < rows.Rows(); ++row) leases->push_back(PgRowToLease(rows, row));
  return {};
}

JournalStatus LeaseAdmin::Revoke(int64_t id) {
  PgResult revoked = client_.Run(kRevokeLease, {PgText(id)});
  if (!revoked.Ok()) return client_.Failed(revoked);
  if (revoked.Rows() != 1) return JournalStatus::Error("no live lease " + std::to_string(id));
  return {};
}

}  // namespace stampwright
