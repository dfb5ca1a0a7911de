// The journal's cost inside a burn on a line: the claim and both records (the attempt before the
// first module frame, its commit and its outcome) against a PostgreSQL server, beside the same
// burn on the one-station SQLite journal; and an outbox of 10,000 records forwarded at once.
// Run through bench/line_journal_bench.sh, which starts a private server for it.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/postgresql/pg_journal.h"
#include "journal/postgresql/pg_schema.h"
#include "journal/sqlite_journal.h"

namespace stampwright {
namespace {

std::filesystem::path Scratch() {
  static std::filesystem::path dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return std::filesystem::path(pattern);
  }();
  return dir;
}

// A fresh database with the schema, named for this run.
std::string FreshDatabase(const std::string& name) {
  PgConnection admin = PgConnection::Connect("dbname=postgres");
  const std::string database = name + "_" + std::to_string(getpid());
  admin.Exec(("DROP DATABASE IF EXISTS " + database).c_str());
  if (!admin.Exec(("CREATE DATABASE " + database).c_str()).Ok()) std::abort();
  PgConnection owner = PgConnection::Connect("dbname=" + database);
  std::string error;
  if (!InitPgSchema(owner, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return "dbname=" + database;
}

std::string Mac(int64_t n) {
  char text[17];
  std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(0x02A0C5000000LL + n));
  return text;
}

JournalRecord Burn(int64_t n) {
  JournalRecord record;
  record.station = "bench";
  record.adapter = "eth0";
  record.kind = RecordKind::kBurn;
  record.mac = Mac(n);
  record.unit_mac_before = "0050C2000001";
  record.chip = "PX300";
  record.module_class = "PX300 Class B";
  record.image_checksum = "0badf00d";
  record.config = "0123456789ab";
  record.started = UtcNowMs();
  return record;
}

// One burn's journal work: the attempt (with its claim), the confirmed commit, the outcome.
void BurnRecords(Journal& journal, int64_t n) {
  JournalRecord record = Burn(n);
  if (!journal.Append(record).ok() || !journal.NoteCommit(record.id, UtcNowMs()).ok() ||
      !journal.Finish(record.id, {Outcome::kSuccess, UtcNowMs(), 900, 1500, {}, {}}).ok()) {
    std::abort();
  }
}

void Measure(benchmark::State& state, Journal& journal) {
  std::vector<double> times;
  int64_t n = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    BurnRecords(journal, ++n);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  state.counters["median_ms"] = times[times.size() / 2];
  state.counters["p95_ms"] = times[times.size() * 95 / 100];
}

void BM_BurnJournal_PostgreSQL(benchmark::State& state) {
  const std::string target = FreshDatabase("bench_burn");
  JournalStatus status;
  auto journal = PgJournal::OpenStation(target, "bench", (Scratch() / "pg-outbox.db").string(), &status);
  if (!journal) std::abort();
  Measure(state, *journal);
}
BENCHMARK(BM_BurnJournal_PostgreSQL)->Iterations(300)->Unit(benchmark::kMillisecond);

void BM_BurnJournal_SQLite(benchmark::State& state) {
  JournalStatus status;
  auto journal = SqliteJournal::Open((Scratch() / "journal.db").string(), &status);
  if (!journal) std::abort();
  Measure(state, *journal);
}
BENCHMARK(BM_BurnJournal_SQLite)->Iterations(300)->Unit(benchmark::kMillisecond);

// 10,000 complete records wait in an outbox (written while the database was away); the timed
// part is the station's start, which forwards them all before it returns.
void BM_ForwardOutbox10000(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string target = FreshDatabase("bench_outbox");
    const std::string path = (Scratch() / "outbox-10000.db").string();
    std::filesystem::remove(path);
    {
      JournalStatus status;
      auto outbox = SqliteJournal::Open(path, &status);
      if (!outbox) std::abort();
      // Only the setup: its 10,000 appends need not each wait for the disk.
      sqlite3_exec(outbox->database(), "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
      for (int64_t n = 0; n < 10000; ++n) {
        JournalRecord record = Burn(n);
        record.committed = record.started + 900;
        record.outcome = Outcome::kSuccess;
        record.finished = record.started + 2400;
        if (!outbox->Append(record).ok()) std::abort();
      }
    }
    state.ResumeTiming();
    JournalStatus status;
    auto journal = PgJournal::OpenStation(target, "bench", path, &status);
    if (!journal || journal->Unforwarded() != 0) std::abort();
  }
}
BENCHMARK(BM_ForwardOutbox10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!std::getenv("STAMPWRIGHT_PG_CLUSTER")) {
    std::fprintf(stderr, "line_journal_bench: run it through bench/line_journal_bench.sh\n");
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove_all(stampwright::Scratch());
  return 0;
}
