#pragma once

#include <optional>
#include <string>

namespace stampwright {

// A transaction rolled back on every way out unless committed. Database: anything with
// `std::optional<std::string> Execute(const char* sql)` (the error, or nothing): the SQLite file
// and the PostgreSQL client alike.
template <typename Database>
class Transaction {
 public:
  // begin: "BEGIN IMMEDIATE" where SQLite must take its write lock first, else "BEGIN".
  Transaction(Database& db, const char* begin) : db_(db), begin_(begin) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() { Rollback(); }

  std::optional<std::string> Begin() {
    auto error = db_.Execute(begin_);
    open_ = !error;
    return error;
  }
  std::optional<std::string> Commit() {
    auto error = db_.Execute("COMMIT");
    if (!error) open_ = false;
    return error;
  }
  // Ends it now (before a statement that must not run inside it); nothing once ended.
  void Rollback() {
    if (open_) db_.Execute("ROLLBACK");
    open_ = false;
  }

 private:
  Database& db_;
  const char* begin_;
  bool open_ = false;
};

}  // namespace stampwright
