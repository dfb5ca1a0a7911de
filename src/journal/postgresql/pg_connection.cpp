#include "journal/postgresql/pg_connection.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <vector>

namespace stampwright {

namespace {

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

// Notices (a table that exists already, an implicit index) are not for the operator.
void IgnoreNotice(void*, const char*) {}

struct ConninfoFree {
  void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using ConninfoOptions = std::unique_ptr<PQconninfoOption, ConninfoFree>;

ConninfoOptions Parse(const std::string& target) {
  char* error = nullptr;
  ConninfoOptions options(PQconninfoParse(target.c_str(), &error));
  PQfreemem(error);  // it may quote the target, password included: never shown
  return options;
}

}  // namespace

void PgResult::Clearer::operator()(pg_result* result) const { PQclear(result); }

bool PgResult::Ok() const {
  if (!result_) return false;
  ExecStatusType status = PQresultStatus(result_.get());
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string PgResult::SqlState() const {
  if (!result_) return {};
  const char* state = PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE);
  return state ? state : "";
}

std::string PgResult::ConstraintName() const {
  if (!result_) return {};
  const char* name = PQresultErrorField(result_.get(), PG_DIAG_CONSTRAINT_NAME);
  return name ? name : "";
}

std::string PgResult::Error() const {
  if (!result_) return "no connection to the server";
  const char* primary = PQresultErrorField(result_.get(), PG_DIAG_MESSAGE_PRIMARY);
  if (primary) return Trimmed(primary);
  return Trimmed(PQresultErrorMessage(result_.get()));
}

int PgResult::Rows() const { return result_ ? PQntuples(result_.get()) : 0; }

bool PgResult::IsNull(int row, int column) const {
  return !result_ || PQgetisnull(result_.get(), row, column);
}

std::string PgResult::Text(int row, int column) const {
  if (IsNull(row, column)) return {};
  return PQgetvalue(result_.get(), row, column);
}

long long PgResult::Integer(int row, int column) const {
  if (IsNull(row, column)) return 0;
  return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

void PgConnection::Finisher::operator()(pg_conn* connection) const { PQfinish(connection); }

PgConnection PgConnection::Connect(const std::string& target) {
  // Defaults first: a value the target names itself comes later in the arrays and wins.
  std::vector<const char*> keywords;
  std::vector<const char*> values;
  auto add = [&](const char* keyword, const char* value) {
    keywords.push_back(keyword);
    values.push_back(value);
  };
  if (!std::getenv("PGCONNECT_TIMEOUT")) add("connect_timeout", "5");
  // A server that vanishes without closing the connection is noticed within seconds.
  add("tcp_user_timeout", "5000");
  add("keepalives_idle", "5");
  add("keepalives_interval", "2");
  add("keepalives_count", "2");
  add("fallback_application_name", "stampwright");
  add("dbname", target.c_str());
  keywords.push_back(nullptr);
  values.push_back(nullptr);

  PgConnection connection;
  // libpq's message for a malformed string may quote a piece of it, the password included.
  if (!Parse(target)) {
    connection.unreadable_ = true;
    return connection;
  }
  connection.connection_.reset(PQconnectdbParams(keywords.data(), values.data(), 1));
  if (connection.connection_) {
    PQsetNoticeProcessor(connection.connection_.get(), IgnoreNotice, nullptr);
  }
  return connection;
}

bool PgConnection::Ok() const {
  return connection_ && PQstatus(connection_.get()) == CONNECTION_OK;
}

std::string PgConnection::Error() const {
  if (unreadable_) return "the journal target is not a connection string libpq can read";
  if (!connection_) return "out of memory";
  return Trimmed(PQerrorMessage(connection_.get()));
}

PgResult PgConnection::Exec(const char* sql) {
  if (!connection_) return PgResult();
  return PgResult(PQexec(connection_.get(), sql));
}

PgResult PgConnection::Exec(const PgStatement& statement,
                            std::span<const std::optional<std::string>> params) {
  if (!connection_) return PgResult();
  if (!prepared_.contains(statement.name)) {
    PgResult prepared(PQprepare(connection_.get(), statement.name, statement.sql, 0, nullptr));
    if (!prepared.Ok()) return prepared;
    prepared_.insert(statement.name);
  }
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  return PgResult(PQexecPrepared(connection_.get(), statement.name, static_cast<int>(values.size()),
                                 values.data(), nullptr, nullptr, 0));
}

std::string DescribePgTarget(const std::string& target) {
  ConninfoOptions options = Parse(target);
  if (!options) return "PostgreSQL (unparsable target)";
  std::string text = "PostgreSQL";
  for (const char* shown : {"service", "host", "hostaddr", "port", "dbname", "user"}) {
    for (PQconninfoOption* o = options.get(); o->keyword; ++o) {
      if (std::string_view(o->keyword) == shown && o->val && *o->val) {
        text += std::string(" ") + shown + "=" + o->val;
      }
    }
  }
  return text;
}

bool IsPgTarget(std::string_view target) {
  if (target.starts_with("postgresql://") || target.starts_with("postgres://")) return true;
  // A key=value string is one libpq reads as such; a file name never parses (no "=", or not a
  // keyword libpq knows).
  if (target.find('=') == std::string_view::npos) return false;
  return Parse(std::string(target)) != nullptr;
}

}  // namespace stampwright
