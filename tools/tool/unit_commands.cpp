// unit find|read|write|firmware|burn: a unit on one adapter, driven by the station's own core.
// Each subcommand builds a real Station over the pcap driver restricted to --interface, with a
// page that shows the status texts on stderr, and calls the station's operations: the version
// query and dispatcher, the module read, the burn's lookup, edits, chunk loop and commit, the
// firmware chunk loop. Nothing of the protocol is written here.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/file_handle.h"
#include "base/host_name.h"
#include "base/hex.h"
#include "base/text.h"
#include "bench_page.h"
#include "unit_arguments.h"
#include "commands.h"
#include "programming/carrier_table.h"
#include "programming/firmware_file.h"
#include "programming/mac_database.h"
#include "programming/parameter_module.h"
#include "protocol/confirmations.h"
#include "protocol/management_message.h"
#include "resources/controls.h"
#include "settings/preferences.h"
#include "station/burn_verify.h"
#include "station/mac_lookup.h"
#include "station/station.h"
#include "station/timer.h"
#include "transport/adapter_set.h"
#include "transport/arp_flush.h"
#include "transport/capturing_driver.h"
#include "transport/clock.h"
#include "transport/pcap/pcap_driver.h"
#include "transport/pcapng_file.h"

namespace stampwright::tool {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kAdapter = 0;  // the set holds the one --interface adapter

// The scan timer is never started on a bench: nothing here runs the scan cycle.
class IdleTimer final : public Timer {
 public:
  void Start(uint32_t) override {}
  void Stop() override {}
  bool IsActive() const override { return false; }
};

// One line; bytes that are not UTF-8 (a unit's version text may hold any) become U+FFFD.
std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Hex12(const MacAddress& mac) { return HexBytes(mac.octets.data(), mac.octets.size(), ""); }

// One station on the one adapter, and the way a run ends.
class Bench {
 public:
  explicit Bench(const Arguments& args)
      : args_(args), prefix_(Prefix(*args.spec)), page_(prefix_), pcap_({args.interface}) {}

  // The adapter opened and the station built on it; false after the failure line.
  bool Open() {
    PacketDriver* driver = &pcap_;
    if (args_.capture) {
      std::string error;
      capture_ = PcapngFile::Open(*args_.capture, &error);
      if (!capture_) return Fail("capture", error);
      capturing_ = std::make_unique<CapturingDriver>(pcap_, *capture_);
      driver = capturing_.get();
    }
    StationSettings settings;
    settings.oui = args_.oui;
    settings.mac_prefix = args_.mac_prefix;
    settings.database_file = args_.database;
    // A unit found here is never read behind the subcommand's back.
    settings.auto_read = false;
    station_ = std::make_unique<Station>(page_, *driver, clock_, timer_, arp_flush_,
                                         DefaultPreferences(), settings);
    if (station_->OpenAdapters() != 1) {
      const std::string diagnostic = driver->Diagnostic();
      return Fail("open", diagnostic.empty() ? "no usable Ethernet adapter named '" +
                                                   args_.interface +
                                                   "' (missing, down or not Ethernet)"
                                             : diagnostic);
    }
    return true;
  }

  // The unit at --mac answered and is the adapter's unit; false after the failure line.
  bool Locate() {
    if (station_->WaitForUnit(kAdapter, *args_.mac, args_.timeout_ms)) return true;
    return Fail("find", "no unit answered as " + args_.mac->ToString() + " on " +
                            args_.interface + " within " + std::to_string(args_.timeout_ms) +
                            " ms");
  }

  // The one failure line (with the last message box, when one was shown) and the JSON verdict.
  bool Fail(const std::string& step, std::string why) {
    if (!page_.LastBox().empty() && why.find(page_.LastBox()) == std::string::npos) {
      why += " (last message: " + page_.LastBox() + ")";
    }
    std::fprintf(stderr, "%s: %s failed: %s\n", prefix_.c_str(), step.c_str(), why.c_str());
    if (args_.json) {
      Json out;
      out["ok"] = false;
      out["step"] = step;
      out["error"] = why;
      std::printf("%s\n", Dump(out).c_str());
    }
    return false;
  }

  int Failed(const std::string& step, std::string why) {
    Fail(step, std::move(why));
    return kExitFailure;
  }

  // Has the unit commit the module; false after the failure line when it did not confirm.
  bool Commit(uint8_t module_id) {
    if (station_->CommitModule(module_id)) return true;
    return Fail("commit", "the unit did not confirm the commit of module " +
                              std::to_string(module_id));
  }

  void Print(const Json& out, const std::string& text) {
    if (args_.json) {
      Json verdict = {{"ok", true}};
      verdict.update(out);
      std::printf("%s\n", Dump(verdict).c_str());
    } else {
      std::fputs(text.c_str(), stdout);
    }
  }

  Station& station() { return *station_; }
  BenchPage& page() { return page_; }
  Clock& clock() { return clock_; }
  const Arguments& args() const { return args_; }

 private:
  const Arguments& args_;
  std::string prefix_;
  BenchPage page_;
  PcapDriver pcap_;
  std::unique_ptr<PcapngFile> capture_;
  std::unique_ptr<CapturingDriver> capturing_;
  SystemClock clock_;
  IdleTimer timer_;
  RtnetlinkArpFlush arp_flush_;
  std::unique_ptr<Station> station_;
};

const char* ChipTypeName(uint8_t chip_type) {
  switch (chip_type) {
    case kChipTypePx300: return "PX300";
    case kChipTypePx100: return "PX100";
    default: return "other";
  }
}

int RunFind(Bench& bench) {
  const Arguments& args = bench.args();
  const auto units = bench.station().ListUnits(kAdapter, args.timeout_ms);
  if (units.empty()) {
    return bench.Failed("find", "no unit answered on " + args.interface + " within " +
                                    std::to_string(args.timeout_ms) + " ms");
  }
  Json list = Json::array();
  std::string text;
  for (const AnsweringUnit& unit : units) {
    list.push_back({{"mac", unit.mac.ToString()},
                    {"chip", ChipTypeName(unit.chip_type)},
                    {"firmware", unit.firmware}});
    text += unit.mac.ToString() + "  " + ChipTypeName(unit.chip_type) + "  " + unit.firmware + "\n";
  }
  bench.Print({{"interface", args.interface}, {"units", list}}, text);
  return kExitOk;
}

bool WriteModuleFile(const std::string& path, const ParameterModule& module, std::string* error) {
  std::FILE* raw = std::fopen(path.c_str(), "wb");
  if (raw == nullptr) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  const size_t put = std::fwrite(module.bytes.data(), 1, module.bytes.size(), raw);
  const bool closed = std::fclose(raw) == 0;
  if (put != module.bytes.size() || !closed) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// A module file as `unit write` takes it: exactly 7864 bytes carrying a valid image checksum.
std::optional<ParameterModule> ReadModuleFile(const std::string& path, std::string* error) {
  std::optional<ParameterModule> read = ReadImage(path.c_str(), error);
  if (!read) return std::nullopt;
  const ParameterModule& module = *read;
  if (module.ImageChecksum() != ExpectedImageChecksum(module)) {
    *error = FormatText("%s carries checksum %08x but its bytes give %08x", path.c_str(),
                        module.ImageChecksum(), ExpectedImageChecksum(module));
    return std::nullopt;
  }
  return module;
}

// After a read: the chip and class ("PX300 Class B", "Other"), or nothing when the read did not
// complete.
std::optional<std::string> ReadOutcome(const Station& station) {
  if (station.shown().module_class.empty()) return std::nullopt;
  return station.shown().module_class;
}

// Why a read ended short: the station's Fail text, and what the chunk loop gave up on.
std::string StalledRead(Bench& bench) {
  std::string why = bench.page().Text(kStatusLine);
  if (bench.page().LastBox().empty()) {
    why += FormatText(" (no confirmation of the chunk at offset %d after %u requests)",
                      static_cast<int>(bench.station().read_offset()),
                      kChunkSendLimit);
  }
  return why;
}

int RunRead(Bench& bench) {
  const Arguments& args = bench.args();
  Station& station = bench.station();
  if (!bench.Locate()) return kExitFailure;
  station.ReadModule();  // neither chip model selected: nothing to refuse
  const std::optional<std::string> module_class = ReadOutcome(station);
  if (!module_class) return bench.Failed("read", StalledRead(bench));
  std::string error;
  if (!WriteModuleFile(*args.output, station.module(), &error)) {
    return bench.Failed("save", error);
  }
  const uint32_t stored = station.module().ImageChecksum();
  const uint32_t computed = ExpectedImageChecksum(station.module());
  if (stored != computed) {
    return bench.Failed("checksum", FormatText("the module carries checksum %08x but its bytes "
                                               "give %08x; %s holds it as read", stored, computed,
                                               args.output->c_str()));
  }
  const std::string mac = station.module().GetMacAddress().ToString();
  bench.Print({{"mac", args.mac->ToString()},
               {"module", *module_class},
               {"module_mac", mac},
               {"checksum", FormatText("%08x", stored)},
               {"file", *args.output},
               {"bytes", kModuleSize}},
              "unit: " + args.mac->ToString() + "\nmodule: " + *module_class +
                  "\nmodule MAC: " + mac + "\nchecksum: " + FormatText("%08x", stored) +
                  " (valid)\nwritten: " + *args.output + " (7864 bytes)\n");
  return kExitOk;
}

int RunWrite(Bench& bench, const ParameterModule& image) {
  const Arguments& args = bench.args();
  Station& station = bench.station();
  if (!bench.Locate()) return kExitFailure;
  if (!station.WriteModuleImage(image)) {
    return bench.Failed("write", FormatText("Write Module - offset: %d",
                                          static_cast<int>(station.write_offset())));
  }
  if (!args.no_commit && !bench.Commit(static_cast<uint8_t>(kModuleIdParameter))) return kExitFailure;
  bench.Print({{"mac", args.mac->ToString()},
               {"file", *args.file},
               {"bytes", kModuleSize},
               {"committed", !args.no_commit}},
              "written: " + *args.file + " (7864 bytes) to " + args.mac->ToString() +
                  (args.no_commit ? ", not committed\n" : ", committed\n"));
  return kExitOk;
}

int RunFirmware(Bench& bench, std::unique_ptr<uint8_t[]> image, size_t length) {
  const Arguments& args = bench.args();
  Station& station = bench.station();
  if (!bench.Locate()) return kExitFailure;
  bench.page().SetText(kStatusLine, FormatText("File bytes: %d", static_cast<int>(length)));
  const bool written = station.WriteFirmwareImage(image.get(), length);
  image.reset();
  if (!written) {
    return bench.Failed("write", FormatText("Write Module - offset: %d of %d",
                                          static_cast<int>(station.write_offset()),
                                          static_cast<int>(length)));
  }
  bench.page().SetText(kStatusLine, "FW Write Module - OK");
  if (!bench.Commit(static_cast<uint8_t>(kModuleIdFirmware))) return kExitFailure;
  bench.Print({{"mac", args.mac->ToString()}, {"file", *args.file}, {"bytes", length}},
              "firmware: " + *args.file + " (" + std::to_string(length) + " bytes) to " +
                  args.mac->ToString() + ", committed\n");
  return kExitOk;
}

int RunBurn(Bench& bench) {
  const Arguments& args = bench.args();
  Station& station = bench.station();
  BenchPage& page = bench.page();
  if (!bench.Locate()) return kExitFailure;

  // The chip model the station has selected decides, as on the page, whether Burn is enabled.
  page.Check(kPx300Radio, args.chip == ChipModel::kPx300);
  page.Check(kPx100Radio, args.chip == ChipModel::kPx100);
  station.ReadModule();
  if (!ReadOutcome(station)) return bench.Failed("read", StalledRead(bench));
  if (!page.IsEnabled(kBurnButton)) {
    return bench.Failed("read", page.Text(kStatusLine) + " does not fit the chip model selected");
  }

  page.ForgetBoxes();
  page.SetText(kNewMacEdit, Hex12(*args.new_mac));
  // Recorded like the station's own burns: the tool runs the station's Burn, with its lookup,
  // guard, opening record before the first module frame, commit and return watch.
  std::unique_ptr<Journal> journal;
  const auto unlink_journal = [&station] { station.LinkJournal(JournalLink{}); };
  if (args.journal != kNoJournalTarget) {
    OpenedJournal opened = OpenJournal(args.journal);
    if (!opened.journal) return bench.Failed("journal", args.journal + ": " + opened.status.error);
    journal = std::move(opened.journal);
    JournalLink link;
    link.enabled = true;
    link.journal = journal.get();
    link.station_name = HostName();
    station.LinkJournal(std::move(link));
  }
  struct Unlink {
    std::function<void()> run;
    ~Unlink() { run(); }
  } unlink{unlink_journal};
  std::optional<Outcome> refused;
  station.SetOnRefused([&refused](Outcome reason) { refused = reason; });
  station.Burn();
  station.SetOnRefused(nullptr);
  if (refused == Outcome::kLookupFailed) {
    page.ForgetBoxes();  // the box's words are the station's; the line below says more
    MacLookupOptions lookup;
    if (!station.settings().mac_prefix.empty()) lookup.mac_prefix = station.settings().mac_prefix;
    lookup.database_path = station.settings().database_file;
    if (SearchMacDatabase(Hex12(*args.new_mac), lookup).status == MacSearchStatus::kCannotOpen) {
      return bench.Failed("lookup", OpenErrorText(args.database));
    }
    return bench.Failed("lookup", "MAC " + Hex12(*args.new_mac) + " is not in " + args.database);
  }
  if (refused) return bench.Failed("journal", page.LastBox());
  if (station.write_offset() != kModuleSize) {
    return bench.Failed("write", FormatText("Write Module - offset: %d",
                                          static_cast<int>(station.write_offset())));
  }
  if (!station.commit_answered()) {
    return bench.Failed("commit", "the unit did not confirm the commit");
  }

  const ParameterModule written = station.module();
  const MacAddress burned = station.burned_mac();
  const uint32_t commit_tick = bench.clock().TickCount();
  // The Burn's return watch has the dispatcher verify the returned unit's module before it
  // records "success"; a unit that never answers is recorded as not returned.
  const bool returned = station.WaitForUnit(kAdapter, burned, args.return_timeout_ms);
  if (!returned) station.EndReturnWatch();
  if (returned && station.verify_failed()) {
    return bench.Failed("verify", page.LastBox());
  }
  if (!returned) {
    return bench.Failed("return", "the unit did not answer as " + burned.ToString() + " within " +
                                    std::to_string(args.return_timeout_ms) + " ms");
  }
  const uint32_t returned_ms = ElapsedMs(commit_tick, bench.clock().TickCount());

  ParameterModule read_back{};
  if (!station.ReadModuleImage(read_back)) {
    return bench.Failed("verify", FormatText("the read-back stopped at offset %d",
                                           static_cast<int>(station.read_offset())));
  }
  if (const auto difference = FirstBurnedFieldDifference(written, read_back)) {
    return bench.Failed("verify", FormatText("the module read back differs from the one written at "
                                           "offset %zu (%s)", difference->offset,
                                           difference->field));
  }
  const std::string password = station.shown().password;
  const std::string dak = station.shown().dak;
  const std::string nmk = station.shown().nmk;
  const std::string checksum = FormatText("%08x", written.ImageChecksum());
  bench.Print({{"mac", args.mac->ToString()},
               {"new_mac", burned.ToString()},
               {"password", password},
               {"dak", dak},
               {"nmk", nmk},
               {"checksum", checksum},
               {"returned_ms", returned_ms},
               {"verified", true}},
              "burned: " + args.mac->ToString() + " -> " + burned.ToString() +
                  "\npassword: " + password + "\nDAK: " + dak + "\nNMK: " + nmk +
                  "\nchecksum: " + checksum + "\nreturned after " + std::to_string(returned_ms) +
                  " ms; module read back and verified\n");
  return kExitOk;
}

}  // namespace

int RunUnit(int argc, char** argv) {
  if (argc < 2) {
    PrintUnitUsage(stderr);
    return kExitUsage;
  }
  const SubSpec* spec = FindSub(argv[1]);
  if (spec == nullptr) {
    std::fprintf(stderr, "stampwright-tool unit: unknown subcommand \"%s\"\n", argv[1]);
    PrintUnitUsage(stderr);
    return kExitUsage;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintSubUsage(stdout, *spec);
      return kExitOk;
    }
  }
  Arguments args;
  args.spec = spec;
  if (const auto usage = ParseArguments(argc - 1, argv + 1, &args)) return *usage;

  // What is wrong with a file is said before anything is sent to the unit.
  Bench bench(args);
  std::optional<ParameterModule> module;
  std::unique_ptr<uint8_t[]> firmware;
  size_t firmware_length = 0;
  std::string error;
  if (spec->sub == Sub::kWrite) {
    module = ReadModuleFile(*args.file, &error);
    if (!module) return bench.Failed("check", error);
  } else if (spec->sub == Sub::kFirmware) {
    firmware = std::make_unique<uint8_t[]>(kFirmwareImageSize);
    switch (ReadFirmwareFile(*args.file, firmware.get(), &firmware_length)) {
      case FirmwareReadResult::kOk: break;
      case FirmwareReadResult::kCannotOpen:
        return bench.Failed("check", "cannot open " + *args.file + ": " + std::strerror(errno));
      case FirmwareReadResult::kNotAFile:
        return bench.Failed("check", *args.file + " is not a regular file");
      case FirmwareReadResult::kTooLarge:
        return bench.Failed("check", *args.file + " is larger than 542248 bytes, the largest "
                                                "firmware the station sends");
      case FirmwareReadResult::kReadError:
        return bench.Failed("check", "cannot read " + *args.file + ": " + std::strerror(errno));
    }
    // Committing an empty firmware would leave the unit without one.
    if (firmware_length == 0) return bench.Failed("check", *args.file + " is empty");
  }

  if (!bench.Open()) return kExitFailure;
  switch (spec->sub) {
    case Sub::kFind: return RunFind(bench);
    case Sub::kRead: return RunRead(bench);
    case Sub::kWrite: return RunWrite(bench, *module);
    case Sub::kFirmware: return RunFirmware(bench, std::move(firmware), firmware_length);
    case Sub::kBurn: return RunBurn(bench);
  }
  return kExitFailure;
}

}  // namespace stampwright::tool
