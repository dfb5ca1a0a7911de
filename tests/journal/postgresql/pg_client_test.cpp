#include "journal/postgresql/pg_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "journal/postgresql/pg_test_database.h"

namespace stampwright {
namespace {

constexpr PgStatement kClaim{
    "test_claim", "INSERT INTO stampwright.claims (record_id, mac, station) VALUES ($1, $2, $3)"};
constexpr PgStatement kLease{
    "test_lease", "INSERT INTO stampwright.leases (station, macs) VALUES ($1, int8range($2, $3))"};

using PgClientTest = PgDatabaseTest;

TEST_F(PgClientTest, ClassifiesTheServersRefusalsBySqlStateAndConstraint) {
  const std::function<int64_t()> now = [] { return int64_t{0}; };
  PgClient station(Target(MakeLogin("client_station", kPgStationRole)), now);
  PgClient supervisor(Target(MakeLogin("client_supervisor", kPgSupervisorRole)), now);
  ASSERT_TRUE(station.Connect()) << station.LastError();
  ASSERT_TRUE(supervisor.Connect()) << supervisor.LastError();
  const std::string mac = std::to_string(0x02A0C5100001LL);

  EXPECT_EQ(station.Classify(station.Run(kClaim, {"00000000-0000-4000-8000-00000000000a", mac,
                                                  "line-1"})),
            PgFailure::kNone);
  PgResult second = station.Run(kClaim, {"00000000-0000-4000-8000-00000000000b", mac, "line-2"});
  EXPECT_EQ(station.Classify(second), PgFailure::kUniqueViolation) << second.Error();
  EXPECT_EQ(second.ConstraintName(), "claims_one_open_per_mac");

  ASSERT_EQ(supervisor.Classify(supervisor.Run(kLease, {"line-1", "100", "200"})), PgFailure::kNone);
  PgResult overlap = supervisor.Run(kLease, {"line-2", "150", "250"});
  EXPECT_EQ(supervisor.Classify(overlap), PgFailure::kExclusionViolation) << overlap.Error();

  PgResult lease = station.Run("INSERT INTO stampwright.leases (station, macs)"
                               " VALUES ('line-1', int8range(500, 600))");
  EXPECT_EQ(station.Classify(lease), PgFailure::kPrivilege) << lease.Error();

  // Anything else is the server's word for the operator, not a lost database.
  for (const char* sql : {"SELECT 1 / 0", "SELEC 1"}) {
    PgResult other = station.Run(sql);
    EXPECT_EQ(station.Classify(other), PgFailure::kOther) << sql << ": " << other.Error();
    const JournalStatus failed = station.Failed(other, "reading the journal: ");
    EXPECT_FALSE(failed.unavailable);
    EXPECT_EQ(failed.error, "reading the journal: " + other.Error());
  }
  EXPECT_TRUE(station.Ok());
}

TEST_F(PgClientTest, ALostConnectionIsToldOnceAndTriedAgainAtItsPace) {
  int64_t t = 1000;
  const std::function<int64_t()> now = [&t] { return t; };
  const std::string target = Target(MakeLogin("client_paced", kPgStationRole));
  PgClient client(target, now);
  std::vector<std::pair<bool, std::string>> told;
  client.SetObserver([&](bool connected, const std::string& text) { told.emplace_back(connected, text); });
  int regained = 0;
  client.SetOnRegained([&] { ++regained; });
  ASSERT_TRUE(client.Connect()) << client.LastError();

  // The server ends this client's session, as a restart of the server would.
  PgResult pid = client.Run("SELECT pg_backend_pid()");
  ASSERT_TRUE(pid.Ok()) << pid.Error();
  ASSERT_TRUE(admin_.Exec(("SELECT pg_terminate_backend(" + pid.Text(0, 0) + ")").c_str()).Ok());
  PgResult lost = client.Run("SELECT 1");
  EXPECT_EQ(client.Classify(lost), PgFailure::kLostConnection);
  EXPECT_FALSE(client.Ok());
  EXPECT_TRUE(client.Failed(lost).unavailable);
  client.Run("SELECT 1");  // nothing is sent, and the loss is not told again
  ASSERT_EQ(told.size(), 1u);
  EXPECT_FALSE(told[0].first);
  EXPECT_EQ(client.Unavailable().error, told[0].second);

  // Within the pacing nothing is tried (the server is up: a try would succeed).
  t += PgClient::kReconnectEveryMs - 1;
  EXPECT_FALSE(client.Reconnect());
  EXPECT_EQ(regained, 0);
  t += 1;
  EXPECT_TRUE(client.Reconnect());
  ASSERT_EQ(told.size(), 2u);
  EXPECT_TRUE(told[1].first);
  EXPECT_EQ(told[1].second, DescribePgTarget(target));
  EXPECT_EQ(regained, 1);
  EXPECT_EQ(client.Classify(client.Run("SELECT 1")), PgFailure::kNone);
}

}  // namespace
}  // namespace stampwright
