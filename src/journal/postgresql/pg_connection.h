#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

struct pg_conn;
struct pg_result;

namespace stampwright {

// SQLSTATE codes the journal reads instead of matching message texts.
inline constexpr std::string_view kSqlStateUniqueViolation = "23505";
inline constexpr std::string_view kSqlStateExclusionViolation = "23P01";
inline constexpr std::string_view kSqlStateInsufficientPrivilege = "42501";
inline constexpr std::string_view kSqlStateRaiseException = "P0001";

// Owns one PGresult; cleared on every way out. A default-constructed result is an error without a
// message (the connection was gone before a statement could be sent).
class PgResult {
 public:
  PgResult() = default;
  explicit PgResult(pg_result* result) : result_(result) {}

  pg_result* get() const { return result_.get(); }
  // The statement ran: a command completed or rows came back.
  bool Ok() const;
  // Five characters, empty when the server sent none (a connection failure).
  std::string SqlState() const;
  // The server's or libpq's message, without the "ERROR:" prefix and the trailing newline.
  std::string Error() const;
  // The constraint a violation names, or empty.
  std::string ConstraintName() const;

  int Rows() const;
  bool IsNull(int row, int column) const;
  std::string Text(int row, int column) const;
  long long Integer(int row, int column) const;

 private:
  struct Clearer {
    void operator()(pg_result* result) const;
  };
  std::unique_ptr<pg_result, Clearer> result_;
};

// A statement prepared on first use on each connection, under its own name; SQL text only as
// written in the program, every value a bound parameter.
struct PgStatement {
  const char* name;
  const char* sql;
};

// Owns one PGconn; finished on every way out. Connects with bounded waits: libpq's connect and
// TCP timeouts are set unless the target names its own, so an unreachable server is an error
// within seconds, never a hang of the station.
class PgConnection {
 public:
  PgConnection() = default;
  PgConnection(PgConnection&&) noexcept = default;
  PgConnection& operator=(PgConnection&&) noexcept = default;

  // target: a postgresql:// or postgres:// URI or a key=value string. Passwords come the way
  // libpq takes them (the target, ~/.pgpass, PGPASSFILE, a service file, PGPASSWORD).
  static PgConnection Connect(const std::string& target);

  // Connected and not known to be broken.
  bool Ok() const;
  // libpq's last message for this connection (never containing the password), trimmed.
  std::string Error() const;

  // A statement without parameters (schema steps, transaction control).
  PgResult Exec(const char* sql);
  // A prepared statement with text parameters; nullopt is SQL NULL.
  PgResult Exec(const PgStatement& statement, std::span<const std::optional<std::string>> params);

 private:
  struct Finisher {
    void operator()(pg_conn* connection) const;
  };
  std::unique_ptr<pg_conn, Finisher> connection_;
  std::unordered_set<std::string> prepared_;
  bool unreadable_ = false;
};

// The target as people may see it: host, port, database and user, never the password (also not
// one written inside a URI). Returns "PostgreSQL (unparsable target)" when libpq cannot read it.
std::string DescribePgTarget(const std::string& target);

// True for targets that name a PostgreSQL journal rather than a file: postgresql:// and
// postgres:// URIs and key=value strings.
bool IsPgTarget(std::string_view target);

}  // namespace stampwright
