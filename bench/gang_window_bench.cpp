// The gang window's longest stall while its bays burn: the window front end as the program runs
// it (offscreen), one bay per adapter named in STAMPWRIGHT_BENCH_INTERFACES, each a pcap driver
// of its own and its own connection to one SQLite journal. Once every tile asks for a label, each
// bay's code and label are typed into the window, one line every 5 ms, as a scanner would; a 1 ms
// heartbeat on the window's thread measures the longest gap from the scans to the last PASS.
// Prints one line: bays, scans to last PASS (ms), longest stall (ms), when it began (ms after
// the first scan), the window thread's CPU time in it and its wait for a core in it (ms), PASS
// count.
//
//   gang_window_bench WORKDIR     (WORKDIR holds cam.dbr with the labels 02A0C5BE0000, ...)

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "app/qt/gang_view.h"
#include "journal/sqlite_journal.h"
#include "settings/preferences.h"
#include "transport/arp_flush.h"
#include "transport/clock.h"
#include "transport/pcap/pcap_driver.h"

namespace stampwright {
namespace {

using Steady = std::chrono::steady_clock;

std::vector<std::string> SplitNames(const char* text) {
  std::vector<std::string> names;
  std::stringstream stream(text == nullptr ? "" : text);
  for (std::string name; std::getline(stream, name, ',');) {
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

std::string Label(int bay) {
  char text[24];
  std::snprintf(text, sizeof text, "02A0C5BE%04X", bay - 1);
  return text;
}

double ThreadCpuMs() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// How long this thread has waited, runnable, for a core (the scheduler's run-queue wait); 0
// where the kernel does not say.
double ThreadRunQueueMs() {
  std::FILE* file = std::fopen("/proc/thread-self/schedstat", "r");
  if (file == nullptr) return 0;
  unsigned long long running = 0;
  unsigned long long waiting = 0;
  const int read = std::fscanf(file, "%llu %llu", &running, &waiting);
  std::fclose(file);
  return read == 2 ? static_cast<double>(waiting) / 1e6 : 0;
}

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int Run(int argc, char** argv) {
  const std::vector<std::string> names = SplitNames(std::getenv("STAMPWRIGHT_BENCH_INTERFACES"));
  if (argc != 2 || names.size() < 2) {
    std::fputs("usage: STAMPWRIGHT_BENCH_INTERFACES=A,B[,...] gang_window_bench WORKDIR\n", stderr);
    return 2;
  }
  const std::string workdir = argv[1];
  const int count = static_cast<int>(names.size());
  QApplication application(argc, argv);

  SystemClock clock;
  std::vector<std::unique_ptr<PcapDriver>> drivers;
  std::vector<std::unique_ptr<SqliteJournal>> journals;
  std::vector<BayEnvironment> bays;
  for (const std::string& name : names) {
    drivers.push_back(std::make_unique<PcapDriver>(std::vector<std::string>{name}));
    JournalStatus opened;
    journals.push_back(SqliteJournal::Open(workdir + "/journal.db", &opened));
    if (!journals.back()) {
      std::fprintf(stderr, "gang_window_bench: journal: %s\n", opened.error.c_str());
      return 1;
    }
    JournalLink link;
    link.enabled = true;
    link.journal = journals.back().get();
    link.station_name = "gang-window-bench";
    bays.push_back({name, drivers.back().get(), link});
  }
  StationSettings settings;
  settings.workdir = workdir;
  RtnetlinkArpFlush arp_flush;
  FrontEndEnvironment environment{*drivers.front(), clock, arp_flush,
                                  LoadPreferences(workdir + "/" + kPreferencesFileName), settings,
                                  JournalLink{}, true, {}, bays};

  // The heartbeat: the window thread's event loop, seen from a 1 ms timer on it.
  Steady::time_point last_beat = Steady::now();
  Steady::duration longest{};
  Steady::time_point longest_at;  // where the longest gap began
  // The window thread's own CPU time in the longest gap: near the gap, the window's work; far
  // below it, the thread waited for a core (other threads and processes on a busy machine).
  double longest_cpu_ms = 0;
  double last_cpu_ms = ThreadCpuMs();
  double longest_queued_ms = 0;  // and the time it waited for a core in it
  double last_queued_ms = ThreadRunQueueMs();
  QTimer heartbeat;
  heartbeat.setTimerType(Qt::PreciseTimer);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    const Steady::time_point now = Steady::now();
    const double cpu = ThreadCpuMs();
    const double queued = ThreadRunQueueMs();
    if (now - last_beat > longest) {
      longest = now - last_beat;
      longest_at = last_beat;
      longest_cpu_ms = cpu - last_cpu_ms;
      longest_queued_ms = queued - last_queued_ms;
    }
    last_beat = now;
    last_cpu_ms = cpu;
    last_queued_ms = queued;
  });

  enum class Step { kFind, kAwaitRead, kScan, kAwaitPass, kDone } step = Step::kFind;
  int typed = 0;
  GangView* view = nullptr;
  Steady::time_point scanned;
  Steady::time_point passed;
  int passes = 0;
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (elapsed.elapsed() > 60000 && step != Step::kDone) {  // bounded: report what there is
      step = Step::kDone;
      if (view != nullptr) view->close();
      return;
    }
    switch (step) {
      case Step::kFind:
        for (QWidget* window : QApplication::topLevelWidgets()) {
          if (auto* found = dynamic_cast<GangView*>(window); found && found->isVisible()) {
            view = found;
            step = Step::kAwaitRead;
          }
        }
        return;
      case Step::kAwaitRead:
        for (int bay = 1; bay <= count; ++bay) {
          if (view->state(bay).Face(0).word != TileWord::kScanLabel) return;
        }
        scanned = Steady::now();
        last_beat = scanned;
        last_cpu_ms = ThreadCpuMs();
        last_queued_ms = ThreadRunQueueMs();
        longest = {};
        heartbeat.start(1);
        step = Step::kScan;
        [[fallthrough]];
      case Step::kScan: {
        // One scanned line per poll, as a scanner types them one after another: each bay's
        // code, then its label. Typed all in one go they would be one long block of key events.
        const int bay = typed / 2 + 1;
        const std::string line = typed % 2 == 0 ? "BAY-" + std::to_string(bay) : Label(bay);
        QTest::keyClicks(view, QString::fromStdString(line));
        QTest::keyClick(view, Qt::Key_Return);
        if (++typed == 2 * count) step = Step::kAwaitPass;
        return;
      }
      case Step::kAwaitPass: {
        int seen = 0;
        for (int bay = 1; bay <= count; ++bay) {
          if (view->state(bay).Face(0).headline == "PASS " + Label(bay)) ++seen;
        }
        if (seen < count) return;
        passed = Steady::now();
        heartbeat.stop();
        passes = seen;
        step = Step::kDone;
        view->close();
        return;
      }
      case Step::kDone:
        return;
    }
  });
  // A poll every 5 ms bounds how late the PASS is seen; it is on the same loop as the heartbeat.
  poll.start(5);
  char name[] = "stampwright";
  char* front_argv[] = {name, nullptr};
  const int status = RunWindowFrontEnd(1, front_argv, environment);
  if (passes != count) {
    std::fprintf(stderr, "gang_window_bench: %d of %d bays passed (exit %d)\n", passes, count, status);
    return 1;
  }
  std::printf("%d %.0f %.1f %.0f %.1f %.1f %d\n", count, Ms(passed - scanned), Ms(longest),
              Ms(longest_at - scanned), longest_cpu_ms, longest_queued_ms, passes);
  return status;
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) { return stampwright::Run(argc, argv); }
