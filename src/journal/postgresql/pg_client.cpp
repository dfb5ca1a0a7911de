#include "journal/postgresql/pg_client.h"

namespace stampwright {

PgFailure ClassifyPgFailure(const PgResult& result, bool connected) {
  if (result.Ok()) return PgFailure::kNone;
  // libpq marks the connection bad whenever the server went away under a statement.
  if (!connected) return PgFailure::kLostConnection;
  const std::string state = result.SqlState();
  if (state == kSqlStateUniqueViolation) return PgFailure::kUniqueViolation;
  if (state == kSqlStateExclusionViolation) return PgFailure::kExclusionViolation;
  if (state == kSqlStateInsufficientPrivilege) return PgFailure::kPrivilege;
  return PgFailure::kOther;
}

bool PgClient::Connect() {
  last_attempt_ = now_();
  connection_ = PgConnection::Connect(target_);
  if (connection_.Ok()) return true;
  last_error_ = connection_.Error();
  announced_lost_ = true;
  return false;
}

void PgClient::Lost(const std::string& message) {
  last_error_ = message;
  connection_ = PgConnection();
  if (announced_lost_) return;
  announced_lost_ = true;
  if (observer_) observer_(false, message);
}

bool PgClient::Reconnect() {
  if (connection_.Ok()) return true;
  const int64_t t = now_();
  if (t - last_attempt_ < kReconnectEveryMs && t >= last_attempt_) return false;
  last_attempt_ = t;
  PgConnection fresh = PgConnection::Connect(target_);
  if (!fresh.Ok()) {
    Lost(fresh.Error());
    return false;
  }
  connection_ = std::move(fresh);
  if (announced_lost_) {
    announced_lost_ = false;
    if (observer_) observer_(true, DescribePgTarget(target_));
  }
  if (on_regained_) on_regained_();
  return connection_.Ok();
}

PgResult PgClient::Run(const PgStatement& statement,
                       std::vector<std::optional<std::string>> params) {
  if (!connection_.Ok()) return PgResult();
  PgResult result = connection_.Exec(statement, params);
  if (!result.Ok() && !connection_.Ok()) Lost(connection_.Error());
  return result;
}

PgResult PgClient::Run(const char* sql) {
  if (!connection_.Ok()) return PgResult();
  PgResult result = connection_.Exec(sql);
  if (!result.Ok() && !connection_.Ok()) Lost(connection_.Error());
  return result;
}

std::optional<std::string> PgClient::Execute(const char* sql) {
  PgResult result = Run(sql);
  if (result.Ok()) return std::nullopt;
  return result.Error();
}

JournalStatus PgClient::Unavailable() const {
  return JournalStatus::Unavailable(last_error_.empty() ? std::string("no connection to the database")
                                                        : last_error_);
}

JournalStatus PgClient::Failed(const PgResult& result, const std::string& prefix) const {
  if (Classify(result) == PgFailure::kLostConnection) return Unavailable();
  return JournalStatus::Error(prefix + result.Error());
}

}  // namespace stampwright
