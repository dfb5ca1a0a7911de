// What the MES costs a burn, and how fast a backlog drains.
//
// BM_WholeBurn: a whole Station's burn, Burn pressed to "Success" (the claim, the module
// written, the commit, the unit's restart, the return and the verify's read-back), against a
// simulated unit that answers 1 ms after each request and restarts in 10 ms, with its journal
// file, without and with the MES outbox attached: what the MES costs the burn as the operator
// sees it. BM_JournalAttempt: one attempt's three journal writes (recorded, commit noted,
// finished) on a journal file, without and with the MES outbox attached (four envelopes built
// and queued in the same transactions). BM_DrainBacklog: 10,000 messages waiting in the outbox, sent to a private
// RabbitMQ node until the broker has accepted and the outbox removed every one; needs the node
// (bench/mes_bench.sh), skipped without it.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "protocol/simulated_unit.h"
#include "resources/controls.h"
#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "support/recording_arp_flush.h"
#include "support/recording_page.h"
#include "support/station_harness.h"
#include "transport/clock.h"
#include "transport/virtual_driver.h"
#include "report/cfx/envelope.h"
#include "report/mes_messages.h"
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
// Burns alternate without and with the MES outbox on one station and one journal file, so that
// the disk's and the machine's drift fall on both alike; the figure is the median of each, and
// the median of the pairs' differences.
void BM_WholeBurn(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::path(ScratchFile("journal.db")).parent_path();
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir);  // the station finds cam.dbr in its working directory
  constexpr const char* kLabel = "02A0C500BEEF";
  std::ofstream("cam.dbr") << EncodeMacRecord(kLabel, "K7PQ2M9XW4RT8ZHB") << "\n";
  {
    SystemClock clock;
    VirtualDriver driver(clock, 0);  // the unit's latency is the whole delay
    SimulatedUnitConfig config;
    config.mac = *MacAddress::Parse(kLabel);  // a rework: the same label every time
    config.latency_ms = 1;
    config.restart_ms = 10;
    SimulatedUnit unit(config);
    driver.AddAdapter("bench0", *MacAddress::Parse("02:BB:00:00:00:10"));
    driver.AttachPeer("bench0", &unit);
    auto journal = OpenJournal((dir / "journal.db").string(), false);
    // What AttachMesOutbox installs, kept here to be put in and taken out burn by burn.
    std::string error;
    std::shared_ptr<MesOutboxWriter> writer = MesOutboxWriter::Open(journal->connection(), &error);
    if (!writer) std::abort();
    MesEndpoint endpoint;
    endpoint.handle = "Stampwright.Station.B1";
    const SqliteJournal::ChangeObserver observer = [writer, endpoint](JournalChange change,
                                                                      const JournalRecord& record) {
      for (const cfx::Envelope& envelope : MessagesForChange(change, record, endpoint)) {
        if (JournalStatus status = writer->Queue(envelope); !status.ok()) return status;
      }
      return JournalStatus{};
    };
    RecordingPage page;
    station_test::ManualTimer timer;
    RecordingArpFlush arp_flush;
    StationCore station(page, driver, clock, timer, arp_flush, station_test::LoadedDefaults(), {});
    station.journal.enabled = true;
    station.journal.journal = journal.get();
    station.journal.station_name = "B1";
    OnPageCreated(station);
    OnPageActivated(station);
    std::vector<double> without, with, differences;
    bool mes = false;
    for (auto _ : state) {
      journal->SetChangeObserver(mes ? observer : nullptr);
      page.SetText(kNewMacEdit, kLabel);
      const auto start = std::chrono::steady_clock::now();
      OnPageCommand(station, kBurnButton);
      // The return watch's steps, as the scan timer would give them.
      while (page.GetText(kStatusLine, 80) != "Success" &&
             std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        OnScanTimer(station);
      }
      const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
      if (page.GetText(kStatusLine, 80) != "Success") {
        state.SkipWithError(("the burn ended as " + page.GetText(kStatusLine, 80)).c_str());
        break;
      }
      state.SetIterationTime(took.count() / 1e3);
      (mes ? with : without).push_back(took.count());
      if (mes) differences.push_back(with.back() - without.back());
      mes = !mes;
      page.Clear();
    }
    const auto median = [](std::vector<double> v) {
      if (v.empty()) return 0.0;
      std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
      return v[v.size() / 2];
    };
    state.counters["without_ms"] = median(without);
    state.counters["with_ms"] = median(with);
    state.counters["mes_cost_ms"] = median(differences);
  }
  std::filesystem::current_path(before);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WholeBurn)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

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
