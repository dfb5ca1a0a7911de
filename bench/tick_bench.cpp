// A scan tick with no unit on 1, 2, 4 and 8 real adapters: how long the tick blocks the UI
// thread, and the longest the event loop stalls meanwhile, measured with a 1 ms heartbeat
// QTimer. Each count is run with the station on the UI thread, as it ran before stations had
// threads of their own (all adapters at once, captures kept open, the event loop run during the
// waits), with --classic (adapters in turn, reopened each tick, plain waits), and on a thread of
// its own as the front ends run it now, where the heartbeat's thread only applies the station's
// events to a page. Then the same heartbeat during one burn (the Burn command to "Waiting...",
// the 200 ms settling sleep after it included) of the demo's simulated unit on a virtual adapter
// on the system clock, and during a read and a burn on a thread of its own, with a journal that
// answers at once and with one whose every call takes 2 s (as a line's database that went away
// takes its connect timeout). A plain program, not Google Benchmark.
//
//   tick_bench                (STAMPWRIGHT_BENCH_INTERFACES=a,b,... at least 8 names;
//                              TICK_BENCH_TICKS ticks per figure, 7 by default)
// tick_bench.sh makes the veth pairs and runs it.

#include <benchmark/benchmark.h>  // linked by bench/CMakeLists.txt; unused here

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/demo.h"
#include "programming/mac_database.h"
#include "resources/controls.h"
#include "station/page_procedure.h"
#include "station/module_read.h"
#include "station/return_watch.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "station/station_host.h"
#include "journal/sqlite_journal.h"
#include "support/forwarding_journal.h"
#include "support/recording_arp_flush.h"
#include "support/recording_page.h"
#include "support/station_harness.h"
#include "transport/pcap/pcap_driver.h"

namespace stampwright {
namespace {

using Steady = std::chrono::steady_clock;

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Every 1 ms; the gap between two beats (or a tick's start or end and the nearest beat) is how
// long the event loop could not run.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Beat(); });
    timer_.start();
  }
  void Reset() {
    last_ = Steady::now();
    longest_ = {};
  }
  void Beat() {
    const Steady::time_point now = Steady::now();
    longest_ = std::max(longest_, now - last_);
    last_ = now;
  }
  Steady::duration longest() const { return longest_; }

 private:
  QTimer timer_;
  Steady::time_point last_ = Steady::now();
  Steady::duration longest_{};
};

struct Figures {
  double median_block_ms;
  double max_block_ms;
  double max_stall_ms;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Figures MeasureTicks(const std::vector<std::string>& interfaces, bool classic, int ticks) {
  PcapDriver driver(interfaces);
  driver.SetReuseHandles(!classic);
  SystemClock clock;
  station_test::ManualTimer timer;  // the bench calls the timer entry itself
  RecordingPage page;
  RecordingArpFlush arp_flush;
  StationSettings settings;
  settings.classic = classic;
  StationCore station(page, driver, clock, timer, arp_flush, DefaultPreferences(), settings);
  station.yield_to_events = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
  OnPageCreated(station);
  OnPageActivated(station);
  if (!driver.Diagnostic().empty()) std::fprintf(stderr, "tick_bench: %s\n", driver.Diagnostic().c_str());

  Heartbeat heartbeat;
  std::vector<double> blocks;
  double max_stall = 0;
  for (int i = 0; i < ticks + 1; ++i) {
    // Let the loop settle between ticks, as the 3000 ms between them would.
    const Steady::time_point settle = Steady::now() + std::chrono::milliseconds(30);
    while (Steady::now() < settle) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    heartbeat.Reset();
    const Steady::time_point start = Steady::now();
    OnScanTimer(station);
    const Steady::time_point end = Steady::now();
    heartbeat.Beat();
    if (i == 0) continue;  // the first tick after start-up warms the caches
    blocks.push_back(Ms(end - start));
    max_stall = std::max(max_stall, Ms(heartbeat.longest()));
    page.Clear();
  }
  if (station.adapters.AdapterCount != 0 || page.GetText(1105, 80) != "No Device") {
    std::fprintf(stderr, "tick_bench: expected \"No Device\" with no unit\n");
  }
  return {Median(blocks), *std::max_element(blocks.begin(), blocks.end()), max_stall};
}

struct BurnFigures {
  double block_ms;
  double max_stall_ms;
  std::string status;
  // The return watch's expiries after it, until "Success": the longest one and the loop's stall.
  double return_block_ms = 0;
  double return_stall_ms = 0;
};

// In the current directory, which holds the demo database.
BurnFigures MeasureBurn(bool classic) {
  SystemClock clock;
  DemoBench demo(clock, kDefaultMacPrefix);
  station_test::ManualTimer timer;  // the bench calls the timer entry itself
  RecordingPage page;
  RecordingArpFlush arp_flush;
  StationSettings settings;
  settings.classic = classic;
  StationCore station(page, demo.driver(), clock, timer, arp_flush, DefaultPreferences(), settings);
  station.yield_to_events = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
  OnPageCreated(station);
  page.SetText(kNewMacEdit, DemoRecords(kDefaultMacPrefix).front().mac_text);
  Heartbeat heartbeat;
  const Steady::time_point settle = Steady::now() + std::chrono::milliseconds(30);
  while (Steady::now() < settle) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  heartbeat.Reset();
  const Steady::time_point start = Steady::now();
  OnPageCommand(station, kBurnButton);
  const Steady::time_point end = Steady::now();
  heartbeat.Beat();
  BurnFigures figures{Ms(end - start), Ms(heartbeat.longest()), ""};
  // The watch's expiries every 100 ms, the unit's restart and read-back included (bounded).
  heartbeat.Reset();
  for (int step = 0; step < 200 && ReturnWatchActive(station); ++step) {
    const Steady::time_point due = Steady::now() + std::chrono::milliseconds(kReturnQueryIntervalMs);
    const Steady::time_point step_start = Steady::now();
    OnScanTimer(station);
    figures.return_block_ms = std::max(figures.return_block_ms, Ms(Steady::now() - step_start));
    while (Steady::now() < due) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  heartbeat.Beat();
  figures.return_stall_ms = Ms(heartbeat.longest());
  figures.status = page.GetText(kStatusLine, 80);
  return figures;
}

// A station on a thread of its own, its events applied on this thread to a page as a window
// would apply them; Until runs this thread's event loop (the heartbeat's) until a condition holds.
class ThreadedStation {
 public:
  ThreadedStation(PacketDriver& driver, Clock& clock, JournalLink link = {}) {
    StationParts parts{driver, clock, arp_flush_, DefaultPreferences(), {}, std::move(link)};
    host_ = std::make_unique<StationHost>(std::move(parts), [this](StationEvent event) {
      QMetaObject::invokeMethod(
          &relay_,
          [this, shared = std::make_shared<StationEvent>(std::move(event))] {
            const StationEvent& shown = *shared;
            if (const auto* change = std::get_if<PageChange>(&shown.body)) {
              if (change->kind == PageChange::Kind::kText) view_.SetText(change->id, change->text);
              if (change->kind == PageChange::Kind::kEnable) view_.Enable(change->id, change->on);
            }
            if (std::holds_alternative<StartedEvent>(shown.body)) started_ = true;
          },
          Qt::QueuedConnection);
    });
  }
  ~ThreadedStation() { host_.reset(); }

  bool Start() {
    host_->Start();
    return Until([this] { return started_; }, 20000);
  }
  // Runs work on the station's thread and waits for it here, the event loop running.
  bool Run(std::function<void(Station&, PageModel&)> work, int limit_ms = 20000) {
    bool done = false;
    host_->Post([this, work = std::move(work), &done](Station& station, PageModel& page) {
      work(station, page);
      QMetaObject::invokeMethod(&relay_, [&done] { done = true; }, Qt::QueuedConnection);
    });
    return Until([&done] { return done; }, limit_ms);
  }
  bool Until(const std::function<bool()>& condition, int limit_ms) {
    const Steady::time_point limit = Steady::now() + std::chrono::milliseconds(limit_ms);
    while (!condition() && Steady::now() < limit) {
      QEventLoop loop;
      QTimer::singleShot(1, &loop, &QEventLoop::quit);
      loop.exec();
    }
    return condition();
  }
  std::string Status() const { return view_.GetText(kStatusLine, 80); }

 private:
  QObject relay_;
  PageModel view_;
  RecordingArpFlush arp_flush_;
  bool started_ = false;
  std::unique_ptr<StationHost> host_;
};

Figures MeasureThreadedTicks(const std::vector<std::string>& interfaces, int ticks) {
  PcapDriver driver(interfaces);
  driver.SetReuseHandles(true);
  SystemClock clock;
  ThreadedStation station(driver, clock);
  if (!station.Start()) std::fprintf(stderr, "tick_bench: the station did not start\n");
  Heartbeat heartbeat;
  std::vector<double> blocks;
  double max_stall = 0;
  for (int i = 0; i < ticks + 1; ++i) {
    station.Until([] { return false; }, 30);
    heartbeat.Reset();
    double block = 0;
    station.Run([&block](Station& s, PageModel&) {
      const Steady::time_point start = Steady::now();
      s.ScanTick();
      block = Ms(Steady::now() - start);
    });
    heartbeat.Beat();
    if (i == 0) continue;
    blocks.push_back(block);
    max_stall = std::max(max_stall, Ms(heartbeat.longest()));
  }
  return {Median(blocks), *std::max_element(blocks.begin(), blocks.end()), max_stall};
}

// A journal whose every call first waits 2 s.
class StalledJournal final : public ForwardingJournal {
 public:
  using ForwardingJournal::ForwardingJournal;
  JournalStatus Append(JournalRecord& record) override {
    Stall();
    return inner_.Append(record);
  }
  JournalStatus NoteCommit(const std::string& id, int64_t utc_ms) override {
    Stall();
    return inner_.NoteCommit(id, utc_ms);
  }
  JournalStatus Finish(const std::string& id, const AttemptEnd& end) override {
    Stall();
    return inner_.Finish(id, end);
  }
  JournalStatus FindBurned(const std::string& mac, std::optional<BurnedMac>* burned) override {
    Stall();
    return inner_.FindBurned(mac, burned);
  }

 private:
  static void Stall() { std::this_thread::sleep_for(std::chrono::seconds(2)); }
};

struct ThreadedBurnFigures {
  double read_stall_ms = 0;
  double burn_stall_ms = 0;  // Burn to "Success", the return watch included
  std::string status;
};

// In the current directory, which holds the demo database; a fresh journal file each run.
ThreadedBurnFigures MeasureThreadedBurn(bool stalled_journal, int run) {
  SystemClock clock;
  DemoBench demo(clock, kDefaultMacPrefix);
  JournalStatus opened;
  const std::string file = "tick-bench-" + std::to_string(run) + ".db";
  std::unique_ptr<SqliteJournal> journal = SqliteJournal::Open(file, &opened);
  StalledJournal stalled(*journal);
  JournalLink link;
  link.enabled = true;
  link.journal = stalled_journal ? static_cast<Journal*>(&stalled) : journal.get();
  link.station_name = "tick-bench";
  ThreadedBurnFigures figures;
  {
    ThreadedStation station(demo.driver(), clock, link);
    station.Start();
    Heartbeat heartbeat;
    heartbeat.Reset();
    station.Run([](Station& s, PageModel&) { s.ReadModule(); });
    heartbeat.Beat();
    figures.read_stall_ms = Ms(heartbeat.longest());
    const std::string label = DemoRecords(kDefaultMacPrefix).at(static_cast<size_t>(run)).mac_text;
    heartbeat.Reset();
    station.Run([label](Station& s, PageModel& page) {
      page.Type(kNewMacEdit, label);
      s.PageCommand(kBurnButton);
    });
    station.Until([&station] { return station.Status() == "Success"; }, 20000);
    heartbeat.Beat();
    figures.burn_stall_ms = Ms(heartbeat.longest());
    figures.status = station.Status();
  }
  std::remove(file.c_str());
  return figures;
}

int RunBurns() {
  char pattern[] = "/tmp/tick-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr || ::chdir(pattern) != 0) return 1;
  const std::string dir = pattern;
  if (SeedDemoDatabase(dir + "/cam.dbr", kDefaultMacPrefix) != SeedResult::kWritten) return 1;
  std::printf("\n%8s | %12s %12s | %14s %12s | %s\n", "burn", "block", "stall max",
              "watch step max", "stall max", "status after");
  for (const bool classic : {false, true}) {
    for (int run = 0; run < 3; ++run) {
      const BurnFigures figures = MeasureBurn(classic);
      std::printf("%8s | %10.1fms %10.1fms | %12.1fms %10.1fms | %s\n", classic ? "classic" : "now",
                  figures.block_ms, figures.max_stall_ms, figures.return_block_ms,
                  figures.return_stall_ms, figures.status.c_str());
      std::fflush(stdout);
    }
  }
  std::printf("\n%24s | %12s %12s | %s\n", "on its own thread", "read stall", "burn stall",
              "status after");
  for (const bool stalled : {false, true}) {
    for (int run = 0; run < 3; ++run) {
      const ThreadedBurnFigures figures = MeasureThreadedBurn(stalled, run);
      std::printf("%24s | %10.1fms %10.1fms | %s\n",
                  stalled ? "journal calls take 2 s" : "journal answers at once",
                  figures.read_stall_ms, figures.burn_stall_ms, figures.status.c_str());
      std::fflush(stdout);
    }
  }
  for (const char* name : {"/cam.dbr", "/Linewave Utility.data"}) std::remove((dir + name).c_str());
  ::rmdir(dir.c_str());
  return 0;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> names;
  std::stringstream in(text);
  for (std::string name; std::getline(in, name, ',');) {
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

int Run(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (std::getenv("TICK_BENCH_BURN_ONLY") != nullptr) return RunBurns();
  const char* list = std::getenv("STAMPWRIGHT_BENCH_INTERFACES");
  const std::vector<std::string> all = Split(list != nullptr ? list : "");
  if (all.size() < 8) {
    std::fprintf(stderr, "tick_bench: STAMPWRIGHT_BENCH_INTERFACES needs 8 interface names\n");
    return 2;
  }
  const char* ticks_text = std::getenv("TICK_BENCH_TICKS");
  const int ticks = ticks_text != nullptr ? std::max(1, std::atoi(ticks_text)) : 7;

  std::printf("%8s | %12s %12s %12s | %12s %12s %12s | %8s | %14s %12s\n", "adapters",
              "block med", "block max", "stall max", "classic med", "classic max", "cl. stall",
              "med/1", "thread: block", "stall max");
  double one_adapter = 0;
  for (const size_t count : {1u, 2u, 4u, 8u}) {
    const std::vector<std::string> used(all.begin(), all.begin() + static_cast<long>(count));
    const Figures now = MeasureTicks(used, false, ticks);
    const Figures classic = MeasureTicks(used, true, ticks);
    const Figures threaded = MeasureThreadedTicks(used, ticks);
    if (count == 1) one_adapter = now.median_block_ms;
    std::printf("%8zu | %10.1fms %10.1fms %10.1fms | %10.1fms %10.1fms %10.1fms | %7.3fx | "
                "%12.1fms %10.1fms\n",
                count, now.median_block_ms, now.max_block_ms, now.max_stall_ms,
                classic.median_block_ms, classic.max_block_ms, classic.max_stall_ms,
                now.median_block_ms / one_adapter, threaded.median_block_ms,
                threaded.max_stall_ms);
    std::fflush(stdout);
  }
  return RunBurns();
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) { return stampwright::Run(argc, argv); }
