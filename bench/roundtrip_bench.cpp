// One request and its confirmation over a real interface, through the adapter set, the pcap
// driver and the wait that ends once the confirmation is in. Run it through roundtrip_bench.sh,
// which puts stampwright-unit-sim on the other end of a veth pair and names the interface in
// STAMPWRIGHT_BENCH_INTERFACE; without that variable every benchmark reports an error and skips.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "protocol/management_message.h"
#include "protocol/requests.h"
#include "resources/page.h"
#include "transport/adapter_set.h"
#include "transport/clock.h"
#include "transport/frame_exchange.h"
#include "transport/pcap/pcap_driver.h"

namespace stampwright {
namespace {

constexpr uint32_t kWaitMs = 1000;

// Status texts are thrown away: thousands of iterations would otherwise pile them up.
class NullPage final : public Page {
 public:
  void SetText(int, std::string_view) override {}
  std::string GetText(int, size_t) const override { return {}; }
  void Enable(int, bool) override {}
  bool IsEnabled(int) const override { return true; }
  void Check(int, bool) override {}
  bool IsChecked(int) const override { return false; }
  int MessageBox(std::string_view, std::string_view, uint32_t) override { return kIdOk; }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override { return {}; }
  void SelectText(int) override {}
  void SetFocus(int) override {}
};

struct Wire {
  explicit Wire(const std::string& interface) : driver({interface}) { adapters.driver = &driver; }

  PcapDriver driver;
  AdapterSet adapters;
  DeviceSummaries summaries{};
  TransferRegisters registers;
  NullPage page;
  SystemClock clock;
  MessageContext ctx{adapters, summaries, registers, page, kDefaultVendorOui};
  ParameterModule module{};
  std::array<uint8_t, kReceiveCapacity> last{};
  bool accepted = false;
  MacAddress unit;
};

// Accepts the confirmation of the pending request addressed to this adapter.
ReceivePacket* Dispatch(void* context, int adapter) {
  Wire& w = *static_cast<Wire*>(context);
  ReceivePacket* packet = TakeReceivedFrame(w.adapters, w.summaries, adapter);
  if (packet == nullptr) return nullptr;
  const FrameReader frame(packet->frame, std::min<size_t>(packet->length, kReceiveCapacity));
  const auto header = ReadMessageHeader(frame);
  if (header && header->destination == w.adapters.records[adapter].AdapterMac &&
      header->mmtype == w.registers.PendingRequestType + 1 && frame.U8(20) == 0) {
    w.unit = header->source;
    w.accepted = true;
  }
  return packet;
}

bool Await(Wire& w) {
  WaitHooks hooks;
  hooks.dispatch = &Dispatch;
  hooks.context = &w;
  hooks.awaited_accepted = &w.accepted;
  WaitForResponses(w.adapters, w.clock, 0, kWaitMs, w.last.data(), hooks);
  return w.accepted;
}

// Opened once for all benchmarks; nullptr (with the reason) when there is no wire to use.
Wire* TheWire(std::string* why) {
  static std::unique_ptr<Wire> wire;
  static std::string failure;
  if (wire || !failure.empty()) {
    *why = failure;
    return wire.get();
  }
  const char* interface = std::getenv("STAMPWRIGHT_BENCH_INTERFACE");
  if (interface == nullptr || *interface == '\0') {
    failure = "STAMPWRIGHT_BENCH_INTERFACE is not set: run bench/roundtrip_bench.sh";
  } else {
    auto w = std::make_unique<Wire>(interface);
    if (OpenAllAdapters(w->adapters) != 1 || w->adapters.AdapterCount != 1) {
      failure = std::string("cannot open ") + interface + ": " + w->driver.Diagnostic();
    } else {
      SendVersionQuery(w->ctx, 0);
      if (!Await(*w)) {
        failure = "no unit answers on " + std::string(interface);
      } else {
        w->adapters.records[0].DeviceMac = w->unit;
        wire = std::move(w);
      }
    }
  }
  *why = failure;
  return wire.get();
}

template <typename Request>
void RoundTrip(benchmark::State& state, Request request) {
  std::string why;
  Wire* w = TheWire(&why);
  if (w == nullptr) {
    state.SkipWithError(why.c_str());
    return;
  }
  for (auto _ : state) {
    w->accepted = false;
    request(*w);
    if (!Await(*w)) {
      state.SkipWithError("a confirmation did not come within 1 s");
      break;
    }
  }
}

void BM_VersionQueryRoundTrip(benchmark::State& state) {
  RoundTrip(state, [](Wire& w) { SendVersionQuery(w.ctx, 0); });
}
BENCHMARK(BM_VersionQueryRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ReadChunkRoundTrip(benchmark::State& state) {
  RoundTrip(state, [](Wire& w) { SendReadModule(w.ctx, 0, 0, 1024); });
}
BENCHMARK(BM_ReadChunkRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_WriteChunkRoundTrip(benchmark::State& state) {
  RoundTrip(state, [](Wire& w) { SendWriteModule(w.ctx, 0, 0, 1024, kModuleIdParameter, w.module); });
}
BENCHMARK(BM_WriteChunkRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace stampwright

BENCHMARK_MAIN();
