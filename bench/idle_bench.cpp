// Idle cost: the CPU time a station uses with one adapter and no unit, where every scan tick (3 s)
// runs a discovery that waits its full 456 ms. A timing harness, not a Google Benchmark: it runs
// the real page creation and scan cycle for a fixed wall time and reads getrusage around it.
//
// Without STAMPWRIGHT_BENCH_INTERFACE the adapter is a VirtualDriver adapter on the system clock;
// with it (idle_bench.sh sets it to a veth end with nothing on the other side) the pcap driver.
// IDLE_BENCH_SECONDS sets the measured time (default 60).
//
// Besides the CPU share it counts the driver calls made during the waits: a wait that sleeps on
// the adapter makes one WaitReadable per try, a wait that spins makes about one per millisecond.

#include <benchmark/benchmark.h>  // linked by bench/CMakeLists.txt; unused here
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "station/timer.h"
#include "resources/controls.h"
#include "support/recording_arp_flush.h"
#include "support/recording_page.h"
#include "settings/preferences.h"
#include "transport/clock.h"
#include "transport/pcap/pcap_driver.h"
#include "transport/virtual_driver.h"

namespace stampwright {
namespace {

using Steady = std::chrono::steady_clock;

// Passes every call on and counts the ones the waits make.
class CountingDriver final : public PacketDriver {
 public:
  explicit CountingDriver(PacketDriver& inner) : inner_(inner) {}

  std::optional<std::vector<std::string>> EnumerateAdapters() override { return inner_.EnumerateAdapters(); }
  Handle OpenAdapter(const std::string& name) override { return inner_.OpenAdapter(name); }
  void CloseAdapter(Handle handle) override { inner_.CloseAdapter(handle); }
  bool QueryCurrentAddress(Handle handle, MacAddress* address) override {
    return inner_.QueryCurrentAddress(handle, address);
  }
  bool SetPacketFilter(Handle handle, uint32_t filter) override { return inner_.SetPacketFilter(handle, filter); }
  bool SetBpfProgram(Handle handle, std::span<const BpfInstruction> program) override {
    return inner_.SetBpfProgram(handle, program);
  }
  bool SendPacket(Handle handle, const uint8_t* frame, size_t length) override {
    ++sends;
    return inner_.SendPacket(handle, frame, length);
  }
  size_t ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) override {
    ++receives;
    const size_t stored = inner_.ReceivePacket(handle, buffer, capacity);
    if (stored > 0) ++frames;
    return stored;
  }
  bool WaitReadable(Handle handle, uint32_t timeout_ms) override {
    ++waits;
    return inner_.WaitReadable(handle, timeout_ms);
  }
  std::string Diagnostic() const override { return inner_.Diagnostic(); }

  long sends = 0, receives = 0, frames = 0, waits = 0;

 private:
  PacketDriver& inner_;
};

// The front end's periodic timer on wall time.
class WallTimer final : public Timer {
 public:
  void Start(uint32_t interval_ms) override {
    interval_ = std::chrono::milliseconds(interval_ms);
    next_ = Steady::now() + interval_;
    active_ = true;
  }
  void Stop() override { active_ = false; }
  bool IsActive() const override { return active_; }
  Steady::time_point next() const { return next_; }
  void Expired() { next_ += interval_; }

 private:
  bool active_ = false;
  std::chrono::milliseconds interval_{0};
  Steady::time_point next_{};
};

struct Usage {
  double cpu_seconds;
  long voluntary_switches;
};

Usage Now() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
  return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw};
}

int Run() {
  const char* interface = std::getenv("STAMPWRIGHT_BENCH_INTERFACE");
  const char* seconds_text = std::getenv("IDLE_BENCH_SECONDS");
  const int seconds = seconds_text != nullptr ? std::atoi(seconds_text) : 60;
  if (seconds <= 0) {
    std::fprintf(stderr, "idle_bench: IDLE_BENCH_SECONDS must be a positive number\n");
    return 2;
  }

  SystemClock clock;
  std::unique_ptr<PacketDriver> real;
  if (interface != nullptr && *interface != '\0') {
    real = std::make_unique<PcapDriver>(std::vector<std::string>{interface});
  } else {
    auto virtual_driver = std::make_unique<VirtualDriver>(clock, 1);
    virtual_driver->AddAdapter("idle0", *MacAddress::Parse("02:BB:00:00:00:20"));
    real = std::move(virtual_driver);
  }
  CountingDriver driver(*real);
  RecordingPage page;
  WallTimer timer;
  RecordingArpFlush arp_flush;
  StationCore station(page, driver, clock, timer, arp_flush, LoadPreferences());

  const Usage before_start = Now();
  const auto start_wall = Steady::now();
  OnPageCreated(station);
  OnPageActivated(station);
  const double start_seconds = std::chrono::duration<double>(Steady::now() - start_wall).count();
  const Usage after_start = Now();
  // A scan that finds nothing closes the adapters again; what shows the one adapter was used is
  // its three version queries per discovery.
  if (driver.sends != 6) {
    std::fprintf(stderr, "idle_bench: page creation sent %ld version queries instead of 6 (%s)\n",
                 driver.sends, driver.Diagnostic().c_str());
    return 1;
  }
  driver.sends = driver.receives = driver.frames = driver.waits = 0;

  // The event loop between ticks blocks; here it sleeps until the timer is due.
  const auto end = Steady::now() + std::chrono::seconds(seconds);
  const Usage before = Now();
  const auto wall_before = Steady::now();
  int ticks = 0;
  while (timer.IsActive() && timer.next() < end) {
    std::this_thread::sleep_until(timer.next());
    timer.Expired();
    OnScanTimer(station);
    ++ticks;
  }
  std::this_thread::sleep_until(end);
  const double wall = std::chrono::duration<double>(Steady::now() - wall_before).count();
  const Usage after = Now();

  const double cpu = after.cpu_seconds - before.cpu_seconds;
  std::printf("idle_bench: %s adapter, no unit, %.1f s measured\n",
              interface != nullptr ? interface : "virtual", wall);
  std::printf("  page creation (two discoveries): %.0f ms wall, %.2f ms CPU\n", start_seconds * 1e3,
              (after_start.cpu_seconds - before_start.cpu_seconds) * 1e3);
  std::printf("  scan ticks: %d; status line: \"%s\"\n", ticks, page.GetText(kStatusLine, 80).c_str());
  std::printf("  CPU: %.3f s = %.3f %% of one core (%.2f ms per tick)\n", cpu, 100.0 * cpu / wall,
              ticks > 0 ? cpu * 1e3 / ticks : 0.0);
  std::printf("  voluntary context switches: %ld (%.1f per tick)\n",
              after.voluntary_switches - before.voluntary_switches,
              ticks > 0 ? static_cast<double>(after.voluntary_switches - before.voluntary_switches) / ticks : 0.0);
  std::printf("  driver calls: %ld WaitReadable, %ld ReceivePacket (%ld frames), %ld sends; %.1f waits per query\n",
              driver.waits, driver.receives, driver.frames, driver.sends,
              driver.sends > 0 ? static_cast<double>(driver.waits) / static_cast<double>(driver.sends) : 0.0);
  return 0;
}

}  // namespace
}  // namespace stampwright

int main() { return stampwright::Run(); }
