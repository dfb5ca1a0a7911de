// Two headless stations of four demo bays each draw their MACs from their own leases on one
// PostgreSQL journal: every unit read is burned at once with its station's lowest free MAC,
// no MAC is taken twice, each station stays inside its leases, and the station whose lease runs
// out says so and burns nothing more.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "journal/postgresql/pg_test_database.h"
#include "support/station_process.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

using e2e::StationProcess;
using json = nlohmann::ordered_json;

std::string PoolMac(int index) {
  char text[13];
  std::snprintf(text, sizeof text, "02A0C51000%02X", index + 1);
  return text;
}

using PoolLineTest = PgDatabaseTest;

TEST_F(PoolLineTest, TwoStationsDrawingFromTheirLeasesNeverTakeTheSameMac) {
  if (IsSkipped() || HasFatalFailure()) return;
  const std::string station_login = MakeLogin("pool_station", kPgStationRole);
  const std::string supervisor_login = MakeLogin("pool_supervisor", kPgSupervisorRole);
  std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-pool-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path scratch = pattern;
  std::string camdbr;
  for (int i = 0; i < 10; ++i) {
    char password[17];
    std::snprintf(password, sizeof password, "POOLPASSWORD%04d", i);
    const auto encoded = tool_test::RunTool(scratch, {"db", "encode", PoolMac(i), password});
    ASSERT_EQ(encoded.exit_code, 0) << encoded.err;
    camdbr += encoded.out;
  }
  // "east" holds 3 MACs for its 4 bays, "west" 4, one of them lost to a write that failed.
  const std::map<std::string, std::pair<int, int>> leases = {{"east", {0, 3}}, {"west", {3, 4}}};
  for (const auto& [station, lease] : leases) {
    const auto leased = tool_test::RunTool(
        scratch, {"journal", "lease", "--journal", Target(supervisor_login), "--station", station,
                  "--from", PoolMac(lease.first), "--count", std::to_string(lease.second)});
    ASSERT_EQ(leased.exit_code, 0) << leased.err;
  }
  PgConnection owner = Connect("postgres");
  const std::string failed_write =
      "INSERT INTO stampwright.records (id, station, kind, mac, started) VALUES "
      "('00000000-0000-4000-8000-0000000000aa', 'west', 'burn', '" + PoolMac(3) + "', now())";
  ASSERT_TRUE(owner.Exec(failed_write.c_str()).Ok());
  ASSERT_TRUE(owner.Exec("INSERT INTO stampwright.outcomes (record_id, outcome, finished) VALUES "
                         "('00000000-0000-4000-8000-0000000000aa', 'write-failed', now())").Ok());

  std::map<std::string, std::unique_ptr<StationProcess>> stations;
  for (const auto& [name, lease] : leases) {
    const std::filesystem::path dir = scratch / name;
    std::filesystem::create_directories(dir / "run");
    ::chmod((dir / "run").c_str(), 0700);
    std::ofstream(dir / "cam.dbr") << camdbr;
    e2e::ProcessOptions options;
    options.environment = {{"XDG_RUNTIME_DIR", (dir / "run").string()}};
    stations[name] = std::make_unique<StationProcess>(
        std::vector<std::string>{"--headless", "--demo", "--bays", "4", "--workdir", dir.string(),
                                 "--journal", Target(station_login), "--station", name,
                                 "--mac-source", "pool", "--pool-warn", "10"},
        options);
  }
  // east: three successes and one bay told the pool is empty; west: four successes less the
  // MAC its lease lost to the failed write.
  const std::map<std::string, int> expected = {{"east", 3}, {"west", 3}};
  for (auto& [name, station] : stations) {
    int successes = 0;
    bool empty_said = false;
    ASSERT_TRUE(station->WaitForEvent(
        [&](const json& e) {
          if (e.value("event", "") == "journal" && e["record"].value("outcome", "") == "success") {
            ++successes;
          }
          if (e.value("event", "") == "notice" && e.value("text", "") == "The MAC pool is empty.") {
            empty_said = true;
          }
          return successes == expected.at(name) && empty_said;
        },
        60000))
        << name << ": " << station->stderr_text();
    station->Write("sleep 300\nclose\n");
    station->CloseInput();
  }
  std::map<std::string, std::set<std::string>> burned;
  std::set<std::string> all;
  for (auto& [name, station] : stations) {
    ASSERT_EQ(station->Wait(60000), 0) << station->stderr_text();
    for (const json& event : station->EventsOfKind("journal")) {
      const json& record = event["record"];
      if (record.value("kind", "") != "burn" || record.value("outcome", "") == "") continue;
      EXPECT_EQ(record.value("outcome", ""), "success") << record.dump();
      const std::string mac = record.value("mac", "");
      EXPECT_TRUE(all.insert(mac).second) << mac << " burned twice";
      burned[name].insert(mac);
    }
  }
  EXPECT_EQ(burned["east"], (std::set<std::string>{PoolMac(0), PoolMac(1), PoolMac(2)}));
  EXPECT_EQ(burned["west"], (std::set<std::string>{PoolMac(4), PoolMac(5), PoolMac(6)}));
  // The line's own count of west's pool, through the tool.
  const auto counted = tool_test::RunTool(scratch / "west", {"journal", "pool", "--journal",
                                                            Target(supervisor_login), "--station",
                                                            "west"});
  EXPECT_EQ(counted.out, "free 0\nburned 4\nscrapped 0\nheld 0\nnot in cam.dbr 0\n") << counted.err;
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
}

}  // namespace
}  // namespace stampwright
