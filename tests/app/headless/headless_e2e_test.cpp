// The headless front end through the real binary: the contract a script sees.

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/demo.h"
#include "programming/mac_database.h"
#include "settings/preferences.h"
#include "settings/state_file.h"
#include "support/station_process.h"

namespace stampwright::e2e {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

constexpr int kExitTimeoutMs = 60000;

fs::path MakeTempDir(const std::string& name) {
  std::string pattern = (fs::temp_directory_path() / (name + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

class HeadlessE2e : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(StationBinary())) << "build the stampwright target first";
    workdir_ = MakeTempDir("stampwright-e2e-work");
    runtime_ = MakeTempDir("stampwright-e2e-run");
    ASSERT_FALSE(workdir_.empty());
    ASSERT_FALSE(runtime_.empty());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(workdir_, ignored);
    fs::remove_all(runtime_, ignored);
  }

  // Every run has a lock directory of its own, so that no other copy on the machine interferes.
  ProcessOptions Isolated(bool own_network) const {
    ProcessOptions options;
    options.environment = {{"XDG_RUNTIME_DIR", runtime_.string()}};
    options.own_network = own_network && ::geteuid() == 0;
    return options;
  }

  fs::path StateFile() const {
    return workdir_ / StateFileName(DefaultPreferences().ProductNameText());
  }

  // Every stdout line is one JSON object naming its event, with a non-decreasing "ms".
  static void ExpectOnlyEventLines(const StationProcess& station) {
    long long last_ms = 0;
    for (size_t i = 0; i < station.events().size(); ++i) {
      const json& event = station.events()[i];
      ASSERT_TRUE(event.is_object()) << "not a JSON object: " << station.stdout_lines()[i];
      ASSERT_TRUE(event.contains("event") && event["event"].is_string()) << event.dump();
      ASSERT_TRUE(event.contains("ms") && event["ms"].is_number_integer()) << event.dump();
      EXPECT_GE(event["ms"].get<long long>(), last_ms);
      last_ms = event["ms"].get<long long>();
    }
  }

  fs::path workdir_;
  fs::path runtime_;
};

size_t IndexOf(const std::vector<std::string>& texts, const std::string& text, size_t from = 0) {
  for (size_t i = from; i < texts.size(); ++i) {
    if (texts[i] == text) return i;
  }
  return texts.size();
}

TEST_F(HeadlessE2e, DemoReadsTheUnitAndBurnsItToSuccess) {
  const std::string mac = DemoRecords(kDefaultMacPrefix).front().mac_text;
  StationProcess station({"--headless", "--demo", "--workdir", workdir_.string(), "--station", "e2e"},
                         Isolated(true));
  station.Write("wait 1105 15000 Read Module OK - PX300 Class B\n"
                "set 1009 " + mac + "\n"
                "click 1102\n"
                "wait 1105 20000 Success\n");
  station.CloseInput();  // end of input: close once the commands have run
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  ExpectOnlyEventLines(station);

  EXPECT_TRUE(station.EventsOfKind("timeout").empty());
  EXPECT_TRUE(station.EventsOfKind("error").empty());
  ASSERT_EQ(station.EventsOfKind("ready").size(), 1u);

  const std::vector<std::string> status = station.TextsOf(1105);
  const size_t read_ok = IndexOf(status, "Read Module OK - PX300 Class B");
  const size_t burning = IndexOf(status, "Burning...", read_ok);
  const size_t written = IndexOf(status, "Write Module - OK", burning);
  const size_t waiting = IndexOf(status, "Waiting...", written);
  const size_t success = IndexOf(status, "Success", waiting);
  EXPECT_LT(success, status.size()) << "status texts did not run read, burn, commit, success in order";
  EXPECT_EQ(station.TextsOf(1057).back(), "Hq4v-T9mW-2xKp-7sLd");
  EXPECT_EQ(station.TextsOf(1056).back(), "02:A0:C5:10:00:01");  // the unit came back under it

  // The attempt's record, written before the verdict: its event comes before "Success".
  const auto& events = station.events();
  const auto journal = std::find_if(events.begin(), events.end(),
                                    [](const json& e) { return IsEvent(e, "journal"); });
  const auto shown = std::find_if(events.begin(), events.end(), [](const json& e) {
    return IsEvent(e, "text") && e.value("text", "") == "Success";
  });
  ASSERT_NE(journal, events.end());
  EXPECT_LT(journal - events.begin(), shown - events.begin());
  const json& record = (*journal)["record"];
  EXPECT_EQ(record.value("mac", ""), mac);
  EXPECT_EQ(record.value("station", ""), "e2e");
  EXPECT_EQ(record.value("outcome", ""), "success");
  EXPECT_EQ(record.value("adapter", ""), "demo0");
  // Present whether or not the unit was read back (null then).
  EXPECT_TRUE(record.contains("verified") && record.contains("other_bytes_changed")) << record.dump();
  EXPECT_TRUE(record.contains("bay") && record["bay"].is_null()) << "one station without bays";
  EXPECT_EQ(station.EventsOfKind("journal").size(), 1u);
  EXPECT_TRUE(fs::exists(workdir_ / "journal.db"));

  // Human text only on stderr: where the demo works and the MACs to try.
  EXPECT_NE(station.stderr_text().find(workdir_.string()), std::string::npos);
  EXPECT_NE(station.stderr_text().find(mac), std::string::npos);
  // The close wrote the state file; the demo database stays in a --workdir.
  EXPECT_EQ(fs::file_size(StateFile()), kStateFileSize);
  EXPECT_TRUE(fs::exists(workdir_ / "cam.dbr"));
}

// What a scan tick writes while no unit answers; a slow machine may fit one into a script.
bool FromAScanTick(const json& event) {
  const int id = event.value("id", 0);
  if (IsEvent(event, "enable")) return id == 1102;
  if (!IsEvent(event, "text")) return false;
  return id == 1083 || id == 1012 || id == 1008 || id == 1109 || id == 1121 || id == 1056 ||
         (id == 1105 && event.value("text", "") == "No Device");
}

TEST_F(HeadlessE2e, OuiAndMacPrefixReachTheStationAndTheDemoUnit) {
  const std::string mac = DemoRecords("0EBEEF")[2].mac_text;
  StationProcess station({"--headless", "--demo", "--workdir", workdir_.string(), "--oui=00:11:22",
                          "--mac-prefix", "0ebeef"},
                         Isolated(true));
  station.Write("wait 1105 15000 Read Module OK - PX300 Class B\n"
                "set 1009 " + mac + "\n"
                "click 1102\n"
                "wait 1105 20000 Success\n");
  station.CloseInput();
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  EXPECT_TRUE(station.EventsOfKind("timeout").empty()) << station.stderr_text();
  EXPECT_TRUE(station.EventsOfKind("messagebox").empty());  // the lookup found the prefix
  EXPECT_EQ(station.TextsOf(1056).back(), "0E:BE:EF:10:00:03");
  EXPECT_NE(station.stderr_text().find(mac), std::string::npos);
}

TEST_F(HeadlessE2e, CommandsWithoutAUnitAnswerEachLineInOrder) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a network namespace of its own (root)";
  // No adapters at all in a fresh namespace: Burn stays disabled, nothing is sent anywhere.
  const std::string database = (workdir_ / "lines.db").string();
  std::ofstream(database) << "\n";
  StationProcess station({"--headless", "--workdir", workdir_.string()}, Isolated(true));
  station.Write("click 1102\n"
                "frobnicate\n"
                "set 1105 text\n"
                "wait 1105 60000 START\n"
                "wait 1105 300 Never shown\n"
                "check 1003\n"
                "file /nonexistent/lines.db\n"
                "click 1101\n"
                "file " + database + "\n"
                "click 1101\n"
                "click 1101\n"
                "sleep 100\n"
                "click 1115\n"
                "close\n"
                "click 1068\n");
  // Not closing stdin: the close command alone must end the run.
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  ExpectOnlyEventLines(station);

  std::vector<std::string> after_ready;
  bool ready = false;
  for (const json& event : station.events()) {
    if (IsEvent(event, "ready")) {
      ready = true;
      continue;
    }
    if (!ready || FromAScanTick(event)) continue;
    json shown = event;
    shown.erase("ms");
    after_ready.push_back(shown.dump());
  }
  ASSERT_TRUE(ready);
  EXPECT_EQ(after_ready, (std::vector<std::string>{
      R"({"event":"error","text":"control 1102 is disabled"})",
      R"({"event":"error","text":"cannot understand 'frobnicate': unknown command 'frobnicate'"})",
      R"({"event":"error","text":"control 1105 is not an edit control"})",
      // "START" already shows: that wait ends at once; the next one runs out.
      R"({"event":"timeout","id":1105,"text":"Never shown"})",
      R"({"event":"check","id":1002,"checked":false})",
      R"({"event":"check","id":1003,"checked":true})",
      // A path that does not exist cannot be chosen: that Select counts as cancelled.
      R"({"event":"text","id":1007,"text":")" + database + R"("})",
      // The last Select finds no answer queued: cancelled, nothing changes. The Upgrade
      // button has no command. After close nothing runs.
  }));
  EXPECT_EQ(fs::file_size(StateFile()), kStateFileSize);
}

TEST_F(HeadlessE2e, EmptyInputIsACloseAfterTheStartUp) {
  StationProcess station({"--headless", "--demo", "--workdir", workdir_.string()}, Isolated(true));
  station.CloseInput();
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  ExpectOnlyEventLines(station);
  ASSERT_FALSE(station.events().empty());
  EXPECT_TRUE(IsEvent(station.events().back(), "ready"));
  EXPECT_EQ(station.TextsOf(1105).back(), "Read Module OK - PX300 Class B");
  EXPECT_EQ(fs::file_size(StateFile()), kStateFileSize);
}

// A script that stops reading (its pipe closed, input still open) ends the station as the end
// of input would: closed, state file written, exit 0, not running on unseen.
TEST_F(HeadlessE2e, ClosedStdoutEndsTheStationAsTheEndOfInputDoes) {
  StationProcess station({"--headless", "--demo", "--workdir", workdir_.string()}, Isolated(true));
  ASSERT_TRUE(station.WaitForEvent([](const json& e) { return IsEvent(e, "ready"); }, 30000));
  const auto closed = StationProcess::Clock::now();
  station.CloseOutput();
  ASSERT_EQ(station.Wait(10000), 0) << station.stderr_text();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      StationProcess::Clock::now() - closed);
  RecordProperty("ms_from_close_to_exit", static_cast<int>(took.count()));
  EXPECT_EQ(fs::file_size(StateFile()), kStateFileSize);
  EXPECT_NE(station.stderr_text().find("stdout was closed by its reader"), std::string::npos)
      << station.stderr_text();
}

TEST_F(HeadlessE2e, DemoWithoutWorkdirCleansUpItsTemporaryDirectory) {
  const fs::path tmp = MakeTempDir("stampwright-e2e-tmp");
  ProcessOptions options = Isolated(true);
  options.environment.emplace_back("TMPDIR", tmp.string());
  StationProcess station({"--headless", "--demo"}, options);
  ASSERT_TRUE(station.WaitForEvent([](const json& e) { return IsEvent(e, "ready"); }, 30000));
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp), fs::directory_iterator()), 1);
  station.CloseInput();
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  EXPECT_NE(station.stderr_text().find(tmp.string()), std::string::npos);
  EXPECT_TRUE(fs::is_empty(tmp)) << "the demo's working directory was left behind";
  fs::remove_all(tmp);
}

TEST_F(HeadlessE2e, SecondCopyShowsTheRefusalAndStartsNothing) {
  StationProcess first({"--headless", "--demo", "--workdir", workdir_.string()}, Isolated(true));
  ASSERT_TRUE(first.WaitForEvent([](const json& e) { return IsEvent(e, "ready"); }, 30000));

  const fs::path second_dir = MakeTempDir("stampwright-e2e-second");
  StationProcess second({"--headless", "--demo", "--workdir", second_dir.string()}, Isolated(true));
  second.CloseInput();
  ASSERT_EQ(second.Wait(kExitTimeoutMs), 0) << second.stderr_text();
  ASSERT_EQ(second.events().size(), 1u) << second.stderr_text();
  json refusal = second.events().front();
  refusal.erase("ms");
  EXPECT_EQ(refusal.dump(),
            R"({"event":"messagebox","caption":"Attention!","text":"Linewave Utility is already running.\nOnly one copy can run at a time.","type":16})");
  EXPECT_TRUE(fs::is_empty(second_dir)) << "a refused copy wrote a file";
  EXPECT_EQ(second.stderr_text(), "stampwright: another copy is running (pid " +
                                      std::to_string(first.pid()) + "; lock file " +
                                      (runtime_ / "stampwright.instance").string() + ")\n");
  fs::remove_all(second_dir);

  first.CloseInput();
  EXPECT_EQ(first.Wait(kExitTimeoutMs), 0);
}

// The station never changes its own working directory: every file it reads or writes is taken
// in --workdir (here given relative to where it starts) and nothing lands where it started.
TEST_F(HeadlessE2e, WorkdirHoldsEveryFileWhateverTheStartingDirectory) {
  const fs::path start = workdir_ / "start";
  const fs::path station_dir = start / "station";
  ASSERT_TRUE(fs::create_directories(station_dir));
  // Something other than a regular file where the preferences are read: said, by their name.
  ASSERT_TRUE(fs::create_directory(station_dir / kPreferencesFileName));
  const std::string mac = DemoRecords(kDefaultMacPrefix).front().mac_text;
  ProcessOptions options = Isolated(true);
  options.working_directory = start.string();
  StationProcess station({"--headless", "--demo", "--workdir", "station", "--station", "e2e",
                          "--capture", "wire.pcapng"},
                         options);
  station.Write("wait 1105 15000 Read Module OK - PX300 Class B\n"
                "set 1009 " + mac + "\n"
                "click 1102\n"
                "wait 1105 20000 Success\n");
  station.CloseInput();
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  EXPECT_TRUE(station.EventsOfKind("timeout").empty());
  EXPECT_EQ(station.EventsOfKind("journal").size(), 1u);

  EXPECT_NE(station.stderr_text().find(std::string(kPreferencesFileName) +
                                       ": not a regular file; using the default preferences"),
            std::string::npos)
      << station.stderr_text();
  // The demo names the directory it works in, as an absolute path.
  EXPECT_NE(station.stderr_text().find(fs::canonical(station_dir).string()), std::string::npos);
  EXPECT_EQ(fs::file_size(station_dir / StateFileName(DefaultPreferences().ProductNameText())),
            kStateFileSize);
  EXPECT_GT(fs::file_size(station_dir / std::string(kDefaultMacDatabasePath)), 0u);
  EXPECT_GT(fs::file_size(station_dir / "journal.db"), 0u);
  EXPECT_GT(fs::file_size(station_dir / "wire.pcapng"), 0u);
  std::vector<std::string> left_at_start;
  for (const auto& entry : fs::directory_iterator(start)) {
    if (entry.path() != station_dir) left_at_start.push_back(entry.path().filename().string());
  }
  EXPECT_TRUE(left_at_start.empty()) << left_at_start.front();
}

TEST_F(HeadlessE2e, BadCommandLinesExitTwoWithAMessageOnStderr) {
  const std::vector<std::vector<std::string>> bad = {
      {"--headless", "--bogus"},
      {"--headless", "--mac-prefix", "12"},
      {"--headless", "--oui"},
      {"--headless", "stray"},
      {"--headless", "--workdir", "/nonexistent/stampwright"},
  };
  for (const auto& arguments : bad) {
    StationProcess station(arguments, Isolated(false));
    station.CloseInput();
    EXPECT_EQ(station.Wait(kExitTimeoutMs), 2) << arguments.back();
    EXPECT_TRUE(station.stdout_lines().empty()) << arguments.back();
    EXPECT_TRUE(station.stderr_text().starts_with("stampwright: ")) << station.stderr_text();
  }
}

TEST_F(HeadlessE2e, HelpAndVersionPrintAndExit) {
  StationProcess help({"--help"}, Isolated(false));
  ASSERT_EQ(help.Wait(kExitTimeoutMs), 0);
  EXPECT_EQ(help.stdout_lines().front(), "usage: stampwright [options]");
  EXPECT_EQ(help.stdout_lines().size(), 29u);  // the usage line and one per option

  StationProcess version({"--version"}, Isolated(false));
  ASSERT_EQ(version.Wait(kExitTimeoutMs), 0);
  ASSERT_EQ(version.stdout_lines().size(), 1u);
  EXPECT_TRUE(version.stdout_lines().front().starts_with("stampwright 3.0"));
}

TEST_F(HeadlessE2e, MissingCapturePermissionIsSaidNotSilent) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user safely";
  // As nobody, with no way to gain privileges, no adapter can be opened: nothing is sent.
  fs::permissions(workdir_, fs::perms::all);
  fs::permissions(runtime_, fs::perms::all);
  ProcessOptions options = Isolated(false);
  options.as_nobody = true;
  StationProcess station({"--headless", "--workdir", workdir_.string()}, options);
  station.CloseInput();
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  ExpectOnlyEventLines(station);
  if (station.stderr_text().find("no Ethernet adapter") != std::string::npos) {
    GTEST_SKIP() << "this machine has no Ethernet adapter to be refused on";
  }
  const auto errors = station.EventsOfKind("error");
  ASSERT_EQ(errors.size(), 1u) << station.stderr_text();
  const std::string text = errors.front()["text"];
  EXPECT_NE(text.find("permission"), std::string::npos) << text;
  // Said once on stderr too.
  const std::string& err = station.stderr_text();
  const size_t first = err.find(text);
  EXPECT_NE(first, std::string::npos) << err;
  EXPECT_EQ(err.find(text, first + 1), std::string::npos) << err;
}



// Four demo bays, every unit fresh under one default MAC, each label routed by its bay's code:
// all four burn at once, each record on its own bay and adapter; a label for a bay that is
// burning is refused, and a page command without its bay is an error.
TEST_F(HeadlessE2e, FourDemoBaysBurnTheirLabelsAtOnce) {
  const std::vector<DemoRecord> records = DemoRecords(kDefaultMacPrefix, 4);
  StationProcess station({"--headless", "--demo", "--bays", "4", "--workdir", workdir_.string(),
                          "--station", "gang"},
                         Isolated(true));
  std::string script;
  for (int bay = 1; bay <= 4; ++bay) {
    script += "bay " + std::to_string(bay) + " wait 1105 15000 Read Module OK - PX300 Class B\n";
  }
  for (int bay = 1; bay <= 4; ++bay) {
    // Bay 4 is first given bay 1's label, which bay 1 is burning: refused there and recorded.
    if (bay == 4) script += "scan BAY-4\nscan " + records[0].mac_text + "\n";
    script += "scan BAY-" + std::to_string(bay) + "\nscan " + records[bay - 1].mac_text + "\n";
  }
  script += "scan " + records[0].mac_text + "\n";  // the same label again, no bay waiting
  script += "click 1101\n";
  for (int bay = 1; bay <= 4; ++bay) {
    script += "bay " + std::to_string(bay) + " wait 1105 20000 Success\n";
  }
  station.Write(script);
  station.CloseInput();
  ASSERT_EQ(station.Wait(kExitTimeoutMs), 0) << station.stderr_text();
  ExpectOnlyEventLines(station);
  EXPECT_TRUE(station.EventsOfKind("timeout").empty());

  std::vector<json> routed;
  for (const json& scan : station.EventsOfKind("scan")) {
    if (scan.value("result", "") == "burning") routed.push_back(scan);
  }
  ASSERT_EQ(routed.size(), 4u);
  for (int bay = 1; bay <= 4; ++bay) EXPECT_EQ(routed[bay - 1]["bay"], bay);
  const json again = station.EventsOfKind("scan").back();
  EXPECT_EQ(again.value("result", ""), "refused");
  EXPECT_EQ(again.value("reason", ""), "MAC " + records[0].mac_text + " is being burned on bay 1.");
  ASSERT_EQ(station.EventsOfKind("error").size(), 1u);

  const std::vector<json> journal = station.EventsOfKind("journal");
  ASSERT_EQ(journal.size(), 5u);
  int refused = 0;
  for (const json& event : journal) {
    const int bay = event["bay"].get<int>();
    const json& record = event["record"];
    if (record.value("outcome", "") == "duplicate-refused") {
      ++refused;
      EXPECT_EQ(bay, 4);
      EXPECT_EQ(record.value("mac", ""), records[0].mac_text);
      EXPECT_EQ(record["bay"], 4);
      EXPECT_FALSE(record.contains("committed") && !record["committed"].is_null());
      continue;
    }
    EXPECT_EQ(record.value("outcome", ""), "success");
    EXPECT_EQ(record.value("mac", ""), records[bay - 1].mac_text);
    EXPECT_EQ(record.value("adapter", ""), DemoAdapterName(bay));
    EXPECT_EQ(record["bay"], bay) << "the record keeps its bay";
  }
  EXPECT_EQ(refused, 1);
  const std::vector<json> boxes = station.EventsOfKind("messagebox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["bay"], 4);
  EXPECT_EQ(boxes[0].value("text", ""), "MAC " + records[0].mac_text + " is being burned on bay 1.");
  EXPECT_EQ(boxes[0].value("type", 0), 48);
  for (const json& event : station.events()) ASSERT_TRUE(event.contains("bay") ||
                                                          IsEvent(event, "ready") ||
                                                          IsEvent(event, "error") ||
                                                          IsEvent(event, "scan")) << event.dump();
  const std::string product = DefaultPreferences().ProductNameText();
  for (int bay = 1; bay <= 4; ++bay) {
    EXPECT_EQ(fs::file_size(workdir_ / StateFileName(product + " bay " + std::to_string(bay))),
              kStateFileSize);
  }
  EXPECT_FALSE(fs::exists(StateFile()));
}

}  // namespace
}  // namespace stampwright::e2e
