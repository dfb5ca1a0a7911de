// The whole station on a real wire: a Station with a recording page, the system clock, a timer
// run by wall time and the pcap driver restricted to one veth end. It creates the page (the two
// start-up discoveries and the automatic module read) against stampwright-unit-sim on the other
// end, checks what the page shows, burns the unit under a looked-up MAC, drives the scan timer
// until "Success" and compares the simulator's saved flash with the expected image.
//
//   e2e_veth_station write-image FILE UNIT_MAC SEED
//   e2e_veth_station --interface NAME --workdir DIR --image FILE --flash FILE
//                    --unit-mac MAC --version-text TEXT --new-mac MAC12 --password PASSWORD16
//
// Exit 0 when every check held, 1 otherwise, 2 on bad usage.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "station/timer.h"
#include "base/text.h"
#include "crypto/key_derivation.h"
#include "station/burn.h"
#include "programming/carrier_table.h"
#include "programming/mac_database.h"
#include "protocol/simulated_unit.h"
#include "resources/controls.h"
#include "support/recording_page.h"
#include "settings/preferences.h"
#include "transport/clock.h"
#include "transport/pcap/pcap_driver.h"

namespace stampwright {
namespace {

using WallClock = std::chrono::steady_clock;

// The scan timer of a front end, run by wall time: the test's loop asks whether it is due.
class WallTimer final : public Timer {
 public:
  void Start(uint32_t interval_ms) override {
    interval_ = std::chrono::milliseconds(interval_ms);
    next_ = WallClock::now() + interval_;
    active_ = true;
    ++starts_;
  }
  void Stop() override { active_ = false; }
  bool IsActive() const override { return active_; }

  // True once per expiry; the next one is due an interval later, as a periodic timer's is.
  bool TakeExpiry() {
    if (!active_ || WallClock::now() < next_) return false;
    next_ += interval_;
    return true;
  }
  int starts() const { return starts_; }

 private:
  bool active_ = false;
  std::chrono::milliseconds interval_{0};
  WallClock::time_point next_{};
  int starts_ = 0;
};

struct Options {
  std::string interface, workdir, image_path, flash_path, version_text, new_mac, password;
  MacAddress unit_mac;
};

int g_failures = 0;

bool Check(bool ok, const std::string& what) {
  std::fprintf(stderr, "veth-station: %s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  if (!ok) ++g_failures;
  return ok;
}

bool CheckText(const RecordingPage& page, int id, const std::string& expected) {
  const std::string shown = page.GetText(id, 1024);
  return Check(shown == expected, "control " + std::to_string(id) + " shows \"" + expected +
                                      "\" (shows \"" + shown + "\")");
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  return bytes;
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// A PX300 image for the unit: the simulator's default layout, with the opaque spans (everything
// but the carrier table, keys, MAC and checksum) filled from the seed, so that a read-back that
// dropped or shifted a chunk cannot pass by accident.
int WriteImage(const std::string& path, const MacAddress& mac, uint32_t seed) {
  ParameterModule image = DefaultUnitImage(mac);
  std::mt19937 random(seed);
  const size_t carrier_end = kCarrierValuesOffset + 4 * kCarrierCount;
  for (size_t i = kNetworkMembershipKeyOffset + kKeySize; i < kCarrierValuesOffset; ++i) {
    image.bytes[i] = static_cast<uint8_t>(random());
  }
  for (size_t i = carrier_end; i < kModuleSize; ++i) image.bytes[i] = static_cast<uint8_t>(random());
  UpdateImageChecksum(image);
  if (!WriteFile(path, image.bytes.data(), image.bytes.size())) {
    std::fprintf(stderr, "veth-station: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}

std::string Grouped(const std::string& password16) {
  std::string grouped;
  for (size_t i = 0; i < password16.size(); ++i) {
    if (i > 0 && i % 4 == 0) grouped += '-';
    grouped += password16[i];
  }
  return grouped;
}

// "cam.dbr" with a few other units' records first and the one to burn last.
bool WriteDatabase(const std::string& new_mac, const std::string& password16) {
  std::string text;
  for (const char* other : {"000001", "00000A", "FFFFFE"}) {
    text += EncodeMacRecord(std::string(kDefaultMacPrefix) + other, "QRSTUVWXYZ012345") + "\n";
  }
  const std::string record = EncodeMacRecord(new_mac, password16);
  if (record.empty()) return false;
  text += record + "\n";
  return WriteFile("cam.dbr", text.data(), text.size());
}

// The status texts from the first "Burning..." on.
std::vector<std::string> BurnStatusTexts(const RecordingPage& page) {
  const auto all = page.StatusTexts();
  std::vector<std::string> from_burn;
  bool started = false;
  for (const auto& text : all) {
    started = started || text == "Burning...";
    if (started) from_burn.push_back(text);
  }
  return from_burn;
}

std::vector<std::string> ExpectedBurnTexts(uint32_t checksum) {
  std::vector<std::string> texts = {"Burning...", FormatText("checksum: %08x", checksum)};
  for (uint32_t offset = 0; offset < kModuleSize; offset += 1024) {
    const std::string line = FormatText("Write Module - offset: %d", static_cast<int>(offset));
    texts.push_back(line);  // the request
    texts.push_back(line);  // its confirmation
  }
  texts.push_back(FormatText("Write Module - offset: %d", static_cast<int>(kModuleSize)));
  texts.push_back("Write Module - OK");
  texts.push_back("Waiting...");
  return texts;
}

void PrintTranscript(const RecordingPage& page) {
  for (const auto& line : page.Transcript()) std::fprintf(stderr, "  | %s\n", line.c_str());
}

int Run(const Options& options) {
  const auto image = ReadFile(options.image_path);
  if (!image || image->size() != kModuleSize) {
    std::fprintf(stderr, "veth-station: %s is not a 7864-byte image\n", options.image_path.c_str());
    return 2;
  }
  if (::chdir(options.workdir.c_str()) != 0) {
    std::fprintf(stderr, "veth-station: cannot enter %s\n", options.workdir.c_str());
    return 2;
  }
  if (!WriteDatabase(options.new_mac, options.password)) {
    std::fprintf(stderr, "veth-station: cannot write cam.dbr for %s\n", options.new_mac.c_str());
    return 2;
  }

  RecordingPage page;
  PcapDriver driver({options.interface});
  SystemClock clock;
  WallTimer timer;
  RtnetlinkArpFlush arp_flush;
  StationCore station(page, driver, clock, timer, arp_flush, LoadPreferences());

  // Page creation: two discoveries; the second takes the unit's identity and reads its module.
  OnPageCreated(station);
  OnPageActivated(station);
  if (!driver.Diagnostic().empty()) {
    std::fprintf(stderr, "veth-station: driver: %s\n", driver.Diagnostic().c_str());
  }
  Check(station.adapters.AdapterCount == 1, "the adapter set holds the one veth end");
  bool ok = CheckText(page, kMacField, options.unit_mac.ToString());
  ok &= CheckText(page, kChipModelField, "PX300");
  ok &= CheckText(page, kFirmwareVersionField, options.version_text);
  ok &= CheckText(page, kStatusLine, "Read Module OK - PX300 Class B");
  ok &= CheckText(page, kConnectionField, "Connected");
  ok &= Check(page.IsEnabled(kBurnButton), "Burn is enabled");
  ok &= Check(std::memcmp(station.module.bytes.data(), image->data(), kModuleSize) == 0,
              "the module read equals the unit's image");
  ok &= Check(page.message_boxes().empty(), "no message box during the start-up scans");
  if (!ok) {
    PrintTranscript(page);
    return 1;
  }

  // The burn of a looked-up unit.
  ParameterModule expected;
  std::memcpy(expected.bytes.data(), image->data(), kModuleSize);
  const std::string grouped = Grouped(options.password);
  const BurnKeys keys = ApplyBurnEdits(expected, ChipModel::kPx300, options.new_mac, grouped);
  const auto burned_mac = MacAddress::Parse(options.new_mac);

  page.SetText(kNewMacEdit, options.new_mac);
  OnPageCommand(station, kBurnButton);
  ok = CheckText(page, kMacField, options.new_mac);
  ok &= CheckText(page, kPasswordField, grouped);
  const DerivedKey dak = DeviceAccessKey(grouped.c_str());
  ok &= CheckText(page, kDakField, HexBytes(dak.data(), dak.size(), ""));
  ok &= Check(BurnStatusTexts(page) == ExpectedBurnTexts(keys.checksum),
              "the burn's status texts, in order, from \"Burning...\" to \"Waiting...\"");
  ok &= Check(station.CommitConfirmed == 1, "the commit was confirmed");
  if (!ok) {
    PrintTranscript(page);
    return 1;
  }

  // The scan timer, on wall time, until the unit answers under the burned MAC.
  const auto deadline = WallClock::now() + std::chrono::seconds(20);
  int ticks = 0;
  while (page.GetText(kStatusLine, 80) != "Success" && WallClock::now() < deadline) {
    if (timer.TakeExpiry()) {
      OnScanTimer(station);
      ++ticks;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::fprintf(stderr, "veth-station: %d scan ticks after the burn\n", ticks);
  ok = CheckText(page, kStatusLine, "Success");
  ok &= Check(burned_mac && station.BurnedMac == *burned_mac, "BurnedMac is the looked-up MAC");
  ok &= CheckText(page, kMacField, burned_mac ? burned_mac->ToString() : "?");
  if (!ok) {
    PrintTranscript(page);
    return 1;
  }

  const auto flash = ReadFile(options.flash_path);
  ok = Check(flash && flash->size() == kModuleSize, "the simulator saved a 7864-byte flash");
  if (!ok) return 1;
  ParameterModule saved;
  std::memcpy(saved.bytes.data(), flash->data(), kModuleSize);
  Check(saved.bytes == expected.bytes, "the flash is the image read with the burn's edits");
  Check(burned_mac && saved.GetMacAddress() == *burned_mac, "the flash carries the new MAC");
  Check(saved.ImageChecksum() == ExpectedImageChecksum(saved), "the flash's checksum is valid");
  Check(std::memcmp(saved.bytes.data() + kCarrierValuesOffset, image->data() + kCarrierValuesOffset,
                    4 * kCarrierCount) == 0,
        "the PX300 carrier table is written back unchanged");
  // Byte by byte: where the flash differs from the unit's image, it is inside a burned field.
  const auto in_field = [](size_t offset, size_t start, size_t width) {
    return offset >= start && offset < start + width;
  };
  size_t changed = 0;
  bool only_fields = true;
  for (size_t i = 0; i < kModuleSize; ++i) {
    if (saved.bytes[i] == (*image)[i]) continue;
    ++changed;
    only_fields = only_fields && (in_field(i, kImageChecksumOffset, 4) ||
                                  in_field(i, kMacAddressOffset, 6) ||
                                  in_field(i, kDeviceAccessKeyOffset, kKeySize) ||
                                  in_field(i, kNetworkMembershipKeyOffset, kKeySize));
  }
  Check(only_fields, "only the checksum, MAC, DAK and NMK differ from the unit's image (" +
                         std::to_string(changed) + " bytes)");

  OnPageDeactivated(station);
  OnPageDestroyed(station);
  return g_failures == 0 ? 0 : 1;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  std::map<std::string_view, std::string*> fields = {
      {"--interface", &options->interface},   {"--workdir", &options->workdir},
      {"--image", &options->image_path},      {"--flash", &options->flash_path},
      {"--version-text", &options->version_text}, {"--new-mac", &options->new_mac},
      {"--password", &options->password}};
  std::string unit_mac;
  fields["--unit-mac"] = &unit_mac;
  if (argc % 2 == 0) return false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const auto field = fields.find(argv[i]);
    if (field == fields.end()) return false;
    *field->second = argv[i + 1];
  }
  const auto mac = MacAddress::Parse(unit_mac);
  if (!mac) return false;
  options->unit_mac = *mac;
  return !options->interface.empty() && !options->workdir.empty() && !options->image_path.empty() &&
         !options->flash_path.empty() && options->new_mac.size() == kMacTextLength &&
         options->password.size() == kPasswordLength;
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) {
  using namespace stampwright;
  if (argc == 5 && std::string_view(argv[1]) == "write-image") {
    const auto mac = MacAddress::Parse(argv[3]);
    if (!mac) return 2;
    return WriteImage(argv[2], *mac, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
  }
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: e2e_veth_station write-image FILE UNIT_MAC SEED\n"
                 "       e2e_veth_station --interface NAME --workdir DIR --image FILE --flash FILE\n"
                 "                        --unit-mac MAC --version-text TEXT --new-mac MAC12\n"
                 "                        --password PASSWORD16\n");
    return 2;
  }
  return Run(options);
}
