// Three headless stations, each with its own demo unit, working directory and lock directory,
// burn from one cam.dbr of 20 MACs, in different orders, against one PostgreSQL journal: once
// with the database there throughout, once with it stopped for the middle third of the run while
// two of the stations hold leases.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "journal/postgresql/pg_test_database.h"
#include "support/station_process.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

using e2e::IsEvent;
using e2e::StationProcess;
using SteadyClock = std::chrono::steady_clock;

constexpr int kMacs = 20;
constexpr int kThird = 7;  // tries per station before the outage, and during it
// The loaded runs: each burns its own 8 MACs of the file, after the first kMacs.
constexpr int kLoadedRuns = 3;
constexpr int kLoadedMacs = 8;
constexpr int kFileMacs = kMacs + kLoadedRuns * kLoadedMacs;
constexpr const char* kReady = "Read Module OK - PX300 Class B";

std::string MacOf(int index) {
  char text[13];
  std::snprintf(text, sizeof text, "02A0C51000%02X", (index + 1) & 0xFF);
  return text;
}

// How one try ended.
struct Try {
  std::string mac;
  std::string outcome;  // the journal's outcome, or "unavailable" for a box without a record
  std::string box;      // the message box shown, if any
  bool during_outage = false;
};

// One station and the try it is on.
struct LineStation {
  std::string name;
  std::vector<int> order;
  std::unique_ptr<StationProcess> process;
  size_t next = 0;        // index into order of the try to start next
  bool busy = false;      // a try was started and has not ended
  size_t journal_seen = 0;
  size_t boxes_seen = 0;
  size_t errors_seen = 0;
  std::vector<Try> tries;
  std::set<std::string> reported_ids;
};

class LineStationsTest : public PgDatabaseTest {
 protected:
  void SetUp() override {
    PgDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    station_login_ = MakeLogin("line_station", kPgStationRole);
    supervisor_login_ = MakeLogin("line_supervisor", kPgSupervisorRole);
    std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-line-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
    // One cam.dbr for the whole line.
    for (int i = 0; i < kFileMacs; ++i) {
      char password[17];
      std::snprintf(password, sizeof password, "LINEPASSWORD%04d", i);
      const auto encoded = tool_test::RunTool(scratch_, {"db", "encode", MacOf(i), password});
      ASSERT_EQ(encoded.exit_code, 0) << encoded.err;
      camdbr_ += encoded.out;
    }
  }
  void TearDown() override {
    stations_.clear();
    std::error_code ignored;
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_, ignored);
  }

  void Cluster(const char* action) {
    const std::string command = std::string("bash ") + STAMPWRIGHT_SOURCE_DIR +
                                "/scripts/lib/pg_cluster.sh " + action + " " +
                                std::getenv("STAMPWRIGHT_PG_CLUSTER");
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  void Lease(const std::string& station, int first, int count) {
    const auto leased = tool_test::RunTool(
        scratch_, {"journal", "lease", "--journal", Target(supervisor_login_), "--station", station,
                   "--from", MacOf(first), "--count", std::to_string(count)});
    ASSERT_EQ(leased.exit_code, 0) << leased.err;
  }

  void Start(const std::string& name, std::vector<int> order) {
    const std::filesystem::path dir = scratch_ / name;
    std::filesystem::create_directories(dir / "run");
    ::chmod((dir / "run").c_str(), 0700);
    std::ofstream(dir / "cam.dbr") << camdbr_;
    LineStation station;
    station.name = name;
    station.order = std::move(order);
    e2e::ProcessOptions options;
    options.environment = {{"XDG_RUNTIME_DIR", (dir / "run").string()}};
    station.process = std::make_unique<StationProcess>(
        std::vector<std::string>{"--headless", "--demo", "--workdir", dir.string(), "--journal",
                                 Target(station_login_), "--station", name},
        options);
    stations_.push_back(std::move(station));
  }

  // Reads what each station wrote; ends a try on its journal record, or on a box that comes
  // without one (the journal unavailable); a Burn refused as disabled is tried again.
  void Pump(LineStation& s) {
    s.process->WaitForEvent([](const auto&) { return false; }, 5);
    if (!s.busy) return;
    Try& current = s.tries.back();
    const auto boxes = s.process->EventsOfKind("messagebox");
    for (; s.boxes_seen < boxes.size(); ++s.boxes_seen) {
      current.box = boxes[s.boxes_seen].value("text", "");
      if (current.box.starts_with("Journal unavailable: ") && current.outcome.empty()) {
        current.outcome = "unavailable";
      }
    }
    const auto records = s.process->EventsOfKind("journal");
    for (; s.journal_seen < records.size(); ++s.journal_seen) {
      const auto& record = records[s.journal_seen]["record"];
      s.reported_ids.insert(record.value("id", ""));
      if (record.value("mac", "") == current.mac) current.outcome = record.value("outcome", "");
    }
    const auto errors = s.process->EventsOfKind("error");
    if (errors.size() > s.errors_seen) {
      s.errors_seen = errors.size();
      s.tries.pop_back();  // Burn was disabled (the unit restarting): the same MAC again
      s.busy = false;
      return;
    }
    // A refusal's box follows its record at once: the try ends with both.
    const bool refused = current.outcome == "duplicate-refused" || current.outcome == "unavailable";
    if (current.outcome == "success" || (refused && !current.box.empty()) ||
        (!current.outcome.empty() && !refused)) {
      s.busy = false;
      ++s.next;
    }
  }

  void StartTry(LineStation& s) {
    Try attempt;
    attempt.mac = MacOf(s.order[s.next]);
    attempt.during_outage = outage_;
    s.tries.push_back(attempt);
    s.busy = true;
    s.process->Write("set 1009 " + attempt.mac + "\nclick 1102\n");
  }

  // Runs every station until each has started `until` tries and finished them.
  void RunUntil(size_t until, int timeout_ms) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      bool all_done = true;
      for (LineStation& s : stations_) {
        Pump(s);
        if (!s.busy && s.next < until) StartTry(s);
        if (s.busy || s.next < until) all_done = false;
      }
      if (all_done) return;
      ASSERT_LT(SteadyClock::now(), deadline) << "the line did not get through its tries in time";
    }
  }

  std::set<std::string> CentralIds() {
    PgConnection reader = Connect("postgres");
    PgResult rows = reader.Exec(
        "SELECT r.id FROM stampwright.records r JOIN stampwright.outcomes o ON o.record_id = r.id");
    std::set<std::string> ids;
    for (int row = 0; row < rows.Rows(); ++row) ids.insert(rows.Text(row, 0));
    return ids;
  }

  std::set<std::string> Reported() const {
    std::set<std::string> ids;
    for (const LineStation& s : stations_) ids.insert(s.reported_ids.begin(), s.reported_ids.end());
    return ids;
  }

  // Waits up to 10 s for the central journal to hold exactly what the stations reported.
  void ExpectCentralHoldsEveryAttemptOnce() {
    const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
    std::set<std::string> central;
    while (SteadyClock::now() < deadline) {
      for (LineStation& s : stations_) Pump(s);
      central = CentralIds();
      if (central == Reported()) break;
    }
    EXPECT_EQ(central, Reported());
    PgConnection reader = Connect("postgres");  // the owner's connection may predate an outage
    PgResult count = reader.Exec("SELECT count(*), count(DISTINCT id) FROM stampwright.records");
    EXPECT_EQ(count.Integer(0, 0), static_cast<long long>(Reported().size()));
    EXPECT_EQ(count.Integer(0, 1), count.Integer(0, 0));
    PgResult open = reader.Exec("SELECT count(*) FROM stampwright.claims WHERE ended IS NULL");
    EXPECT_EQ(open.Integer(0, 0), 0);
  }

  // Each MAC reached "success" at most once across the line; every other try was refused with
  // the box that says why.
  std::map<std::string, int> CheckTries() {
    std::map<std::string, int> successes;
    for (const LineStation& s : stations_) {
      for (const Try& t : s.tries) {
        if (t.outcome == "success") {
          ++successes[t.mac];
          continue;
        }
        EXPECT_TRUE(t.outcome == "duplicate-refused" || t.outcome == "unavailable")
            << s.name << " " << t.mac << ": " << t.outcome;
        const bool explained = t.box.starts_with("MAC " + t.mac + " was already burned by station ") ||
                               t.box.starts_with("MAC " + t.mac + " is being burned by station ") ||
                               t.box.starts_with("MAC " + t.mac + " is leased to station ") ||
                               t.box.starts_with("Journal unavailable: ");
        EXPECT_TRUE(explained) << s.name << " " << t.mac << ": " << t.box;
      }
    }
    for (const auto& [mac, count] : successes) EXPECT_EQ(count, 1) << mac;
    return successes;
  }

  void CloseAll() {
    for (LineStation& s : stations_) s.process->Write("close\n");
    for (LineStation& s : stations_) EXPECT_EQ(s.process->Wait(15000), 0) << s.name;
  }

  std::filesystem::path scratch_;
  std::string camdbr_;
  std::string station_login_, supervisor_login_;
  std::vector<LineStation> stations_;
  bool outage_ = false;
};

std::vector<int> Natural() {
  std::vector<int> order;
  for (int i = 0; i < kMacs; ++i) order.push_back(i);
  return order;
}

std::vector<int> Reversed() {
  std::vector<int> order = Natural();
  std::reverse(order.begin(), order.end());
  return order;
}

std::vector<int> Stride7() {
  std::vector<int> order;
  for (int i = 0; i < kMacs; ++i) order.push_back(i * 7 % kMacs);
  return order;
}

void WaitReady(StationProcess& process) {
  ASSERT_TRUE(process.WaitForEvent(
      [](const auto& e) { return IsEvent(e, "text") && e.value("id", 0) == 1105 && e.value("text", "") == kReady; },
      20000));
}

TEST_F(LineStationsTest, EveryMacIsBurnedOnceAcrossTheLine) {
  Start("line-a", Natural());
  Start("line-b", Reversed());
  Start("line-c", Stride7());
  for (LineStation& s : stations_) WaitReady(*s.process);
  RunUntil(kMacs, 100000);
  if (HasFatalFailure()) return;
  const std::map<std::string, int> successes = CheckTries();
  EXPECT_EQ(successes.size(), static_cast<size_t>(kMacs));
  ExpectCentralHoldsEveryAttemptOnce();
  CloseAll();

  // The tool over the line's journal: every station's records, per-station rows.
  std::ofstream(scratch_ / "cam.dbr") << camdbr_;
  const std::string target = Target(supervisor_login_);
  const auto reconciled = tool_test::RunTool(scratch_, {"journal", "reconcile", "cam.dbr", "--journal", target});
  EXPECT_EQ(reconciled.exit_code, 0) << reconciled.out << reconciled.err;
  EXPECT_NE(reconciled.out.find("burned: 20\n"), std::string::npos) << reconciled.out;
  EXPECT_TRUE(reconciled.out.ends_with("difference: 0\n")) << reconciled.out;
  const auto report = tool_test::RunTool(scratch_, {"journal", "report", "--journal", target});
  EXPECT_NE(report.out.find("by station:\n  line-a  attempts "), std::string::npos) << report.out;
  for (const LineStation& s : stations_) {
    EXPECT_NE(reconciled.out.find("station " + s.name + ": burned "), std::string::npos);
    const auto listed = tool_test::RunTool(scratch_, {"journal", "list", "--station", s.name, "--journal", target});
    EXPECT_EQ(static_cast<size_t>(std::count(listed.out.begin(), listed.out.end(), '\n')),
              s.reported_ids.size()) << listed.err;
  }
}

// Every core busy beside the line, so the stations' checks, claims and commits interleave as
// they do on a loaded PC.
class CpuHog {
 public:
  CpuHog() {
    const unsigned n = std::max(2u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < n; ++i) {
      threads_.emplace_back([this] {
        uint64_t spin = 0;
        while (!stop_.load(std::memory_order_relaxed)) spin = spin * 3 + 1;
        sink_.fetch_add(spin, std::memory_order_relaxed);
      });
    }
  }
  ~CpuHog() {
    stop_ = true;
    for (std::thread& t : threads_) t.join();
  }

 private:
  std::atomic<bool> stop_ = false;
  std::atomic<uint64_t> sink_ = 0;  // keeps the spinning from being optimised away
  std::vector<std::thread> threads_;
};

TEST_F(LineStationsTest, ThreeStationsTryingEveryMacAtOnceOnALoadedMachineBurnEachOnce) {
  CpuHog hog;
  for (int run = 0; run < kLoadedRuns; ++run) {
    std::vector<int> natural;
    for (int i = 0; i < kLoadedMacs; ++i) natural.push_back(kMacs + run * kLoadedMacs + i);
    std::vector<int> reversed(natural.rbegin(), natural.rend());
    std::vector<int> stride;
    for (int i = 0; i < kLoadedMacs; ++i) stride.push_back(natural[static_cast<size_t>(i * 3 % kLoadedMacs)]);
    const std::string suffix = "-" + std::to_string(run);
    Start("load-a" + suffix, natural);
    Start("load-b" + suffix, reversed);
    Start("load-c" + suffix, stride);
    for (LineStation& s : stations_) WaitReady(*s.process);
    RunUntil(kLoadedMacs, 200000);
    if (HasFatalFailure()) return;
    EXPECT_EQ(CheckTries().size(), static_cast<size_t>(kLoadedMacs)) << "run " << run;
    CloseAll();
    stations_.clear();
  }
  PgConnection reader = Connect("postgres");
  PgResult twice = reader.Exec(
      "SELECT r.mac, count(*) FROM stampwright.records r JOIN stampwright.commits c"
      " ON c.record_id = r.id GROUP BY r.mac HAVING count(*) > 1");
  ASSERT_TRUE(twice.Ok()) << twice.Error();
  EXPECT_EQ(twice.Rows(), 0) << twice.Text(0, 0) << " committed " << twice.Text(0, 1) << " times";
  EXPECT_EQ(reader.Exec("SELECT count(*) FROM stampwright.commits").Integer(0, 0), kLoadedRuns * kLoadedMacs);
  EXPECT_EQ(reader.Exec("SELECT count(*) FROM stampwright.claims WHERE ended IS NULL").Integer(0, 0), 0);
  std::ofstream(scratch_ / "cam.dbr") << camdbr_;
  const auto reconciled = tool_test::RunTool(
      scratch_, {"journal", "reconcile", "cam.dbr", "--journal", Target(supervisor_login_)});
  EXPECT_NE(reconciled.out.find("burned: " + std::to_string(kLoadedRuns * kLoadedMacs) + "\n"),
            std::string::npos) << reconciled.out;
  EXPECT_TRUE(reconciled.out.ends_with("difference: 0\n")) << reconciled.out << reconciled.err;
}

TEST_F(LineStationsTest, LeasedMacsBurnThroughAnOutageAndNothingIsLostOrDoubled) {
  // line-a holds MACs 0-4, line-b 15-19; each meets its own in the middle third of its run.
  Lease("line-a", 0, 5);
  Lease("line-b", 15, 5);
  Start("line-a", {5, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 12, 13, 14, 16, 17, 18, 19, 15});
  Start("line-b", {14, 13, 12, 11, 10, 9, 8, 15, 16, 17, 18, 19, 7, 6, 5, 4, 3, 2, 1, 0});
  Start("line-c", Stride7());
  for (LineStation& s : stations_) WaitReady(*s.process);

  RunUntil(kThird, 60000);
  if (HasFatalFailure()) return;
  Cluster("stop");
  outage_ = true;
  RunUntil(2 * kThird, 60000);
  if (HasFatalFailure()) return;
  Cluster("start");
  outage_ = false;
  const std::set<std::string> before_return = Reported();
  const auto back = SteadyClock::now();
  // What the stations recorded while the database was away reaches it within 10 s.
  std::set<std::string> central;
  while (SteadyClock::now() - back < std::chrono::seconds(10)) {
    for (LineStation& s : stations_) Pump(s);
    central = CentralIds();
    if (std::includes(central.begin(), central.end(), before_return.begin(), before_return.end())) break;
  }
  EXPECT_TRUE(std::includes(central.begin(), central.end(), before_return.begin(), before_return.end()))
      << before_return.size() - central.size() << " records missing 10 s after the database returned";
  RunUntil(kMacs, 100000);
  if (HasFatalFailure()) return;

  CheckTries();
  // During the outage: a station's own leased MACs burned; everything else was refused with the
  // box, in libpq's words.
  for (const LineStation& s : stations_) {
    for (const Try& t : s.tries) {
      if (!t.during_outage) continue;
      const int index = std::stoi(t.mac.substr(10), nullptr, 16) - 1;
      const bool own_lease = (s.name == "line-a" && index < 5) || (s.name == "line-b" && index >= 15);
      if (own_lease) {
        EXPECT_EQ(t.outcome, "success") << s.name << " " << t.mac << ": " << t.box;
      } else {
        EXPECT_EQ(t.outcome, "unavailable") << s.name << " " << t.mac;
        EXPECT_TRUE(t.box.starts_with("Journal unavailable: ")) << t.box;
      }
    }
    // Lost and regained, on stdout as events (stderr says it too).
    const auto changes = s.process->EventsOfKind("journal-connection");
    ASSERT_GE(changes.size(), 2u) << s.name;
    EXPECT_FALSE(changes.front().value("connected", true)) << s.name;
    EXPECT_TRUE(changes.back().value("connected", false)) << s.name;
  }
  ExpectCentralHoldsEveryAttemptOnce();
  CloseAll();
}

}  // namespace
}  // namespace stampwright
