#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "journal/postgresql/pg_journal.h"
#include "journal/export.h"
#include "journal/guard.h"
#include "journal/postgresql/pg_test_database.h"
#include "programming/mac_database.h"
#include "support/claim_race.h"
#include "support/tool_runner.h"
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

namespace stampwright {
namespace {

// Stops or starts the private cluster the wrapper made (the data stay).
void Cluster(const char* action) {
  const std::string command = std::string("bash ") + STAMPWRIGHT_SOURCE_DIR +
                              "/scripts/lib/pg_cluster.sh " + action + " " +
                              std::getenv("STAMPWRIGHT_PG_CLUSTER");
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class PgJournalTest : public PgDatabaseTest {
 protected:
  void SetUp() override {
    PgDatabaseTest::SetUp();
    if (IsSkipped()) return;
    station_login_ = MakeLogin("line_station", kPgStationRole);
    supervisor_login_ = MakeLogin("line_supervisor", kPgSupervisorRole);
    std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_, ignored);
  }
  std::string Outbox(const std::string& name) const { return (scratch_ / (name + "-outbox.db")).string(); }

  std::unique_ptr<PgJournal> Station(const std::string& name) {
    JournalStatus status;
    auto journal = PgJournal::OpenStation(Target(station_login_), name,
                                          Outbox(name), &status);
    EXPECT_TRUE(journal) << status.error;
    return journal;
  }
  std::unique_ptr<PgJournal> Supervisor() {
    JournalStatus status;
    auto journal = PgJournal::OpenDirect(Target(supervisor_login_), &status);
    EXPECT_TRUE(journal) << status.error;
    return journal;
  }

  static JournalRecord Burn(const std::string& station, const std::string& mac) {
    JournalRecord record;
    record.station = station;
    record.kind = RecordKind::kBurn;
    record.mac = mac;
    record.unit_mac_before = "0050C2000001";
    record.image_checksum = "0badf00d";
    record.started = UtcNowMs();
    return record;
  }

  // A burn from claim to its outcome ("success" unless the read-back says otherwise), as the
  // station drives it.
  static void BurnThrough(PgJournal& journal, const std::string& station, const std::string& mac,
                          std::vector<std::string>* ids = nullptr,
                          std::optional<bool> verified = std::nullopt,
                          std::optional<int64_t> other_bytes_changed = std::nullopt) {
    JournalRecord record = Burn(station, mac);
    ASSERT_TRUE(journal.Append(record).ok()) << mac;
    ASSERT_TRUE(journal.NoteCommit(record.id, UtcNowMs()).ok());
    const Outcome outcome = verified == false ? Outcome::kVerifyFailed : Outcome::kSuccess;
    ASSERT_TRUE(journal.Finish(record.id, {outcome, UtcNowMs(), 900, 1500, verified, other_bytes_changed}).ok());
    if (ids) ids->push_back(record.id);
  }

  std::filesystem::path scratch_;
  std::string station_login_, supervisor_login_;
};

TEST_F(PgJournalTest, TheDatabaseDecidesClaimsAndLeasesAcrossStations) {
  auto one = Station("line-1");
  auto two = Station("line-2");
  auto supervisor = Supervisor();
  ASSERT_TRUE(one && two && supervisor);

  JournalRecord first = Burn("line-1", "02A0C5100001");
  ASSERT_TRUE(one->Append(first).ok());
  // While line-1's attempt is under way, line-2 is refused, and nothing of its try is kept.
  JournalRecord second = Burn("line-2", "02A0C5100001");
  JournalStatus refused = two->Append(second);
  EXPECT_EQ(refused.refusal, "MAC 02A0C5100001 is being burned by station line-1.");
  ASSERT_TRUE(one->NoteCommit(first.id, UtcNowMs()).ok());
  ASSERT_TRUE(one->Finish(first.id, {Outcome::kSuccess, UtcNowMs(), 800, 1400, {}, {}}).ok());
  std::optional<BurnedMac> burned;
  ASSERT_TRUE(two->FindBurned("02A0C5100001", &burned).ok());
  ASSERT_TRUE(burned);
  EXPECT_EQ(burned->station, "line-1");

  // A supervisor's release allows one more burn; the MAC counts as burned again after it.
  JournalRecord release;
  release.station = "supervisor";
  release.kind = RecordKind::kRelease;
  release.mac = "02A0C5100001";
  release.reason = "label reprinted";
  release.started = UtcNowMs() + 1;
  ASSERT_TRUE(supervisor->Append(release).ok());
  ASSERT_TRUE(two->FindBurned("02A0C5100001", &burned).ok());
  EXPECT_FALSE(burned);
  // A station may not release.
  JournalRecord forged = release;
  forged.id.clear();
  forged.station = "line-2";
  EXPECT_FALSE(two->Append(forged).ok());

  // Leases: the database refuses an overlap; another station's leased MAC is refused online.
  MacLease lease;
  ASSERT_TRUE(supervisor->GrantLease("line-1", 0x02A0C5100010, 10, std::nullopt, &lease).ok());
  JournalStatus overlap = supervisor->GrantLease("line-2", 0x02A0C5100019, 5, std::nullopt, nullptr);
  EXPECT_NE(overlap.error.find("overlaps"), std::string::npos) << overlap.error;
  JournalRecord leased = Burn("line-2", "02A0C5100012");
  EXPECT_EQ(two->Append(leased).refusal, "MAC 02A0C5100012 is leased to station line-1.");
  ASSERT_TRUE(supervisor->RevokeLease(lease.id).ok());
  EXPECT_FALSE(supervisor->RevokeLease(lease.id).ok());
  JournalRecord after_revoke = Burn("line-2", "02A0C5100012");
  EXPECT_TRUE(two->Append(after_revoke).ok());

  std::vector<JournalRecord> all;
  ASSERT_TRUE(supervisor->Read({}, &all).ok());
  ASSERT_EQ(all.size(), 3u);  // line-1's burn, the release, line-2's burn
  EXPECT_EQ(all[0].outcome, Outcome::kSuccess);
  EXPECT_TRUE(all[0].committed);
  EXPECT_EQ(all[0].attempt, 1);
  EXPECT_EQ(all[0].image_checksum, "0badf00d");
}

TEST_F(PgJournalTest, AnOutageKeepsLeasedMacsBurningAndLosesNothing) {
  auto supervisor = Supervisor();
  ASSERT_TRUE(supervisor->GrantLease("line-1", 0x02A0C5200000, 4, std::nullopt, nullptr).ok());
  auto one = Station("line-1");
  ASSERT_TRUE(one);
  std::vector<std::pair<bool, std::string>> changes;
  one->SetConnectionObserver([&](bool up, const std::string& text) { changes.emplace_back(up, text); });
  std::vector<std::string> ids;
  BurnThrough(*one, "line-1", "02A0C5200000", &ids, true, 0);
  supervisor.reset();

  Cluster("stop");
  // Leased: burns on, into the outbox. Not leased: refused with libpq's own words.
  BurnThrough(*one, "line-1", "02A0C5200001", &ids, false, 5);
  JournalRecord outside = Burn("line-1", "02A0C5300000");
  JournalStatus refused = one->Append(outside);
  EXPECT_TRUE(refused.unavailable);
  EXPECT_FALSE(refused.error.empty());
  std::optional<BurnedMac> burned;
  EXPECT_TRUE(one->FindBurned("02A0C5300000", &burned).unavailable);
  // Already burned by this station during the lease: refused from the outbox alone.
  ASSERT_TRUE(one->FindBurned("02A0C5200000", &burned).ok());
  EXPECT_TRUE(burned);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_FALSE(changes[0].first);

  // Killed during the outage, started again: its leases and its records are still there.
  JournalRecord open = Burn("line-1", "02A0C5200002");
  ASSERT_TRUE(one->Append(open).ok());
  ids.push_back(open.id);
  one.reset();
  one = Station("line-1");
  ASSERT_TRUE(one);
  EXPECT_FALSE(one->Connected());
  EXPECT_EQ(one->Unforwarded(), 2u);
  int closed = 0;
  ASSERT_TRUE(one->CloseInterrupted("line-1", UtcNowMs(), &closed).ok());
  EXPECT_EQ(closed, 1);
  BurnThrough(*one, "line-1", "02A0C5200003", &ids, true, 2);
  one->SetConnectionObserver([&](bool up, const std::string& text) { changes.emplace_back(up, text); });

  Cluster("start");
  if (HasFatalFailure()) return;
  // The outbox reaches the database on the next tick after the reconnect pacing.
  one->now = [] { return UtcNowMs() + 10000; };
  one->Poll();
  ASSERT_TRUE(one->Connected()) << PgConnection::Connect(Target(station_login_)).Error();
  EXPECT_EQ(one->Unforwarded(), 0u);
  ASSERT_GE(changes.size(), 2u);
  EXPECT_TRUE(changes.back().first);
  EXPECT_EQ(changes.back().second.find("password"), std::string::npos);

  // Every attempt once, by UUID, with its outcome; the interrupted one too; no claim left open.
  owner_ = Connect("postgres");
  PgResult rows = owner_.Exec(
      "SELECT r.id, o.outcome FROM stampwright.records r LEFT JOIN stampwright.outcomes o"
      " ON o.record_id = r.id ORDER BY r.seq");
  ASSERT_TRUE(rows.Ok()) << rows.Error();
  std::set<std::string> central;
  for (int row = 0; row < rows.Rows(); ++row) {
    central.insert(rows.Text(row, 0));
    EXPECT_FALSE(rows.IsNull(row, 1)) << rows.Text(row, 0);
  }
  EXPECT_EQ(rows.Rows(), 4);
  EXPECT_EQ(central, std::set<std::string>(ids.begin(), ids.end()));
  PgResult open_claims = owner_.Exec("SELECT count(*) FROM stampwright.claims WHERE ended IS NULL");
  EXPECT_EQ(open_claims.Integer(0, 0), 0);
  // Forwarding again (a restart that had not noted what went through) changes nothing.
  one.reset();
  sqlite3* outbox = nullptr;
  ASSERT_EQ(sqlite3_open(Outbox("line-1").c_str(), &outbox), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(outbox, "DELETE FROM outbox_forwarded", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(outbox);
  one = Station("line-1");
  ASSERT_TRUE(one);
  EXPECT_EQ(one->Unforwarded(), 0u);
  EXPECT_EQ(owner_.Exec("SELECT count(*) FROM stampwright.records").Integer(0, 0), 4);
  EXPECT_EQ(owner_.Exec("SELECT count(*) FROM stampwright.outcomes").Integer(0, 0), 4);

  // The read-back of each attempt, online or through the outbox, arrived as it was written.
  supervisor = Supervisor();
  ASSERT_TRUE(supervisor);
  std::vector<JournalRecord> all;
  ASSERT_TRUE(supervisor->Read({}, &all).ok());
  std::map<std::string, std::pair<std::optional<bool>, std::optional<int64_t>>> read_back;
  for (const JournalRecord& r : all) read_back[r.mac] = {r.verified, r.other_bytes_changed};
  using ReadBack = std::pair<std::optional<bool>, std::optional<int64_t>>;
  EXPECT_EQ(read_back["02A0C5200000"], ReadBack(true, 0));
  EXPECT_EQ(read_back["02A0C5200001"], ReadBack(false, 5));
  EXPECT_EQ(read_back["02A0C5200002"], ReadBack());  // interrupted: never read back
  EXPECT_EQ(read_back["02A0C5200003"], ReadBack(true, 2));
}

// Two stations' journals, each station on a thread of its own: the label that line-2 burns while
// line-1 sits between its early check and its claim is refused by line-1's claim.
TEST_F(PgJournalTest, TheLabelBurnedBetweenTheCheckAndTheClaimIsRefusedByTheClaim) {
  const std::string label = "02A0C5123456";
  auto one = Station("race-a");
  auto two = Station("race-b");
  ASSERT_TRUE(one && two);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch_);  // cam.dbr is a name in the working directory
  std::ofstream("cam.dbr") << EncodeMacRecord(label, "K7QM2XWP9RTB4HZD") << "\n";
  const station_test::ClaimRaceResult race = station_test::RunClaimRace(*one, *two, label);
  std::filesystem::current_path(previous);

  ASSERT_TRUE(race.first_ready && race.second_ready && race.held && race.second_success);
  EXPECT_FALSE(race.first_success);
  EXPECT_EQ(race.first_frames_after_check, 0u);
  ASSERT_EQ(race.first_outcomes.size(), 1u);
  EXPECT_EQ(race.first_outcomes[0].outcome, Outcome::kDuplicateRefused);
  ASSERT_EQ(race.first_boxes.size(), 1u);
  ASSERT_TRUE(race.second_outcomes.at(0).committed);
  EXPECT_EQ(race.first_boxes[0].text, AlreadyBurnedText(label, {"race-b", *race.second_outcomes[0].committed}));
  EXPECT_EQ(race.first_boxes[0].type, kMbIconWarning);
  PgResult successes = owner_.Exec(
      "SELECT count(*) FROM stampwright.outcomes WHERE outcome = 'success'");
  EXPECT_EQ(successes.Integer(0, 0), 1);
}

// The database side of the same race: line-1's outcome (with its commit) is on its way in one
// transaction when line-2 claims. The claim waits for it and then sees the commit.
TEST_F(PgJournalTest, AClaimWaitsForTheTransactionThatEndsAnotherClaimAndSeesItsCommit) {
  auto one = Station("line-1");
  auto two = Station("line-2");
  ASSERT_TRUE(one && two);
  const std::string mac = "02A0C5100050";
  JournalRecord first = Burn("line-1", mac);
  ASSERT_TRUE(one->Append(first).ok());
  const int64_t committed = UtcNowMs();
  ASSERT_TRUE(one->NoteCommit(first.id, committed).ok());
  std::optional<BurnedMac> burned;
  ASSERT_TRUE(two->FindBurned(mac, &burned).ok());
  ASSERT_FALSE(burned) << "the commit travels with the outcome";

  std::mutex mutex;
  std::condition_variable changed;
  bool held = false, release = false;
  one->forward_hook = [&] {
    std::unique_lock lock(mutex);
    held = true;
    changed.notify_all();
    changed.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
  };
  JournalStatus finished, claimed;
  std::thread finisher([&] {
    finished = one->Finish(first.id, {Outcome::kSuccess, UtcNowMs(), 900, 1500, true, 0});
  });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return held; }));
  }
  std::thread claimer([&] {
    JournalRecord second = Burn("line-2", mac);
    second.unit_mac_before = "0050C2000002";
    claimed = two->Append(second);
  });
  // Let the claim reach the database and wait there (bounded), then let line-1 commit.
  PgConnection watcher = Connect("postgres");
  for (int i = 0; i < 500; ++i) {
    PgResult waiting = Run(watcher,
                           "SELECT count(*) FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid"
                           " WHERE NOT l.granted AND a.datname = $1",
                           {database_});
    if (waiting.Ok() && waiting.Integer(0, 0) > 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  {
    std::lock_guard lock(mutex);
    release = true;
    changed.notify_all();
  }
  finisher.join();
  claimer.join();
  EXPECT_TRUE(finished.ok()) << finished.error;
  EXPECT_EQ(claimed.refusal, AlreadyBurnedText(mac, {"line-1", committed}));
  ASSERT_TRUE(claimed.burned);
  EXPECT_EQ(claimed.burned->station, "line-1");
  EXPECT_EQ(owner_.Exec("SELECT count(*) FROM stampwright.claims").Integer(0, 0), 1);
}

// The engineer's bench writes to the database directly: its burn claims like a station's, its
// commit lands before the outcome that ends the claim.
TEST_F(PgJournalTest, TheToolClaimsLikeAStation) {
  auto bench = Supervisor();
  auto one = Station("line-1");
  ASSERT_TRUE(bench && one);
  const std::string mac = "02A0C5100060";
  JournalRecord tool = Burn("bench-1", mac);
  ASSERT_TRUE(bench->Append(tool).ok());
  JournalRecord station = Burn("line-1", mac);
  EXPECT_EQ(one->Append(station).refusal, "MAC 02A0C5100060 is being burned by station bench-1.");
  const int64_t committed = UtcNowMs();
  ASSERT_TRUE(bench->NoteCommit(tool.id, committed).ok());
  ASSERT_TRUE(bench->Finish(tool.id, {Outcome::kSuccess, UtcNowMs(), 700, 1500, true, 0}).ok());
  EXPECT_FALSE(bench->Finish(tool.id, {Outcome::kNoReturn, UtcNowMs(), {}, {}, {}, {}}).ok());
  station.id.clear();
  EXPECT_EQ(one->Append(station).refusal, AlreadyBurnedText(mac, {"bench-1", committed}));
  EXPECT_EQ(owner_.Exec("SELECT count(*) FROM stampwright.claims WHERE ended IS NULL").Integer(0, 0), 0);
  std::optional<JournalRecord> read;
  ASSERT_TRUE(bench->ReadOne(tool.id, &read).ok());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->outcome, Outcome::kSuccess);
  EXPECT_EQ(read->verified, true);
}

// A lease revoked while its station cannot hear of it: the station burns a MAC from its stale
// lease while the database is away, after another station burned it. Kept, flagged, reconciled.
TEST_F(PgJournalTest, AnOfflineBurnOfAMacBurnedMeanwhileIsKeptAndFlagged) {
  const std::string mac = "02A0C5200100";
  auto supervisor = Supervisor();
  MacLease lease;
  ASSERT_TRUE(supervisor->GrantLease("line-1", 0x02A0C5200100, 1, std::nullopt, &lease).ok());
  auto one = Station("line-1");
  ASSERT_TRUE(one);
  ASSERT_TRUE(supervisor->RevokeLease(lease.id).ok());
  auto two = Station("line-2");
  ASSERT_TRUE(two);
  BurnThrough(*two, "line-2", mac);
  supervisor.reset();
  two.reset();

  Cluster("stop");
  std::vector<std::string> ids;
  BurnThrough(*one, "line-1", mac, &ids, true, 0);
  // Offline too, the outbox's claim refuses what it knows burned.
  JournalRecord again = Burn("line-1", mac);
  again.unit_mac_before = "0050C2000009";
  const JournalStatus refused = one->Append(again);
  EXPECT_TRUE(refused.refusal.starts_with("MAC 02A0C5200100 was already burned by station line-1 at "))
      << refused.refusal << refused.error;
  Cluster("start");
  if (HasFatalFailure()) return;
  one->now = [] { return UtcNowMs() + 10000; };
  one->Poll();
  ASSERT_EQ(one->Unforwarded(), 0u);

  supervisor = Supervisor();
  ASSERT_TRUE(supervisor);
  std::vector<FlaggedRecord> flagged;
  ASSERT_TRUE(supervisor->ReadFlagged(&flagged).ok());
  ASSERT_EQ(flagged.size(), 1u);
  EXPECT_EQ(flagged[0].id, ids.at(0));
  EXPECT_EQ(flagged[0].station, "line-1");
  EXPECT_TRUE(flagged[0].reason.starts_with("MAC 02A0C5200100 was already burned by station line-2 at "))
      << flagged[0].reason;
  // Forwarding it again flags nothing more.
  one.reset();
  one = Station("line-1");
  ASSERT_TRUE(supervisor->ReadFlagged(&flagged).ok());
  EXPECT_EQ(flagged.size(), 1u);

  const auto encoded = tool_test::RunTool(scratch_, {"db", "encode", mac, "FLAGGEDPASSWORD1"});
  ASSERT_EQ(encoded.exit_code, 0) << encoded.err;
  std::ofstream(scratch_ / "cam.dbr") << encoded.out;
  const auto reconciled = tool_test::RunTool(
      scratch_, {"journal", "reconcile", "cam.dbr", "--journal", Target(supervisor_login_)});
  EXPECT_EQ(reconciled.exit_code, 1) << reconciled.out << reconciled.err;
  EXPECT_NE(reconciled.out.find(ids[0]), std::string::npos) << reconciled.out;
  EXPECT_TRUE(reconciled.out.ends_with("difference: 1\n")) << reconciled.out;
}


// Every field reaches the line's tables and comes back as written, by every way in: the tool's
// claim and its direct commit and outcome, a station's claim with its commit and outcome
// forwarded from the outbox, a station's firmware record forwarded whole, a supervisor's scrap;
// each with a bay, and without one as a station without gang writes them.
TEST_F(PgJournalTest, EveryFieldReachesTheDatabaseAndComesBackAsWritten) {
  auto bench = Supervisor();
  auto one = Station("line-1");
  ASSERT_TRUE(bench && one);
  int64_t at = UtcNowMs();
  const auto full = [&](const std::string& station, const std::string& mac, RecordKind kind,
                        std::optional<int64_t> bay = std::nullopt) {
    JournalRecord r;
    r.station = station;
    r.adapter = "eth1";
    r.kind = kind;
    r.mac = mac;
    r.unit_mac_before = "0050C2000001";
    r.chip = "OTHER-CHIP";
    r.module_class = "PX300 Class B";
    r.firmware_version = "3.3.6";
    r.image_checksum = "0badcafe";
    r.started = ++at;
    r.config = "c0ffee12";
    r.firmware_name = "fw " + mac + ".nvm";
    r.firmware_size = 1048576;
    r.firmware_sha256 = std::string(64, 'b');
    r.reason = "line \"one\"";
    r.bay = bay;
    return r;
  };
  struct Case {
    Journal* journal;
    JournalRecord record;
    std::optional<AttemptEnd> end;
  };
  std::vector<Case> cases = {
      {bench.get(), full("bench-1", "02A0C5300001", RecordKind::kBurn, 1),
       AttemptEnd{Outcome::kVerifyFailed, 0, 1200, 3400, false, 7}},
      {one.get(), full("line-1", "02A0C5300002", RecordKind::kBurn, 2),
       AttemptEnd{Outcome::kSuccess, 0, 900, {}, true, 0}},
      {one.get(), full("line-1", "02A0C5300003", RecordKind::kFirmware, 16),
       AttemptEnd{Outcome::kFirmwareOk, 0, 5000, {}, {}, {}}},
      {bench.get(), full("bench-1", "02A0C5300004", RecordKind::kScrap), std::nullopt},
      {bench.get(), full("bench-1", "02A0C5300005", RecordKind::kBurn),
       AttemptEnd{Outcome::kSuccess, 0, 900, 1500, true, 0}},
      {one.get(), full("line-1", "02A0C5300006", RecordKind::kBurn),
       AttemptEnd{Outcome::kSuccess, 0, 900, {}, true, 0}},
      {one.get(), full("line-1", "02A0C5300007", RecordKind::kFirmware),
       AttemptEnd{Outcome::kFirmwareOk, 0, 5000, {}, {}, {}}},
  };
  for (Case& c : cases) {
    JournalRecord expected = c.record;
    ASSERT_TRUE(c.journal->Append(c.record).ok()) << c.record.mac;
    expected.id = c.record.id;
    if (c.end) {
      expected.attempt = 1;
      if (c.record.kind == RecordKind::kBurn) {
        expected.committed = ++at;
        ASSERT_TRUE(c.journal->NoteCommit(c.record.id, *expected.committed).ok());
      }
      c.end->finished = ++at;
      ASSERT_TRUE(c.journal->Finish(c.record.id, *c.end).ok());
      expected.outcome = c.end->outcome;
      expected.finished = c.end->finished;
      expected.burn_ms = c.end->burn_ms;
      expected.return_ms = c.end->return_ms;
      expected.verified = c.end->verified;
      expected.other_bytes_changed = c.end->other_bytes_changed;
    }
    std::optional<JournalRecord> central;
    ASSERT_TRUE(bench->ReadOne(c.record.id, &central).ok());
    ASSERT_TRUE(central) << c.record.mac;
    EXPECT_EQ(RecordJson(*central), RecordJson(expected));
    RecordFilter filter;
    filter.mac = c.record.mac;
    std::vector<JournalRecord> listed;
    ASSERT_TRUE(bench->Read(filter, &listed).ok());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(RecordJson(listed[0]), RecordJson(expected));
  }
}

}  // namespace
}  // namespace stampwright
