// stampwright-unit-sim: a simulated powerline unit on a real interface (one unit on each of
// several, for a gang of bays), for bench tests of a station without hardware and the veth tests.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
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

void LogAnswer(const std::string& prefix, const std::vector<uint8_t>& frame) {
  const FrameReader reader(frame.data(), frame.size());
  const auto header = ReadMessageHeader(reader);
  if (!header) return;
  const char* name = MessageTypeName(header->mmtype);
  const int status = reader.U8(20).value_or(0);
  char line[160];
  std::snprintf(line, sizeof line, "answer %s to %s from %s: status %02X, %zu bytes",
                name ? name : "?", header->destination.ToString().c_str(),
                header->source.ToString().c_str(), status, frame.size());
  Log(prefix + line);
}

// Time until the next answer is due, at most max_ms; 0 when one is due now.
uint32_t TimeToNextAnswer(const SimulatedUnit& unit, uint32_t now, uint32_t max_ms) {
  const auto due = unit.NextFrameDue();
  if (!due) return max_ms;
  const auto remaining = static_cast<int32_t>(*due - now);
  if (remaining <= 0) return 0;
  return static_cast<uint32_t>(remaining) < max_ms ? static_cast<uint32_t>(remaining) : max_ms;
}

// One simulated unit on its interface. Log lines name the interface when there are several,
// so one log keeps apart units that start under the same MAC.
struct ServedUnit {
  ServedUnit(const UnitSimOptions& options, const std::string& name)
      : interface(name),
        prefix(options.interfaces.size() > 1 ? name + ": " : ""),
        unit(options.unit) {
    if (options.flash_path) {
      flash_path = UnitFilePath(*options.flash_path, name, options.interfaces.size());
    }
    if (options.firmware_path) {
      firmware_path = UnitFilePath(*options.firmware_path, name, options.interfaces.size());
    }
    unit.SetLog([this](const std::string& line) { Log(prefix + line); });
  }

  void SaveCommitted() {
    if (flash_path && unit.ParameterCommits() != saved_commits) {
      saved_commits = unit.ParameterCommits();
      Log(prefix + (SaveFlash(*flash_path, unit.Flash()) ? "flash saved to " : "cannot write ") +
          *flash_path);
    }
    if (firmware_path && unit.FirmwareCommits() != saved_firmware_commits) {
      saved_firmware_commits = unit.FirmwareCommits();
      Log(prefix +
          (SaveFirmware(*firmware_path, unit.Firmware()) ? "firmware saved to " : "cannot write ") +
          *firmware_path);
    }
  }

  std::string interface;
  std::string prefix;
  SimulatedUnit unit;
  PacketDriver::Handle handle = PacketDriver::kInvalidHandle;
  std::optional<std::string> flash_path;
  std::optional<std::string> firmware_path;
  uint32_t saved_commits = 0;
  uint32_t saved_firmware_commits = 0;
};

int Run(const UnitSimOptions& options) {
  PcapDriver pcap(options.interfaces);
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
  for (const std::string& name : options.interfaces) {
    if (!names || std::find(names->begin(), names->end(), name) == names->end()) {
      Log("interface " + name + " is not an Ethernet adapter that is up" +
          (driver.Diagnostic().empty() ? "" : ": " + driver.Diagnostic()));
      return 1;
    }
  }
  // Units hold a log callback that points back at them: they never move.
  std::vector<std::unique_ptr<ServedUnit>> units;
  std::vector<PacketDriver::Handle> handles;
  for (const std::string& name : options.interfaces) {
    auto served = std::make_unique<ServedUnit>(options, name);
    served->handle = driver.OpenAdapter(name);
    if (served->handle == PacketDriver::kInvalidHandle) {
      Log("cannot open " + name + ": " + driver.Diagnostic());
      for (const auto& opened : units) driver.CloseAdapter(opened->handle);
      return 1;
    }
    driver.SetBpfProgram(served->handle, FrameFilterProgram);
    driver.SetPacketFilter(served->handle, kPacketFilterPromiscuous);
    handles.push_back(served->handle);
    units.push_back(std::move(served));
  }
  SystemClock clock;
  for (const auto& served : units) {
    Log("ready on " + served->interface + " as " + served->unit.CurrentMac().ToString() +
        ", OUI " + FormatOui(options.unit.oui));
  }

  constexpr uint32_t kIdleWaitMs = 200;  // bounds the reaction to a signal
  std::vector<uint8_t> buffer(2048);
  std::vector<uint8_t> answer;
  while (!g_stop) {
    uint32_t wait = kIdleWaitMs;
    for (const auto& served : units) {
      while (served->unit.TakeFrame(clock.TickCount(), &answer)) {
        if (!driver.SendPacket(served->handle, answer.data(), answer.size())) {
          Log(served->prefix + "send failed: " + driver.Diagnostic());
        }
        LogAnswer(served->prefix, answer);
      }
      wait = std::min(wait, TimeToNextAnswer(served->unit, clock.TickCount(), kIdleWaitMs));
    }
    const uint32_t waited_from = clock.TickCount();
    if (wait > 0) driver.WaitReadableAny(handles, wait);
    size_t received = 0;
    for (const auto& served : units) {
      size_t length = 0;
      while (!g_stop &&
             (length = driver.ReceivePacket(served->handle, buffer.data(), buffer.size())) > 0) {
        served->unit.OnFrame(buffer.data(), length, clock.TickCount());
        ++received;
      }
    }
    // A wait that returns at once with nothing to read (an adapter in error) must not spin.
    if (wait > 0 && received == 0 && clock.TickCount() == waited_from) clock.Sleep(1);
    for (const auto& served : units) served->SaveCommitted();
  }
  for (const auto& served : units) driver.CloseAdapter(served->handle);
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
