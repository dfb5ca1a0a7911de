// What the MES costs a burn, and how fast a backlog drains.
//
// BM_JournalAttempt: one attempt's three journal writes (recorded, commit noted, finished) on a
// journal file, without and with the MES outbox attached (four envelopes built and queued in the
// same transactions). BM_DrainBacklog: 10,000 messages waiting in the outbox, sent to a private
// RabbitMQ node until the broker has accepted and the outbox removed every one; needs the node
// (bench/mes_bench.sh), skipped without it.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "journal/sqlite_journal.h"
#include "report/mes_outbox.h"
#include "report/mes_publisher.h"

namespace stampwright {
namespace {

std::string ScratchFile(const char* name) {
  std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-mes-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern + "/" + name;
}

void Attempt(SqliteJournal& journal, int64_t n) {
  JournalRecord record;
  record.station = "B1";
  char mac[13];
  std::snprintf(mac, sizeof mac, "02A0C5%06llX", static_cast<unsigned long long>(n & 0xFFFFFF));
  record.mac = mac;
  record.chip = "PX300";
  record.module_class = "PX300 Class B";
  record.image_checksum = "0badc0de";
  record.started = 1'765'000'000'000 + n;
  if (!journal.Append(record).ok() || !journal.NoteCommit(record.id, record.started + 400).ok() ||
      !journal.Finish(record.id, {Outcome::kSuccess, record.started + 3000, 400, 2600, true, 0}).ok()) {
    std::abort();
  }
}

std::unique_ptr<SqliteJournal> OpenJournal(const std::string& path, bool mes) {
  JournalStatus status;
  auto journal = SqliteJournal::Open(path, &status);
  if (!journal) std::abort();
  if (mes) {
    MesEndpoint endpoint;
    endpoint.handle = "Stampwright.Station.B1";
    if (AttachMesOutbox(*journal, endpoint)) std::abort();
  }
  return journal;
}

void BM_JournalAttempt(benchmark::State& state) {
  const bool mes = state.range(0) != 0;
  const std::string path = ScratchFile("journal.db");
  auto journal = OpenJournal(path, mes);
  int64_t n = 0;
  for (auto _ : state) Attempt(*journal, ++n);
  state.SetLabel(mes ? "with MES outbox" : "without MES");
  journal.reset();
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}
BENCHMARK(BM_JournalAttempt)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrainBacklog(benchmark::State& state) {
  const char* base = std::getenv("STAMPWRIGHT_AMQP_URL");
  if (base == nullptr) {
    state.SkipWithError("no RabbitMQ node: run bench/mes_bench.sh");
    return;
  }
  constexpr int kMessages = 10'000;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string path = ScratchFile("journal.db");
    {
      auto journal = OpenJournal(path, true);
      // Four messages an attempt, written in one transaction to fill the backlog quickly.
      journal->connection().Execute("PRAGMA synchronous=OFF");
      for (int64_t n = 0; n < kMessages / 4; ++n) Attempt(*journal, n);
    }
    MesPublisher publisher({std::string(base) + "/queue/mes-bench", path}, {});
    state.ResumeTiming();
    std::string error;
    if (!publisher.Start(&error) || !publisher.WaitDrained(std::chrono::seconds(120))) {
      state.SkipWithError(("the backlog did not drain: " + error).c_str());
    }
    state.PauseTiming();
    state.counters["accepted"] = static_cast<double>(publisher.accepted());
    publisher.Stop();
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
    state.ResumeTiming();
  }
  state.counters["messages/s"] =
      benchmark::Counter(static_cast<double>(kMessages) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrainBacklog)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace stampwright

BENCHMARK_MAIN();
