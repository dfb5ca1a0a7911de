#include "journal/sqlite_handle.h"

namespace stampwright {

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept {
  if (this != &other) {
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = other.db_;
    other.db_ = nullptr;
  }
  return *this;
}

SqliteDatabase::~SqliteDatabase() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

std::string SqliteDatabase::Message() const {
  return db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
}

std::optional<std::string> SqliteDatabase::Execute(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return std::nullopt;
  std::string text = message != nullptr ? message : Message();
  sqlite3_free(message);
  return text;
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    statement_ = other.statement_;
    other.statement_ = nullptr;
  }
  return *this;
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

bool SqliteStatement::Prepare(sqlite3* db, const char* sql) {
  sqlite3_finalize(statement_);
  statement_ = nullptr;
  return sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) == SQLITE_OK;
}

void SqliteStatement::BindText(int index, std::string_view text) {
  if (text.empty()) {
    sqlite3_bind_null(statement_, index);
  } else {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
}

void SqliteStatement::BindInt(int index, int64_t value) { sqlite3_bind_int64(statement_, index, value); }

void SqliteStatement::BindInt(int index, std::optional<int64_t> value) {
  if (value) {
    sqlite3_bind_int64(statement_, index, *value);
  } else {
    sqlite3_bind_null(statement_, index);
  }
}

int SqliteStatement::Step() { return sqlite3_step(statement_); }

void SqliteStatement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::string SqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

std::optional<int64_t> SqliteStatement::OptionalInt(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return Int(column);
}

}  // namespace stampwright
