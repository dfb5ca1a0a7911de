// stampwright-unit-sim: a simulated powerline unit on one real interface, for bench tests of a
// station without hardware and for the veth tests.

#include <csignal>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "options.h"
#include "transport/adapter_set.h"
#include "transport/capturing_driver.h"
#include "transport/clock.h"
#include "transport/pcap/pcap_driver.h"
#include "transport/pcapng_file.h"

namespace stampwright {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a signal cuts the wait on the adapter short
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void Log(const std::string& line) { std::fprintf(stderr, "unit-sim: %s\n", line.c_str()); }

// Written beside the target and renamed over it, so a reader never sees half an image.
bool SaveFlash(const std::string& path, const ParameterModule& image) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(image.bytes.data(), 1, image.bytes.size(), file) ==
                       image.bytes.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed && std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool SaveFirmware(const std::string& path, const std::vector<uint8_t>& firmware) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(firmware.data(), 1, firmware.size(), file) == firmware.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed && std::rename(temporary.c_str(), path.c_str()) == 0;
}

void LogAnswer(const std::vector<uint8_t>& frame) {
  const FrameReader reader(frame.data(), frame.size());
  const auto header = ReadMessageHeader(reader);
  if (!header) return;
  const char* name = MessageTypeName(header->mmtype);
  const int status = reader.U8(20).value_or(0);
  char line[160];
  std::snprintf(line, sizeof line, "answer %s to %s from %s: status %02X, %zu bytes",
                name ? name : "?", header->destination.ToString().c_str(),
                header->source.ToString().c_str(), status, frame.size());
  Log(line);
}

// Time until the next answer is due, at most max_ms; 0 when one is due now.
uint32_t TimeToNextAnswer(const SimulatedUnit& unit, uint32_t now, uint32_t max_ms) {
  const auto due = unit.NextFrameDue();
  if (!due) return max_ms;
  const auto remaining = static_cast<int32_t>(*due - now);
  if (remaining <= 0) return 0;
  return static_cast<uint32_t>(remaining) < max_ms ? static_cast<uint32_t>(remaining) : max_ms;
}

int Run(const UnitSimOptions& options) {
  PcapDriver pcap({options.interface});
  std::unique_ptr<PcapngFile> capture;
  std::unique_ptr<CapturingDriver> capturing;
  if (options.capture_path) {
    std::string error;
    capture = PcapngFile::Open(*options.capture_path, &error);
    if (!capture) {
      Log(error);
      return 1;
    }
    capturing = std::make_unique<CapturingDriver>(pcap, *capture);
  }
  PacketDriver& driver = capturing ? static_cast<PacketDriver&>(*capturing) : pcap;
  const auto names = driver.EnumerateAdapters();
  if (!names || names->empty()) {
    Log("interface " + options.interface + " is not an Ethernet adapter that is up" +
        (driver.Diagnostic().empty() ? "" : ": " + driver.Diagnostic()));
    return 1;
  }
  const PacketDriver::Handle handle = driver.OpenAdapter(options.interface);
  if (handle == PacketDriver::kInvalidHandle) {
    Log("cannot open " + options.interface + ": " + driver.Diagnostic());
    return 1;
  }
  driver.SetBpfProgram(handle, FrameFilterProgram);
  driver.SetPacketFilter(handle, kPacketFilterPromiscuous);

  SimulatedUnit unit(options.unit);
  unit.SetLog(Log);
  SystemClock clock;
  Log("ready on " + options.interface + " as " + unit.CurrentMac().ToString() + ", OUI " +
      FormatOui(options.unit.oui));

  constexpr uint32_t kIdleWaitMs = 200;  // bounds the reaction to a signal
  std::vector<uint8_t> buffer(2048);
  std::vector<uint8_t> answer;
  uint32_t saved_commits = 0;
  uint32_t saved_firmware_commits = 0;
  while (!g_stop) {
    while (unit.TakeFrame(clock.TickCount(), &answer)) {
      if (!driver.SendPacket(handle, answer.data(), answer.size())) {
        Log("send failed: " + driver.Diagnostic());
      }
      LogAnswer(answer);
    }
    const uint32_t wait = TimeToNextAnswer(unit, clock.TickCount(), kIdleWaitMs);
    const uint32_t waited_from = clock.TickCount();
    if (wait > 0) driver.WaitReadable(handle, wait);
    size_t length = 0;
    size_t received = 0;
    while (!g_stop && (length = driver.ReceivePacket(handle, buffer.data(), buffer.size())) > 0) {
      unit.OnFrame(buffer.data(), length, clock.TickCount());
      ++received;
    }
    // A wait that returns at once with nothing to read (an adapter in error) must not spin.
    if (wait > 0 && received == 0 && clock.TickCount() == waited_from) clock.Sleep(1);
    if (options.flash_path && unit.ParameterCommits() != saved_commits) {
      saved_commits = unit.ParameterCommits();
      if (!SaveFlash(*options.flash_path, unit.Flash())) {
        Log("cannot write " + *options.flash_path);
      } else {
        Log("flash saved to " + *options.flash_path);
      }
    }
    if (options.firmware_path && unit.FirmwareCommits() != saved_firmware_commits) {
      saved_firmware_commits = unit.FirmwareCommits();
      if (!SaveFirmware(*options.firmware_path, unit.Firmware())) {
        Log("cannot write " + *options.firmware_path);
      } else {
        Log("firmware saved to " + *options.firmware_path);
      }
    }
  }
  driver.CloseAdapter(handle);
  Log("stopped");
  return 0;
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) {
  using namespace stampwright;
  const UnitSimParse parsed = ParseUnitSimOptions(argc, argv);
  if (!parsed.options) {
    std::fprintf(stderr, "stampwright-unit-sim: %s (see --help)\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options->help) {
    std::fputs(kUnitSimUsage, stdout);
    return 0;
  }
  if (parsed.options->version) {
    std::printf("stampwright-unit-sim %s\n", STAMPWRIGHT_VERSION);
    return 0;
  }
  InstallSignalHandlers();
  return Run(*parsed.options);
}
