#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/postgresql/pg_connection.h"

namespace stampwright {

// Why a statement did not go through, decided once from the SQLSTATE and the connection, never
// from a message's text.
enum class PgFailure {
  kNone,                // it went through
  kLostConnection,      // the server is gone (or never answered)
  kUniqueViolation,     // see PgResult::ConstraintName for which
  kExclusionViolation,  // an exclusion constraint (overlapping leases)
  kPrivilege,           // the role may not do this
  kOther,
};

// connected: whether the connection still stands after the statement.
PgFailure ClassifyPgFailure(const PgResult& result, bool connected);

// The connection to a line's database, supervised: a broken connection is noted lost the moment
// it is seen (the observer told once), and tried again no more often than every
// kReconnectEveryMs; the observer hears when it is back.
class PgClient {
 public:
  static constexpr int64_t kReconnectEveryMs = 2000;

  // now: the clock that paces reconnects; it must outlive the client.
  PgClient(std::string target, const std::function<int64_t()>& now)
      : target_(std::move(target)), now_(now) {}

  // The first connection: false with its message kept for Unavailable(). A station that starts
  // without the database counts as having announced the loss (stderr says it, not the observer).
  bool Connect();
  // Tries again when lost and the pacing allows; true when connected.
  bool Reconnect();
  bool Ok() const { return connection_.Ok(); }
  PgConnection& connection() { return connection_; }
  const std::string& target() const { return target_; }
  const std::string& LastError() const { return last_error_; }

  // A prepared statement; a connection that broke under it is noted lost. Without a connection
  // nothing is sent and the result is an error without a message.
  PgResult Run(const PgStatement& statement, std::vector<std::optional<std::string>> params);
  // A statement without parameters (transaction control, the liveness probe), likewise.
  PgResult Run(const char* sql);
  // For Transaction: the error, or nothing.
  std::optional<std::string> Execute(const char* sql);
  PgFailure Classify(const PgResult& result) const { return ClassifyPgFailure(result, Ok()); }

  // "Journal unavailable" with libpq's last message.
  JournalStatus Unavailable() const;
  // A failed statement as the journal reports it: unavailable when the connection is gone,
  // else prefix and the server's message.
  JournalStatus Failed(const PgResult& result, const std::string& prefix = {}) const;

  void SetObserver(ConnectionObserver observer) { observer_ = std::move(observer); }
  // Runs after a reconnect (a station refreshes its leases).
  void SetOnRegained(std::function<void()> regained) { on_regained_ = std::move(regained); }

 private:
  void Lost(const std::string& message);

  std::string target_;
  const std::function<int64_t()>& now_;
  PgConnection connection_;
  std::string last_error_;
  bool announced_lost_ = false;
  int64_t last_attempt_ = 0;
  ConnectionObserver observer_;
  std::function<void()> on_regained_;
};

}  // namespace stampwright
