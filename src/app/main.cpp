// The program entry: options, working directory, preferences, the single-instance rule, then the
// packet driver and the chosen front end.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "app/demo.h"
#include "app/front_end.h"
#include "app/label_desk.h"
#include "app/mes_link.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "base/file_handle.h"
#include "base/host_name.h"
#include "base/regular_file.h"
#include "base/work_directory.h"
#include "journal/journal.h"
#include "journal/postgresql/pg_connection.h"
#include "programming/mac_database.h"
#include "settings/preferences.h"
#include "settings/state_file.h"
#include "transport/capturing_driver.h"
#include "transport/pcap/pcap_driver.h"
#include "transport/pcapng_file.h"

namespace stampwright {
namespace {

void PrintError(const std::string& text) { std::fprintf(stderr, "stampwright: %s\n", text.c_str()); }

// The demo's temporary directory also goes when the program is interrupted: the files it can
// hold are known, and unlink and rmdir are safe in a signal handler.
struct InterruptCleanup {
  std::array<std::array<char, 4096>, 5> files{};
  std::array<char, 4096> directory{};
};
InterruptCleanup g_cleanup;

extern "C" void RemoveDemoDirectoryAndExit(int signal_number) {
  for (const auto& file : g_cleanup.files) {
    if (file[0] != '\0') ::unlink(file.data());
  }
  if (g_cleanup.directory[0] != '\0') ::rmdir(g_cleanup.directory.data());
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

bool CopyPath(const std::filesystem::path& path, std::array<char, 4096>& into) {
  const std::string text = path.string();
  if (text.size() >= into.size()) return false;
  std::memcpy(into.data(), text.c_str(), text.size() + 1);
  return true;
}

// journal_file: the journal's file when it lies in the directory (with its -wal and -shm).
void RemoveOnInterrupt(const std::filesystem::path& directory, const std::string& state_file,
                       const std::string& journal_file) {
  if (!CopyPath(directory, g_cleanup.directory) ||
      !CopyPath(directory / std::string(kDefaultMacDatabasePath), g_cleanup.files[0]) ||
      !CopyPath(directory / state_file, g_cleanup.files[1])) {
    return;
  }
  if (!journal_file.empty()) {
    const char* suffixes[] = {"", "-wal", "-shm"};
    for (size_t i = 0; i < 3; ++i) {
      if (!CopyPath(directory / (journal_file + suffixes[i]), g_cleanup.files[2 + i])) return;
    }
  }
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signal_number, RemoveDemoDirectoryAndExit);
  }
}

#ifdef STAMPWRIGHT_WITH_WINDOW
// The window needs a display; say what to do instead of letting the toolkit abort.
bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}
#endif

// Opens every adapter once, before the page exists, so that a missing permission is known and
// said at start rather than showing up only as "No Device".
std::string ProbeAdapters(PcapDriver& driver, const std::vector<std::string>& wanted) {
  const std::optional<std::vector<std::string>> names = driver.EnumerateAdapters();
  if (names) {
    for (const std::string& name : wanted) {
      if (std::find(names->begin(), names->end(), name) == names->end()) {
        PrintError("no usable Ethernet adapter named '" + name + "' (missing, down or not Ethernet)");
      }
    }
    if (names->empty()) PrintError("no Ethernet adapter to scan; the page will show \"No Device\"");
    for (const std::string& name : *names) {
      const PacketDriver::Handle handle = driver.OpenAdapter(name);
      if (handle != PacketDriver::kInvalidHandle) driver.CloseAdapter(handle);
    }
  }
  return driver.Diagnostic();
}

// A standard descriptor the caller left closed would be taken by the next file opened, and the
// JSON events written to stdout would land in, say, the state file.
void OpenMissingStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      if (::open("/dev/null", O_RDWR) != fd) std::_Exit(1);
    }
  }
}

// --help, --version and a front end this build or this session cannot show: the exit code, or
// nothing when the station is to start.
std::optional<int> AnswerWithoutStation(const Options& options) {
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }
#ifndef STAMPWRIGHT_WITH_WINDOW
  if (!options.headless) {
    PrintError("this build has no window; use --headless");
    return kBadOptionsExitCode;
  }
#else
  if (!options.headless && !DisplayAvailable()) {
    PrintError("no display to open the window on; run under xvfb-run, or use --headless");
    return 1;
  }
#endif
  return std::nullopt;
}

// path made absolute and without symbolic links, once it is a directory the program can take
// its files in (as a chdir into it would have checked it); else why not.
std::optional<std::string> UsableDirectory(const std::filesystem::path& path, std::string* why) {
  struct stat info {};
  int error = 0;
  if (::stat(path.c_str(), &info) != 0) {
    error = errno;
  } else if (!S_ISDIR(info.st_mode)) {
    error = ENOTDIR;
  } else if (::access(path.c_str(), X_OK) != 0) {
    error = errno;
  }
  if (error != 0) {
    *why = std::strerror(error);
    return std::nullopt;
  }
  std::error_code failed;
  const std::filesystem::path found = std::filesystem::canonical(path, failed);
  if (failed) {
    *why = failed.message();
    return std::nullopt;
  }
  return found.string();
}

// The directory every relative file name is taken in: --workdir, or a fresh temporary directory
// for a demo without one, or empty (the process's own). Absolute and without symbolic links, so
// that it names the same place whatever happens to the process's working directory. The exit
// code when there is none to be had.
std::optional<int> ChooseWorkingDirectory(const Options& options,
                                          std::optional<TemporaryDirectory>& demo_directory,
                                          std::string& workdir) {
  std::string why;
  if (options.workdir) {
    const std::optional<std::string> found = UsableDirectory(*options.workdir, &why);
    if (!found) {
      PrintError("cannot change into --workdir '" + *options.workdir + "': " + why);
      return kBadOptionsExitCode;
    }
    workdir = *found;
  }
  if (options.demo && !options.workdir) {
    demo_directory = TemporaryDirectory::Create("stampwright-demo-");
    if (!demo_directory) why = std::strerror(errno);
    const std::optional<std::string> found =
        demo_directory ? UsableDirectory(demo_directory->path(), &why) : std::nullopt;
    if (!found) {
      PrintError("cannot make the demo's working directory: " + why);
      return 1;
    }
    workdir = *found;
  }
  return std::nullopt;
}

// A second copy says so through the front end it was asked for.
void ShowRefusal(int argc, char** argv, const Options& options, const Preferences& preferences) {
  const std::string text = InstanceRefusalText(preferences.ProductNameText());
  if (options.headless) {
    ShowHeadlessRefusal(text);
  } else {
#ifdef STAMPWRIGHT_WITH_WINDOW
    ShowWindowRefusal(argc, argv, text);
#else
    (void)argc;
    (void)argv;
#endif
  }
}

StationSettings SettingsFrom(const Options& options, const std::string& workdir) {
  StationSettings settings;
  settings.workdir = workdir;
  settings.full_waits = options.full_waits;
  settings.classic = options.classic;
  if (options.oui) settings.oui = *options.oui;
  settings.mac_prefix = options.mac_prefix;
  return settings;
}

// Where frames come from: the demo's simulated unit or the real adapters; with several bays,
// one driver for each bay's adapter.
struct PacketSource {
  std::unique_ptr<DemoBench> bench;
  std::unique_ptr<PcapDriver> pcap;
  PacketDriver* driver = nullptr;
  std::vector<std::unique_ptr<DemoBench>> bay_benches;
  std::vector<std::unique_ptr<PcapDriver>> bay_drivers;
  std::vector<std::string> bay_names;
  std::vector<PacketDriver*> bay_packet_drivers;
};

PacketSource OpenDemoBench(const Options& options, const Preferences& preferences,
                           const StationSettings& settings, bool temporary_directory, Clock& clock) {
  const std::string mac_prefix =
      options.mac_prefix.empty() ? std::string(kDefaultMacPrefix) : options.mac_prefix;
  const std::filesystem::path workdir = settings.workdir;
  if (temporary_directory) {
    const bool journal_here = options.journal != kNoJournalTarget &&
                              options.journal.find('/') == std::string::npos;
    RemoveOnInterrupt(workdir, StateFileName(preferences.ProductNameText()),
                      journal_here ? options.journal : std::string());
  }
  const int bays = options.demo_bays;
  const SeedResult seed =
      SeedDemoDatabase(workdir / std::string(kDefaultMacDatabasePath), mac_prefix, bays);
  std::fputs(DemoIntroduction(workdir, mac_prefix, seed, bays).c_str(), stderr);
  PacketSource source;
  source.bench = std::make_unique<DemoBench>(clock, mac_prefix, settings.oui);
  source.driver = &source.bench->driver();
  if (bays > 1) {
    for (int bay = 1; bay <= bays; ++bay) {
      source.bay_benches.push_back(std::make_unique<DemoBench>(clock, mac_prefix, settings.oui, bay));
      source.bay_names.push_back(DemoAdapterName(bay));
      source.bay_packet_drivers.push_back(&source.bay_benches.back()->driver());
    }
  }
  return source;
}

// The hardware path an adapter hangs on (its USB port), for ordering the bays as they are cabled.
std::string HardwarePathOf(const std::string& name) {
  std::error_code failed;
  const std::filesystem::path device =
      std::filesystem::canonical("/sys/class/net/" + name + "/device", failed);
  return failed ? std::string() : device.string();
}

// The bays' adapters: --bay in the order given, or with --gang every usable Ethernet adapter in
// the order of its hardware path, then its name.
std::vector<std::string> BayAdapters(const Options& options) {
  if (!options.gang) return options.bays;
  PcapDriver all(std::vector<std::string>{});
  std::vector<std::string> names = all.EnumerateAdapters().value_or(std::vector<std::string>{});
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string path_a = HardwarePathOf(a);
    const std::string path_b = HardwarePathOf(b);
    return path_a != path_b ? path_a < path_b : a < b;
  });
  return names;
}

PacketSource OpenRealAdapters(int argc, char** argv, const Options& options) {
  PacketSource source;
  std::vector<std::string> interfaces = options.interfaces;
  const std::vector<std::string> bays = BayAdapters(options);
  if (options.gang && bays.empty()) PrintError("--gang: no Ethernet adapter is up");
  // One bay is the station of the page, on that adapter alone.
  if (bays.size() == 1) interfaces = bays;
  if (bays.size() > 1) {
    for (const std::string& name : bays) {
      source.bay_drivers.push_back(std::make_unique<PcapDriver>(std::vector<std::string>{name}));
      source.bay_drivers.back()->SetReuseHandles(!options.classic);
      source.bay_names.push_back(name);
      source.bay_packet_drivers.push_back(source.bay_drivers.back().get());
    }
    interfaces = bays;
  }
  source.pcap = std::make_unique<PcapDriver>(interfaces);
  source.pcap->SetReuseHandles(!options.classic);
  source.driver = source.pcap.get();
  const std::string diagnostic = ProbeAdapters(*source.pcap, interfaces);
  if (!diagnostic.empty()) {
    PrintError(diagnostic);
#ifdef STAMPWRIGHT_WITH_WINDOW
    if (!options.headless) ShowWindowRefusal(argc, argv, diagnostic);
#else
    (void)argc;
    (void)argv;
#endif
  }
  return source;
}

// Opens the journal at target into owner and closes this station's attempts that a kill or a
// power cut left open: empty, or why it could not be opened.
std::string OpenJournalInto(const std::string& target, const std::string& station,
                            const std::string& workdir, std::unique_ptr<Journal>& owner,
                            const MesLink* mes, int bay) {
  OpenedJournal opened = OpenJournal(target, station, workdir);
  // With --mes, the close of interrupted attempts below is reported too.
  if (opened.journal && mes != nullptr) {
    if (std::optional<std::string> error = mes->Attach(*opened.journal, bay)) return *error;
  }
  int closed = 0;
  if (opened.journal) opened.status = opened.journal->CloseInterrupted(station, UtcNowMs(), &closed);
  if (!opened.status.ok()) return opened.status.error;
  if (closed > 0) {
    PrintError("journal: " + std::to_string(closed) + " attempt(s) left open were closed as interrupted");
  }
  owner = std::move(opened.journal);
  owner->SetConnectionObserver([](bool connected, const std::string& text) {
    PrintError(ConnectionChangeText(connected, text));
  });
  return {};
}

// Opens the journal --journal names. One that cannot be opened is said here, refuses Burn and
// Browse, and is tried again at each of them and on every scan tick: a disk that was full or
// read-only at start must not need a restart once it is fixed.
JournalLink OpenStationJournal(const Options& options, const std::string& workdir,
                               std::unique_ptr<Journal>& owner, const MesLink* mes = nullptr,
                               int bay = 1) {
  JournalLink link;
  link.station_name = options.station.empty() ? HostName() : options.station;
  if (options.journal == kNoJournalTarget) {
    PrintError("--journal none: no production journal and no duplicate guard");
    return link;
  }
  link.enabled = true;
  link.open_error = OpenJournalInto(options.journal, link.station_name, workdir, owner, mes, bay);
  if (link.open_error.empty()) {
    link.journal = owner.get();
    return link;
  }
  PrintError("journal error: " + link.open_error + "; Burn and Browse are refused");
  link.reopen = [target = options.journal, workdir, &owner, mes, bay](JournalLink& reopened) {
    const std::string error =
        OpenJournalInto(target, reopened.station_name, workdir, owner, mes, bay);
    if (!error.empty()) {
      reopened.open_error = error;
      return;
    }
    reopened.journal = owner.get();
    reopened.open_error.clear();
    PrintError("journal " + target + " opened; Burn and Browse are allowed again");
  };
  return link;
}

// The pool and the labels: the desk with its own journal connection (reads, and the label
// records), the pool sorted by the journal's records. Null when neither is asked for; an error
// ends the start.
struct LabelParts {
  std::unique_ptr<Journal> journal;
  std::unique_ptr<LabelDesk> desk;
};

std::optional<std::string> ReadTextFile(const std::string& path, std::string* text) {
  FileHandle file = OpenRegularFile(path, "r");
  if (!file) return "cannot read " + path;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text->append(buffer, got);
    if (text->size() > 1024 * 1024) return path + " is too large for a label template";
  }
  return std::nullopt;
}

std::optional<std::string> OpenLabels(const Options& options, const std::string& workdir,
                                      int bays, LabelParts& parts) {
  if (!options.pool_source && options.label_printer.empty()) return std::nullopt;
  LabelSettings settings;
  settings.source = options.pool_source ? MacSource::kPool : MacSource::kLabel;
  settings.pool_confirm = options.pool_confirm;
  settings.pool_warn = options.pool_warn;
  settings.scan_back = options.label_scan_back;
  settings.station = options.station.empty() ? HostName() : options.station;
  if (!options.mac_prefix.empty()) settings.mac_prefix = options.mac_prefix;
  settings.database_path = InDirectory(workdir, std::string(kDefaultMacDatabasePath));
  if (!options.label_printer.empty()) {
    settings.printer = std::get<PrinterTarget>(ParsePrinterTarget(options.label_printer));
  }
  if (!options.label_template.empty()) {
    std::string text;
    if (auto error = ReadTextFile(InDirectory(workdir, options.label_template), &text)) {
      return "--label-template: " + *error;
    }
    auto parsed = LabelTemplate::Parse(text);
    if (const auto* error = std::get_if<std::string>(&parsed)) return "--label-template: " + *error;
    settings.label = std::get<LabelTemplate>(std::move(parsed));
  }
  if (options.journal != kNoJournalTarget) {
    OpenedJournal opened = OpenJournal(options.journal, {}, workdir);
    if (!opened.status.ok()) return "the labels' journal: " + opened.status.error;
    parts.journal = std::move(opened.journal);
  } else {
    PrintError("--journal none: labels are printed but not recorded");
  }
  std::unique_ptr<MacPool> pool;
  if (options.pool_source) {
    std::vector<MacRange> ranges;
    std::string error;
    std::vector<std::pair<int64_t, int64_t>> leases;
    const JournalStatus leased = options.pool.empty()
                                     ? parts.journal->LiveLeases(settings.station, UtcNowMs(), &leases)
                                     : JournalStatus{};
    if (!options.pool.empty()) {
      ranges.push_back(*ParseMacRange(options.pool, &error));
    } else if (leased.ok()) {
      if (leases.empty()) return "--mac-source pool: station " + settings.station + " has no live lease";
      for (const auto& [first, last] : leases) {
        ranges.push_back({static_cast<uint64_t>(first), static_cast<uint64_t>(last)});
      }
    } else if (options.demo) {
      // The demo on a journal file: its own database's MACs.
      const std::vector<DemoRecord> records = DemoRecords(settings.mac_prefix, bays);
      const auto number = [](const std::string& mac) { return MacAddress::Parse(mac)->ToNumber(); };
      ranges.push_back({number(records.front().mac_text), number(records.back().mac_text)});
    } else {
      return "--mac-source pool: " + leased.error;
    }
    std::set<uint64_t> in_database;
    if (!ReadPoolDatabase(settings.database_path, settings.mac_prefix, ranges, &in_database)) {
      return "--mac-source pool: cannot read " + std::string(kDefaultMacDatabasePath);
    }
    std::vector<JournalRecord> records;
    if (const JournalStatus status = parts.journal->Read({}, &records); !status.ok()) {
      return "--mac-source pool: " + status.error;
    }
    pool = std::make_unique<MacPool>(std::move(ranges), std::move(in_database));
    pool->Load(records);
    const PoolCounts counts = pool->Counts();
    std::fprintf(stderr,
                 "stampwright: MAC pool: %zu free, %zu burned, %zu scrapped, %zu held, %zu not in "
                 "cam.dbr\n",
                 counts.free, counts.burned, counts.scrapped, counts.held, counts.missing);
  }
  parts.desk = std::make_unique<LabelDesk>(std::move(settings), std::move(pool),
                                           parts.journal.get(), bays);
  return std::nullopt;
}

int RunFrontEnd(int argc, char** argv, const Options& options, FrontEndEnvironment& environment) {
  if (options.headless) return RunHeadlessFrontEnd(argc, argv, environment);
#ifdef STAMPWRIGHT_WITH_WINDOW
  return RunWindowFrontEnd(argc, argv, environment);
#else
  return 0;
#endif
}

int Run(int argc, char** argv) {
  OpenMissingStandardDescriptors();
  // A reader of stdout or stderr that goes away must never end the station mid-burn or before
  // its state file is written: a failed write is seen and handled where it happens instead.
  std::signal(SIGPIPE, SIG_IGN);
  auto parsed = ParseOptions(argc, argv);
  if (const auto* error = std::get_if<OptionsError>(&parsed)) {
    PrintError(error->message);
    std::fputs("Try 'stampwright --help'.\n", stderr);
    return kBadOptionsExitCode;
  }
  const Options& options = std::get<Options>(parsed);
  if (const std::optional<int> code = AnswerWithoutStation(options)) return *code;
  std::optional<TemporaryDirectory> demo_directory;
  std::string workdir;
  if (const std::optional<int> code = ChooseWorkingDirectory(options, demo_directory, workdir)) {
    return *code;
  }

  const Preferences preferences = LoadPreferences(kPreferencesFileName, stderr, workdir);
  const InstanceGuard instance = InstanceGuard::Acquire();
  if (!instance.IsFirst()) {
    PrintError(InstanceRefusalNote(instance));
    ShowRefusal(argc, argv, options, preferences);
    return 0;
  }

  // Opened once this copy is known to be the only one, so that a refused second copy leaves the
  // capture alone; a relative name lands in --workdir.
  std::unique_ptr<PcapngFile> capture;
  if (options.capture) {
    std::string error;
    capture = PcapngFile::Open(InDirectory(workdir, *options.capture), &error);
    if (!capture) {
      PrintError(error);
      return kBadOptionsExitCode;
    }
  }

  const StationSettings settings = SettingsFrom(options, workdir);
  SystemClock clock;
  PacketSource source = options.demo ? OpenDemoBench(options, preferences, settings,
                                                     demo_directory.has_value(), clock)
                                     : OpenRealAdapters(argc, argv, options);
  std::unique_ptr<CapturingDriver> capturing;
  if (capture) {
    capturing = std::make_unique<CapturingDriver>(*source.driver, *capture);
    source.driver = capturing.get();
  }
  // The MES outbox lives in the SQLite file every journal change passes through (the journal's
  // own, or a line station's local outbox), so that a message commits with its change.
  std::unique_ptr<MesLink> mes;
  if (!options.mes.empty()) {
    if (options.journal == kNoJournalTarget) {
      PrintError("--mes needs the station's journal (--journal)");
      return kBadOptionsExitCode;
    }
    MesSettings mes_settings;
    mes_settings.url = options.mes;
    const std::string station = options.station.empty() ? HostName() : options.station;
    mes_settings.handle =
        options.cfx_handle.empty() ? "Stampwright.Station." + station : options.cfx_handle;
    mes_settings.heartbeat_seconds = options.mes_heartbeat;
    mes_settings.gzip = options.mes_gzip;
    std::string error;
    const std::string outbox = IsPgTarget(options.journal) ? kPgOutboxFile : options.journal;
    mes = MesLink::Start(mes_settings, InDirectory(workdir, outbox), &error);
    if (!mes) {
      PrintError("--mes: " + error);
      return kBadOptionsExitCode;
    }
  }
  std::unique_ptr<Journal> journal;
  std::vector<std::unique_ptr<Journal>> bay_journals;
  std::vector<BayEnvironment> bays;
  if (source.bay_packet_drivers.size() > 1 && capture) {
    // One file, written from one station's thread: a capture is of one bay.
    PrintError("--capture records one station; it cannot be combined with several bays");
    return kBadOptionsExitCode;
  }
  if (source.bay_packet_drivers.size() > 1) {
    // Each bay its own connection to the journal: its thread alone uses it.
    bay_journals.resize(source.bay_packet_drivers.size());
    for (size_t i = 0; i < source.bay_packet_drivers.size(); ++i) {
      bays.push_back({source.bay_names[i], source.bay_packet_drivers[i],
                      OpenStationJournal(options, workdir, bay_journals[i], mes.get(),
                                         static_cast<int>(i + 1))});
    }
  }
  JournalLink link =
      bays.empty() ? OpenStationJournal(options, workdir, journal, mes.get()) : JournalLink{};
  LabelParts labels;
  const int bay_count = bays.empty() ? 1 : static_cast<int>(bays.size());
  if (const std::optional<std::string> error = OpenLabels(options, workdir, bay_count, labels)) {
    PrintError(*error);
    return kBadOptionsExitCode;
  }
  RtnetlinkArpFlush arp_flush;
  FrontEndEnvironment environment{*source.driver, clock, arp_flush, preferences, settings,
                                  std::move(link), options.quiet, {}, std::move(bays),
                                  labels.desk.get()};
  if (mes) {
    // A journal that loses its database and an adapter pulled from a bay are faults to the MES;
    // the link queues them on its own thread.
    environment.on_event = [link = mes.get()](const StationEvent& event) {
      if (std::optional<MesFaultChange> fault = MesFaultOf(event)) link->Report(std::move(*fault));
    };
    environment.mes_connection = [link = mes.get()](auto listener) {
      link->SetConnectionListener(std::move(listener));
    };
  }
  return RunFrontEnd(argc, argv, options, environment);
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) { return stampwright::Run(argc, argv); }
