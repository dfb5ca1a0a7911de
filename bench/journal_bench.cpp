// The production journal's cost: its writes inside one burn (opening record, confirmed commit,
// outcome), a whole burn with and without the journal side by side, and the guard's check on a
// journal of 10,000,000 attempts. That journal is built here, once, in the working directory
// ("journal-10m.db", about 2 GB); never in CI.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "station/page_procedure.h"
#include "support/station_harness.h"

namespace stampwright {
namespace {

using station_test::StationHarness;

constexpr char kLabel[] = "02A0C5123456";
constexpr int64_t kGuardRecords = 10000000;

std::string Mac(int64_t i) {
  char text[16];
  std::snprintf(text, sizeof text, "02A0C5%06llX", static_cast<unsigned long long>(i % 0x1000000));
  return text;
}

// Opening record, confirmed commit and outcome: the three writes of one burn, each durable.
void BM_JournalWritesOfOneBurn(benchmark::State& state) {
  ::unlink("journal-bench.db");
  JournalStatus status;
  auto journal = SqliteJournal::Open("journal-bench.db", &status);
  if (!journal) return state.SkipWithError(status.error.c_str());
  int64_t i = 0;
  for (auto _ : state) {
    JournalRecord r;
    r.station = "bench";
    r.mac = Mac(i++);
    r.started = UtcNowMs();
    r.image_checksum = "0badcafe";
    journal->Append(r);
    journal->NoteCommit(r.id, r.started + 1);
    journal->Finish(r.id, {Outcome::kSuccess, r.started + 2, 1, 1, {}, {}});
  }
}
BENCHMARK(BM_JournalWritesOfOneBurn)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(10)
    ->ReportAggregatesOnly(true);

// One whole burn of the same unit (rework: the guard lets it through every time) on virtual
// time: Burn pressed to "Success". arg 1: with the journal.
void BM_Burn(benchmark::State& state) {
  const bool with_journal = state.range(0) == 1;
  std::ofstream("cam.dbr") << EncodeMacRecord(kLabel, "K7QM2XWP9RTB4HZD") << "\n";
  ::unlink("journal-burn.db");
  StationHarness h;
  h.AddAdapter("eth0", station_test::kAdapter0);
  SimulatedUnitConfig config;
  config.mac = station_test::kUnitMac;
  h.Plug("eth0", std::move(config));
  JournalStatus status;
  std::unique_ptr<SqliteJournal> journal;
  if (with_journal) {
    journal = SqliteJournal::Open("journal-burn.db", &status);
    if (!journal) return state.SkipWithError(status.error.c_str());
    h.station.journal.enabled = true;
    h.station.journal.journal = journal.get();
    h.station.journal.station_name = "bench";
  }
  ScanNow(h.station);
  ScanNow(h.station);
  for (auto _ : state) {
    h.page.SetText(kNewMacEdit, kLabel);
    h.page.Clear();
    OnPageCommand(h.station, kBurnButton);
    bool success = false;
    for (int t = 0; t < 6 && !success; ++t) {
      h.Tick();
      for (const std::string& text : h.page.StatusTexts()) success |= text == "Success";
    }
    if (!success) return state.SkipWithError("no Success");
  }
}
BENCHMARK(BM_Burn)->ArgName("journal")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
    ->Iterations(20)->Repetitions(5)->ReportAggregatesOnly(true);

// The guard's question on 10,000,000 attempts, each MAC's commit confirmed.
std::unique_ptr<SqliteJournal> GuardJournal(std::string* error) {
  const bool exists = ::access("journal-10m.db", F_OK) == 0;
  JournalStatus status;
  auto journal = SqliteJournal::Open("journal-10m.db", &status);
  if (!journal) {
    *error = status.error;
    return nullptr;
  }
  if (exists) return journal;
  std::fprintf(stderr, "building journal-10m.db (10,000,000 attempts) ...\n");
  sqlite3* db = journal->database();
  sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
  SqliteStatement insert;
  insert.Prepare(db,
                 "INSERT INTO records (id, station, kind, mac, unit_mac_before, image_checksum, "
                 "outcome, started, finished, committed, burn_ms, return_ms, attempt) VALUES "
                 "(?1, 'line-1', 'burn', ?2, '02A0C5000001', '0badcafe', 'success', ?3, ?3 + 9000, "
                 "?3 + 4000, 4000, 5000, ?4)");
  const int64_t t0 = 1765180800000;
  for (int64_t i = 0; i < kGuardRecords; ++i) {
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012lld", static_cast<long long>(i));
    insert.BindText(1, id);
    // 16,777,216 MACs per prefix: a second prefix takes the rest.
    char mac[16];
    std::snprintf(mac, sizeof mac, "%s%06llX", i < 0x1000000 ? "02A0C5" : "02A0C6",
                  static_cast<unsigned long long>(i % 0x1000000));
    insert.BindText(2, mac);
    insert.BindInt(3, t0 + i * 10);
    insert.BindInt(4, int64_t{1});
    insert.Step();
    insert.Reset();
  }
  sqlite3_exec(db, "COMMIT; PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  return journal;
}

void BM_GuardCheckOn10MAttempts(benchmark::State& state) {
  std::string error;
  auto journal = GuardJournal(&error);
  if (!journal) return state.SkipWithError(error.c_str());
  std::mt19937 random(7);
  for (auto _ : state) {
    char mac[16];
    std::snprintf(mac, sizeof mac, "02A0C5%06X", static_cast<unsigned>(random() % 0x1000000));
    std::optional<BurnedMac> burned;
    journal->FindBurned(mac, &burned);
    benchmark::DoNotOptimize(burned);
  }
}
BENCHMARK(BM_GuardCheckOn10MAttempts)->Unit(benchmark::kMicrosecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace stampwright

BENCHMARK_MAIN();
