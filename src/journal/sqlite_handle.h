#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stampwright {

// The move-only owner of one SQLite connection.
class SqliteDatabase {
 public:
  SqliteDatabase() = default;
  explicit SqliteDatabase(sqlite3* db) : db_(db) {}
  SqliteDatabase(SqliteDatabase&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
  SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;
  ~SqliteDatabase();

  sqlite3* get() const { return db_; }
  // The library's message for the last failed call on this connection.
  std::string Message() const;
  // Runs statements without parameters; the error message, or nothing.
  std::optional<std::string> Execute(const char* sql);

 private:
  sqlite3* db_ = nullptr;
};

// The move-only owner of one prepared statement, with bound parameters only.
class SqliteStatement {
 public:
  SqliteStatement() = default;
  SqliteStatement(SqliteStatement&& other) noexcept : statement_(other.statement_) {
    other.statement_ = nullptr;
  }
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  ~SqliteStatement();

  // Prepares sql on db; false with db's message on failure.
  bool Prepare(sqlite3* db, const char* sql);
  sqlite3_stmt* get() const { return statement_; }

  // Parameters count from 1. An empty text or an absent number binds NULL.
  void BindText(int index, std::string_view text);
  void BindInt(int index, int64_t value);
  void BindInt(int index, std::optional<int64_t> value);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  void Reset();

  std::string Text(int column) const;
  int64_t Int(int column) const;
  std::optional<int64_t> OptionalInt(int column) const;

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace stampwright
