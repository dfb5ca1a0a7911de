// Module read (Read pressed to "Read Module OK ...") and burn (Burn pressed to "Waiting...") of a
// whole Station on a real clock, with early-ending waits and with full waits, beside the floor:
// the unit's answer latency plus the fixed sleeps the station must make.
//
// By default the unit is a SimulatedUnit on a VirtualDriver that runs on the system clock and
// answers 1 ms after each request. With STAMPWRIGHT_BENCH_INTERFACE set (station_bench.sh does
// that) the station uses the pcap driver on that interface instead, against stampwright-unit-sim
// started with --latency 1 on the other end of a veth pair.
//
// The Burn command flushes the ARP cache: run as root without an interface, the program first
// moves into a network namespace of its own so that only an empty table is flushed.

#include <benchmark/benchmark.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/page_procedure.h"
#include "support/recording_arp_flush.h"
#include "station/station_core.h"
#include "station/timer.h"
#include "programming/mac_database.h"
#include "protocol/simulated_unit.h"
#include "resources/controls.h"
#include "support/recording_page.h"
#include "support/station_harness.h"
#include "settings/preferences.h"
#include "transport/clock.h"
#include "transport/pcap/pcap_driver.h"
#include "transport/virtual_driver.h"

namespace stampwright {
namespace {

using Steady = std::chrono::steady_clock;

constexpr uint32_t kUnitLatencyMs = 1;
constexpr uint32_t kChunkSleepMs = 2;   // after each module request
constexpr uint32_t kCommitSleepMs = 1;  // after the commit request
constexpr uint32_t kChunks = 8;         // 7864 bytes in chunks of at most 1024
// The burned unit keeps its MAC: it already carries the record's, so every burn is the same.
constexpr const char* kUnitMacText = "02A0C500BEEF";
constexpr const char* kUnitPassword = "K7PQ2M9XW4RT8ZHB";

// The floor: the fixed sleeps and the unit's latency. The sleep after each request runs while the
// unit prepares its answer, so a request costs the longer of the two, not their sum.
double ReadFloorMs() { return kChunks * std::max(kChunkSleepMs, kUnitLatencyMs); }
double BurnFloorMs() { return ReadFloorMs() + std::max(kCommitSleepMs, kUnitLatencyMs); }
// The same counted as if the unit only started its answer once the sleep was over.
double ReadSerialFloorMs() { return kChunks * (kChunkSleepMs + kUnitLatencyMs); }
double BurnSerialFloorMs() { return ReadSerialFloorMs() + kCommitSleepMs + kUnitLatencyMs; }

// A recording page that notes when the status line first shows the awaited text.
class TimingPage final : public Page {
 public:
  void Arm(std::function<bool(std::string_view)> awaited) {
    awaited_ = std::move(awaited);
    hit_.reset();
  }
  std::optional<Steady::time_point> hit() const { return hit_; }
  RecordingPage& inner() { return inner_; }

  void SetText(int id, std::string_view text) override {
    if (id == kStatusLine) {
      const auto now = Steady::now();
      if (awaited_ && !hit_ && awaited_(text)) hit_ = now;
      if (trace_) trace_->emplace_back(now, std::string(text));
    }
    inner_.SetText(id, text);
  }
  // Keeps every status text with its time from now on (for the trace of one operation).
  void StartTrace() { trace_.emplace(); }
  std::vector<std::pair<Steady::time_point, std::string>> TakeTrace() {
    auto trace = std::move(trace_).value_or(decltype(trace_)::value_type{});
    trace_.reset();
    return trace;
  }
  std::string GetText(int id, size_t max_chars) const override { return inner_.GetText(id, max_chars); }
  void Enable(int id, bool enabled) override { inner_.Enable(id, enabled); }
  bool IsEnabled(int id) const override { return inner_.IsEnabled(id); }
  void Check(int id, bool checked) override { inner_.Check(id, checked); }
  bool IsChecked(int id) const override { return inner_.IsChecked(id); }
  int MessageBox(std::string_view text, std::string_view caption, uint32_t type) override {
    ++boxes_;
    return inner_.MessageBox(text, caption, type);
  }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override {
    return inner_.OpenFileDialog(request);
  }
  void SelectText(int id) override { inner_.SelectText(id); }
  void SetFocus(int id) override { inner_.SetFocus(id); }
  int boxes() const { return boxes_; }

 private:
  RecordingPage inner_;
  std::function<bool(std::string_view)> awaited_;
  std::optional<Steady::time_point> hit_;
  std::optional<std::vector<std::pair<Steady::time_point, std::string>>> trace_;
  int boxes_ = 0;
};

const char* BenchInterface() {
  const char* name = std::getenv("STAMPWRIGHT_BENCH_INTERFACE");
  return name != nullptr && *name != '\0' ? name : nullptr;
}

std::unique_ptr<PacketDriver> MakeDriver(Clock& clock, std::unique_ptr<SimulatedUnit>* unit) {
  if (const char* name = BenchInterface()) return std::make_unique<PcapDriver>(std::vector<std::string>{name});
  auto driver = std::make_unique<VirtualDriver>(clock, 0);  // the unit's latency is the whole delay
  SimulatedUnitConfig config;
  config.mac = *MacAddress::Parse(kUnitMacText);
  config.latency_ms = kUnitLatencyMs;
  config.restart_ms = 10;  // back well within the burn's 200 ms settling time
  *unit = std::make_unique<SimulatedUnit>(config);
  driver->AddAdapter("bench0", *MacAddress::Parse("02:BB:00:00:00:10"));
  driver->AttachPeer("bench0", unit->get());
  return driver;
}

// A station that has found the unit and read its module once, as after start-up.
struct Rig {
  explicit Rig(bool full_waits)
      : driver(MakeDriver(clock, &unit)),
        station(page, *driver, clock, timer, arp_flush, LoadPreferences(), Settings(full_waits)) {
    OnPageCreated(station);
    OnPageActivated(station);
  }
  static StationSettings Settings(bool full_waits) {
    StationSettings settings;
    settings.full_waits = full_waits;
    return settings;
  }
  bool Ready() const { return page.GetText(kStatusLine, 80) == "Read Module OK - PX300 Class B"; }

  // Seconds from the command to the awaited status text; nullopt when it never showed.
  std::optional<double> Time(int command, std::function<bool(std::string_view)> awaited,
                             bool trace = false) {
    page.Arm(std::move(awaited));
    if (trace) page.StartTrace();
    const auto start = Steady::now();
    OnPageCommand(station, command);
    const auto hit = page.hit();
    if (trace) {
      for (const auto& [at, text] : page.TakeTrace()) {
        std::fprintf(stderr, "  %8.3f ms  %s\n", std::chrono::duration<double, std::milli>(at - start).count(),
                     text.c_str());
      }
    }
    page.inner().Clear();  // bounded memory over many iterations
    if (!hit) return std::nullopt;
    return std::chrono::duration<double>(*hit - start).count();
  }

  SystemClock clock;
  std::unique_ptr<SimulatedUnit> unit;
  std::unique_ptr<PacketDriver> driver;
  TimingPage page;
  station_test::ManualTimer timer;  // the bench calls the timer entry itself
  RecordingArpFlush arp_flush;
  StationCore station;
};

void Scenario(benchmark::State& state, bool burn, bool full_waits) {
  Rig rig(full_waits);
  if (!rig.Ready()) {
    state.SkipWithError(("the unit was not read at start-up: " + rig.page.GetText(kStatusLine, 80)).c_str());
    return;
  }
  if (burn) rig.page.SetText(kNewMacEdit, kUnitMacText);
  // STATION_BENCH_TRACE=1: the status texts of the first operation, with their times.
  bool trace = std::getenv("STATION_BENCH_TRACE") != nullptr;
  for (auto _ : state) {
    const auto seconds =
        burn ? rig.Time(kBurnButton, [](std::string_view text) { return text == "Waiting..."; }, trace)
             : rig.Time(kReadButton, [](std::string_view text) { return text.starts_with("Read Module OK"); },
                        trace);
    trace = false;
    if (!seconds) {
      state.SkipWithError("the awaited status text never showed");
      break;
    }
    state.SetIterationTime(*seconds);
  }
  state.counters["floor_ms"] = burn ? BurnFloorMs() : ReadFloorMs();
  state.counters["boxes"] = rig.page.boxes();
}

// Prints the usual table, then early against floor and full against early, per transport.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      Totals& totals = totals_[run.run_name.function_name];
      if (run.run_type == Run::RT_Iteration) {
        totals.seconds += run.real_accumulated_time;
        totals.iterations += static_cast<double>(run.iterations);
      } else if (run.aggregate_name == "mean") {
        totals.mean = run.real_accumulated_time / static_cast<double>(run.iterations);
      }
    }
  }

  void PrintRatios(const char* transport) const {
    std::printf("\n%s: ms per operation (mean); early/floor and full/early\n", transport);
    for (const char* operation : {"read", "burn"}) {
      const std::string prefix = std::string(operation) + "/" + transport + "/";
      const auto early = Find(prefix + "early");
      const auto full = Find(prefix + "full_waits");
      const bool read = std::string_view(operation) == "read";
      const double floor = read ? ReadFloorMs() : BurnFloorMs();
      const double serial = read ? ReadSerialFloorMs() : BurnSerialFloorMs();
      if (!early) continue;
      std::printf("  %-5s early %8.2f  floor %5.1f (serial %5.1f)  early/floor %5.2f", operation,
                  *early * 1e3, floor, serial, *early * 1e3 / floor);
      if (full) std::printf("  full %8.2f  full/early %6.1f", *full * 1e3, *full / *early);
      std::printf("\n");
    }
  }

 private:
  struct Totals {
    double seconds = 0;
    double iterations = 0;
    double mean = 0;
  };
  std::optional<double> Find(const std::string& name) const {
    const auto it = totals_.find(name);
    if (it == totals_.end()) return std::nullopt;
    const Totals& t = it->second;
    if (t.mean > 0) return t.mean;
    if (t.iterations > 0) return t.seconds / t.iterations;
    return std::nullopt;
  }
  std::map<std::string, Totals> totals_;
};

// A working directory of its own holding the unit's record, last, in "cam.dbr".
bool EnterWorkdir() {
  char pattern[] = "/tmp/station-bench-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  if (dir == nullptr || ::chdir(dir) != 0) return false;
  std::FILE* file = std::fopen("cam.dbr", "w");
  if (file == nullptr) return false;
  std::fprintf(file, "%s\n", EncodeMacRecord("02A0C5000001", "QRSTUVWXYZ012345").c_str());
  std::fprintf(file, "%s\n", EncodeMacRecord(kUnitMacText, kUnitPassword).c_str());
  return std::fclose(file) == 0;
}

void RemoveWorkdir() {
  char path[4096];
  if (::getcwd(path, sizeof path) == nullptr) return;
  std::remove("cam.dbr");
  // The page procedure never writes the state file here (the page is never closed).
  if (::chdir("/") == 0) ::rmdir(path);
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) {
  using namespace stampwright;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const char* transport = BenchInterface() != nullptr ? "veth" : "virtual";
  if (BenchInterface() == nullptr && ::geteuid() == 0 && ::unshare(CLONE_NEWNET) != 0) {
    std::perror("station_bench: cannot enter a network namespace of its own (the burn flushes ARP)");
    return 1;
  }
  if (!EnterWorkdir()) {
    std::perror("station_bench: cannot make a working directory");
    return 1;
  }
  struct Case {
    const char* operation;
    bool burn;
    bool full_waits;
    int iterations;
  };
  for (const Case& c : {Case{"read", false, false, 40}, Case{"read", false, true, 5},
                        Case{"burn", true, false, 12}, Case{"burn", true, true, 4}}) {
    const std::string name = std::string(c.operation) + "/" + transport + "/" +
                             (c.full_waits ? "full_waits" : "early");
    benchmark::RegisterBenchmark(name.c_str(), Scenario, c.burn, c.full_waits)
        ->UseManualTime()
        ->Iterations(c.iterations)
        ->Unit(benchmark::kMillisecond);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios(transport);
  benchmark::Shutdown();
  RemoveWorkdir();
  return 0;
}
