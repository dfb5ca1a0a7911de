#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

#include "journal/postgresql/pg_connection.h"
#include "journal/postgresql/pg_schema.h"

namespace stampwright {

// A fresh database with the journal's schema in the private cluster that
// scripts/lib/with_pg_cluster.sh started for this test program (PGHOST, PGPORT, PGUSER name it).
// Without that cluster every test skips. Login roles made here are the cluster's and outlive the
// database; their names carry the process id so that programs sharing a cluster do not meet.
class PgDatabaseTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("STAMPWRIGHT_PG_CLUSTER")) {
      GTEST_SKIP() << "no PostgreSQL cluster: run through scripts/lib/with_pg_cluster.sh";
    }
    static std::atomic<int> counter = 0;
    database_ = "journal_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    admin_ = PgConnection::Connect("dbname=postgres");
    ASSERT_TRUE(admin_.Ok()) << admin_.Error();
    ASSERT_TRUE(admin_.Exec(("CREATE DATABASE " + database_).c_str()).Ok());
    owner_ = Connect("postgres");
    ASSERT_TRUE(owner_.Ok()) << owner_.Error();
    std::string error;
    ASSERT_TRUE(InitPgSchema(owner_, &error)) << error;
  }

  // The target of this test's database for a login role (trusted on the Unix socket).
  std::string Target(const std::string& user) const {
    return "dbname=" + database_ + " user=" + user;
  }
  PgConnection Connect(const std::string& user) const { return PgConnection::Connect(Target(user)); }

  // A login role that is a member of group (kPgStationRole or kPgSupervisorRole).
  std::string MakeLogin(const std::string& name, const char* group) {
    std::string login = name + "_" + std::to_string(getpid());
    admin_.Exec(("DROP ROLE IF EXISTS " + login).c_str());
    PgResult made = admin_.Exec(("CREATE ROLE " + login + " LOGIN IN ROLE " + group).c_str());
    EXPECT_TRUE(made.Ok()) << made.Error();
    return login;
  }

  // Runs sql with text parameters; for tests that speak to the tables directly.
  static PgResult Run(PgConnection& connection, const char* sql,
                      std::initializer_list<std::optional<std::string>> params = {}) {
    // A fresh name per call: the statement texts of a test differ, and each connection prepares.
    static std::atomic<int> serial = 0;
    std::string name = "test_" + std::to_string(++serial);
    std::vector<std::optional<std::string>> values(params);
    return connection.Exec(PgStatement{name.c_str(), sql}, values);
  }

  std::string database_;
  PgConnection admin_;
  PgConnection owner_;
};

}  // namespace stampwright
