// stampwright-tool journal: reconcile after a fault soak, scrap and release, list, and the html
// report rendered by a real browser.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/export.h"
#include "journal/sqlite_journal.h"
#include "support/soak_scenario.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

using ::testing::HasSubstr;
using tool_test::ToolResult;

class JournalCommandTest : public tool_test::ToolDirectoryTest {
 protected:
  std::vector<std::string> Journal(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "journal");
    return arguments;
  }
};

TEST_F(JournalCommandTest, SoakOfFaultyBurnsReconcilesWithoutDifference) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  int soak_successes = 0;
  {
    JournalStatus status;
    auto journal = SqliteJournal::Open("journal.db", &status);
    ASSERT_TRUE(journal) << status.error;
    soak::Soak soak(200, 20261208);
    JournalLink& link = soak.station().journal;
    link.enabled = true;
    link.journal = journal.get();
    link.station_name = "soak";
    const soak::SoakReport report = soak.Run();
    EXPECT_THAT(report.violations, ::testing::IsEmpty());
    soak_successes = report.Count(soak::Outcome::kSuccess);
    std::vector<JournalRecord> records;
    ASSERT_TRUE(journal->Read({}, &records).ok());
    int successes = 0;
    for (const JournalRecord& r : records) successes += r.outcome == Outcome::kSuccess;
    EXPECT_EQ(successes, soak_successes) << "every \"Success\" shown is a \"success\" recorded";
    EXPECT_EQ(records.size(), 200u);
  }
  std::filesystem::current_path(previous);

  ToolResult result = Run(Journal({"reconcile", "cam.dbr"}));
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_TRUE(tool_test::Has(result.out, "records: 200"));
  EXPECT_TRUE(tool_test::Has(result.out, "difference: 0")) << result.out;

  // A MAC burned that the database file does not hold is an anomaly.
  Write("short.dbr", "");
  result = Run(Journal({"reconcile", "short.dbr", "--format", "json"}));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_THAT(result.out, HasSubstr("\"records\":0,\"burned\":0"));
  EXPECT_THAT(result.out, HasSubstr("burned but not in the database file"));
}

TEST_F(JournalCommandTest, ScrapAndReleaseAppendRecordsThatListShows) {
  Write("cam.dbr", EncodeMacRecord("02A0C5000001", "AAAABBBBCCCCDDDD") + "\n" +
                       EncodeMacRecord("02A0C5000002", "AAAABBBBCCCCDDDE") + "\n");
  EXPECT_EQ(Run(Journal({"scrap", "02a0c5000001", "--reason", "label torn"})).exit_code, 0);
  EXPECT_EQ(Run(Journal({"release", "02A0C5000002", "--reason", "rework, \"B\""})).exit_code, 0);
  EXPECT_EQ(Run(Journal({"release", "02A0C5000002"})).exit_code, 2) << "a reason is required";
  EXPECT_EQ(Run(Journal({"scrap", "02A0C50000"})).exit_code, 2);

  ToolResult list = Run(Journal({"list", "--format", "csv"}));
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_THAT(list.out, HasSubstr("id,station,adapter,kind,mac,unit_mac_before,chip,module_class,"
                                  "firmware_version,image_checksum,outcome,started,finished"));
  EXPECT_THAT(list.out, HasSubstr(",scrap,02A0C5000001,"));
  EXPECT_THAT(list.out, HasSubstr(",\"rework, \"\"B\"\"\""));
  list = Run(Journal({"list", "--mac", "02A0C5000002"}));
  EXPECT_THAT(list.out, HasSubstr("\"kind\":\"release\",\"mac\":\"02A0C5000002\""));
  EXPECT_THAT(list.out, ::testing::Not(HasSubstr("02A0C5000001")));

  const ToolResult reconcile = Run(Journal({"reconcile", "cam.dbr", "--format", "json"}));
  EXPECT_EQ(reconcile.out,
            "{\"records\":2,\"burned\":0,\"scrapped\":1,\"released\":1,\"unused\":1,\"anomalies\":[]}\n");
}

// Texts people typed (a reason, a station name) leave as data: a CSV cell that a spreadsheet
// would run as a formula starts with a quote; the text table keeps every record on one aligned
// line; a terminal gets the table and a pipe the JSON lines, unless --format says otherwise.
TEST_F(JournalCommandTest, ListFormatsKeepTypedTextsInertAndAligned) {
  const std::vector<std::string> reasons = {"=HYPERLINK(\"http://x.test\",\"a\")", "+1", "-2+3",
                                            "@SUM(A1)", "\tlabel", "\rline", "torn, wet"};
  for (size_t i = 0; i < reasons.size(); ++i) {
    const std::string mac = "02:a0:c5:00:00:1" + std::to_string(i);
    const ToolResult added = Run(Journal({"scrap", mac, "--reason", reasons[i], "--station",
                                          i == 0 ? "=cmd|' /C calc'!A0" : "st\xC3\xA4tion"}));
    ASSERT_EQ(added.exit_code, 0) << added.err;
  }

  ToolResult list = Run(Journal({"list", "--format", "csv"}));
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_THAT(list.out, HasSubstr(",'=cmd|' /C calc'!A0,"));
  EXPECT_THAT(list.out, HasSubstr(",\"'=HYPERLINK(\"\"http://x.test\"\",\"\"a\"\")\","));
  for (const char* cell : {",'+1,", ",'-2+3,", ",'@SUM(A1),", ",'\tlabel,", ",\"'\rline\",",
                           ",\"torn, wet\","}) {
    EXPECT_THAT(list.out, HasSubstr(cell));
  }
  // JSON carries the texts as they are.
  list = Run(Journal({"list", "--mac", "02A0C5000011"}));
  EXPECT_THAT(list.out, HasSubstr("\"reason\":\"+1\""));
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1) << list.out;

  list = Run(Journal({"list", "--format", "text", "--station", "st\xC3\xA4tion"}));
  ASSERT_EQ(list.exit_code, 0) << list.err;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = list.out.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = list.out.substr(at, end - at);
    // Offsets below count columns: the two bytes of "ä" take one.
    for (size_t a; (a = line.find("\xC3\xA4")) != std::string::npos;) line.replace(a, 2, "a");
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 7u) << list.out;  // the header and six records, one line each
  EXPECT_TRUE(lines[0].starts_with("started ")) << lines[0];
  EXPECT_EQ(lines[0].find("bay"), std::string::npos) << "no record has a bay: " << lines[0];
  // Each column starts where its header does; a tab or a line end in a reason is a blank.
  const size_t kind = lines[0].find("kind"), mac = lines[0].find("mac"),
               outcome = lines[0].find("outcome"), reason = lines[0].find("reason");
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string shown_reason = reasons[i];
    std::replace_if(shown_reason.begin(), shown_reason.end(), [](char c) { return c < 0x20; }, ' ');
    EXPECT_EQ(lines[i].find("scrap"), kind) << lines[i];
    EXPECT_EQ(lines[i].find("02A0C500001" + std::to_string(i)), mac) << lines[i];
    EXPECT_EQ(lines[i].substr(outcome, 2), "- ") << lines[i];
    EXPECT_EQ(lines[i].substr(reason), shown_reason) << lines[i];
  }

  // On a terminal the table is the default (script(1) gives the tool one).
  const std::string tool = std::string(STAMPWRIGHT_BIN_DIR) + "/stampwright-tool";
  list = Run(Journal({"list"}));
  EXPECT_TRUE(list.out.starts_with("{\"id\":")) << list.out;
  std::FILE* pipe = ::popen(("cd " + tool_test::ShellQuote(dir_.string()) + " && script -qec " +
                             tool_test::ShellQuote(tool_test::ShellQuote(tool) + " journal list") +
                             " /dev/null </dev/null")
                                .c_str(),
                            "r");
  ASSERT_NE(pipe, nullptr);
  std::string shown;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) shown.append(buffer, got);
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_TRUE(shown.starts_with("started ")) << shown;
}

// A station name is typed by people: the JSON report escapes its control bytes as \u00xx and
// keeps every other byte as it is, as the export does.
TEST_F(JournalCommandTest, JsonReportWritesStationNamesAsTheExportDoes) {
  {
    JournalStatus status;
    auto journal = SqliteJournal::Open((dir_ / "journal.db").string(), &status);
    ASSERT_TRUE(journal) << status.error;
    const int64_t eight = 1765180800000;  // 2025-12-08 08:00 UTC
    int n = 0;
    for (const char* station : {"s1", "line\t\"2\"\xFF"}) {
      JournalRecord r;
      r.station = station;
      r.mac = "02A0C500000" + std::to_string(++n);
      r.started = eight + n * 60000;
      r.outcome = Outcome::kSuccess;
      r.finished = r.started + 4000;
      r.burn_ms = 2500;
      ASSERT_TRUE(journal->Append(r).ok());
    }
  }
  const ToolResult json = Run(Journal({"report", "--format", "json"}));
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_EQ(json.out,
            "{\"period\":{\"first\":\"2025-12-08T08:01:00.000Z\",\"last\":\"2025-12-08T08:02:04.000Z\"},"
            "\"station_names\":[\"line\\u0009\\\"2\\\"\xFF\",\"s1\"],\"attempts\":2,\"refused\":0,"
            "\"units_burned\":2,\"first_pass_yield\":1.0000,\"units_per_hour\":2.00,"
            "\"hours_with_attempts\":1,\"units\":2,\"successes\":2,"
            "\"outcomes\":[{\"outcome\":\"success\",\"count\":2}],"
            "\"burn_ms\":{\"median\":2500,\"p95\":2500},\"return_ms\":{\"median\":0,\"p95\":0},"
            "\"verified_successes\":0,\"by\":\"hour\",\"buckets\":[{\"start\":\"2025-12-08T08:00:00.000Z\","
            "\"attempts\":2,\"refused\":0,\"units_burned\":2,\"first_pass_yield\":1.0000,"
            "\"units_per_hour\":2.00,\"hours_with_attempts\":1}],"
            "\"stations\":[{\"station\":\"line\\u0009\\\"2\\\"\xFF\",\"attempts\":1,\"refused\":0,"
            "\"units_burned\":1,\"first_pass_yield\":1.0000,\"units_per_hour\":1.00,"
            "\"hours_with_attempts\":1},{\"station\":\"s1\",\"attempts\":1,\"refused\":0,"
            "\"units_burned\":1,\"first_pass_yield\":1.0000,\"units_per_hour\":1.00,"
            "\"hours_with_attempts\":1}]}\n");
}

TEST_F(JournalCommandTest, ReportOverTwoStationsAndThreeHoursCountsRefusalsApart) {
  {
    JournalStatus status;
    auto journal = SqliteJournal::Open((dir_ / "journal.db").string(), &status);
    ASSERT_TRUE(journal) << status.error;
    const int64_t eight = 1765180800000;  // 2025-12-08 08:00 UTC
    constexpr int64_t kMinute = 60000;
    const auto add = [&](const char* station, const char* mac, int64_t started, Outcome outcome) {
      JournalRecord r;
      r.station = station;
      r.mac = mac;
      r.started = started;
      r.outcome = outcome;
      r.finished = started + 4000;
      r.burn_ms = IsRefusal(outcome) ? 3 : 2500;
      ASSERT_TRUE(journal->Append(r).ok());
    };
    add("s1", "02A0C5000001", eight + 10 * kMinute, Outcome::kSuccess);
    add("s1", "02A0C5000002", eight + 10 * kMinute + 1500, Outcome::kSuccess);  // 1.5 s later
    add("s1", "ZZ12", eight + 20 * kMinute, Outcome::kLookupFailed);
    add("s1", "02A0C5000003", eight + 90 * kMinute, Outcome::kWriteFailed);
    add("s1", "02A0C5000003", eight + 91 * kMinute, Outcome::kSuccess);
    add("s2", "02A0C5000001", eight + 40 * kMinute, Outcome::kDuplicateRefused);
    add("s2", "02A0C5000005", eight + 125 * kMinute, Outcome::kSuccess);
    add("s2", "02A0C5000006", eight + 170 * kMinute, Outcome::kNoReturn);
    add("s2", "02A0C5000007", eight + 210 * kMinute, Outcome::kJournalError);  // hour 11: refusals only
  }
  // By hand. Sent: s1 0001 ok, 0002 ok, 0003 failed then ok; s2 0005 ok, 0006 no-return: 6
  // attempts, 3 refused; units 0001 0002 0003 0005 0006, first pass 0001 0002 0005: 60 %.
  // Hours with an attempt: 08, 09 (s1) and 10 (s2): 4 units burned in 3 hours.
  ToolResult text = Run(Journal({"report"}));
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_THAT(text.out, ::testing::StartsWith(
                            "period: 2025-12-08 08:10:00 to 2025-12-08 11:30:04 UTC\nstations: s1, s2\n"
                            "attempts: 6\nrefused: 3\nunits: 5\nsuccesses: 4\nunits burned: 4\n"
                            "first-pass yield: 60.0 %\n"));
  EXPECT_THAT(text.out, HasSubstr("burn_ms: median 2500, p95 2500\n"));
  EXPECT_THAT(text.out, HasSubstr("units per hour: 1.3\nhours with attempts: 3\n"));
  EXPECT_THAT(text.out, HasSubstr("  2025-12-08 08:00:00  attempts 2  refused 2  units burned 2  "
                                  "first-pass yield 100.0 %\n"));
  EXPECT_THAT(text.out, HasSubstr("by station:\n"
                                  "  s1  attempts 4  refused 1  units burned 3  first-pass yield 66.7 %  units per hour 1.5\n"
                                  "  s2  attempts 2  refused 2  units burned 1  first-pass yield 50.0 %  units per hour 1.0\n"));

  // Two burns 1.5 s apart are two units in their one hour, never 120 an hour.
  text = Run(Journal({"report", "--until", "2025-12-08T08:15"}));
  EXPECT_THAT(text.out, HasSubstr("units per hour: 2.0\nhours with attempts: 1\n"));
  EXPECT_THAT(text.out, HasSubstr("stations: s1\n"));
  EXPECT_THAT(text.out, ::testing::Not(HasSubstr("by station:")));
  EXPECT_THAT(text.out, ::testing::Not(HasSubstr("by bay:")));

  const ToolResult json = Run(Journal({"report", "--format", "json"}));
  EXPECT_THAT(json.out, ::testing::StartsWith(
                            "{\"period\":{\"first\":\"2025-12-08T08:10:00.000Z\",\"last\":"
                            "\"2025-12-08T11:30:04.000Z\"},\"station_names\":[\"s1\",\"s2\"],"
                            "\"attempts\":6,\"refused\":3,\"units_burned\":4,\"first_pass_yield\":0.6000,"
                            "\"units_per_hour\":1.33,\"hours_with_attempts\":3,"));
  EXPECT_THAT(json.out, HasSubstr("{\"station\":\"s2\",\"attempts\":2,\"refused\":2,\"units_burned\":1,"));

  // The bars take the colour of their kind: success green, refusals amber, failures red.
  const ToolResult html = Run(Journal({"report", "--format", "html"}));
  EXPECT_THAT(html.out, HasSubstr("Period: 2025-12-08 08:10:00 to 2025-12-08 11:30:04 UTC<br>Stations: s1, s2"));
  EXPECT_THAT(html.out, HasSubstr("<tr><th>refused</th><td>3</td></tr>"));
  for (const auto& [outcome, colour] : std::vector<std::pair<std::string, std::string>>{
           {"success", "#1e9e3a"}, {"lookup-failed", "#ffb300"}, {"duplicate-refused", "#ffb300"},
           {"journal-error", "#ffb300"}, {"write-failed", "#c62828"}, {"no-return", "#c62828"}}) {
    const size_t label = html.out.find(">" + outcome + "</text><rect class=\"bar\"");
    ASSERT_NE(label, std::string::npos) << outcome;
    EXPECT_EQ(html.out.substr(html.out.find("fill=\"", label) + 6, 7), colour) << outcome;
  }
  EXPECT_THAT(html.out, HasSubstr("<h2>By station</h2>\n<table><tr><th>station</th>"));
  EXPECT_THAT(html.out, HasSubstr("<tr><th>s1</th><td>4</td><td>1</td><td>3</td><td>66.7 %</td><td>1.5</td></tr>"));
  EXPECT_THAT(html.out, ::testing::Not(HasSubstr("By bay")));
  EXPECT_THAT(json.out, ::testing::Not(HasSubstr("\"bays\"")));
}

// Burns made on the bays of a gang: the report's table per bay, its figures counted by hand, and
// the bay in the list's table. Records without a bay are a row of their own.
TEST_F(JournalCommandTest, ReportCountsAttemptsUnitsAndFirstPassYieldPerBay) {
  const int64_t eight = 1765180800000;  // 2025-12-08 08:00 UTC
  int64_t at = eight;
  const auto add = [&](const char* station, const char* mac, std::optional<int64_t> bay,
                       std::optional<Outcome> outcome, RecordKind kind = RecordKind::kBurn) {
    JournalStatus status;
    auto journal = SqliteJournal::Open((dir_ / "journal.db").string(), &status);
    ASSERT_TRUE(journal) << status.error;
    JournalRecord r;
    r.station = station;
    r.kind = kind;
    r.mac = mac;
    r.bay = bay;
    r.started = at += 60000;
    r.outcome = outcome;
    if (outcome) r.finished = r.started + 4000;
    ASSERT_TRUE(journal->Append(r).ok());
  };
  add("s1", "02A0C5000001", 2, Outcome::kSuccess);
  add("s1", "02A0C5000002", 1, Outcome::kWriteFailed);
  add("s1", "02A0C5000003", 1, Outcome::kSuccess);
  add("s1", "02A0C5000002", 1, Outcome::kSuccess);
  add("s1", "02A0C5000001", 2, Outcome::kDuplicateRefused);  // refused: no attempt
  add("s1", "02A0C5000004", std::nullopt, Outcome::kNoReturn);
  add("s1", "02A0C5000005", 3, Outcome::kFirmwareOk, RecordKind::kFirmware);  // no burn: no row
  add("supervisor", "02A0C5000004", std::nullopt, std::nullopt, RecordKind::kScrap);  // not a burn
  // By hand. Bay 1: 0002 failed then ok, 0003 ok: 3 attempts, 2 units, first pass 0003: 50 %.
  // Bay 2: 0001 ok: 1, 1, 100 %. Without a bay: 0004 no-return: 1, 1, 0 %.
  ToolResult text = Run(Journal({"report"}));
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_TRUE(text.out.ends_with("by bay:\n"
                                 "  bay 1  attempts 3  units 2  first-pass yield 50.0 %\n"
                                 "  bay 2  attempts 1  units 1  first-pass yield 100.0 %\n"
                                 "  no bay  attempts 1  units 1  first-pass yield 0.0 %\n"))
      << text.out;
  const ToolResult json = Run(Journal({"report", "--format", "json"}));
  EXPECT_TRUE(json.out.ends_with(
      ",\"bays\":[{\"station\":\"s1\",\"bay\":1,\"attempts\":3,\"units\":2,\"first_pass_yield\":0.5000},"
      "{\"station\":\"s1\",\"bay\":2,\"attempts\":1,\"units\":1,\"first_pass_yield\":1.0000},"
      "{\"station\":\"s1\",\"bay\":null,\"attempts\":1,\"units\":1,\"first_pass_yield\":0.0000}]}\n"))
      << json.out;
  const ToolResult html = Run(Journal({"report", "--format", "html"}));
  EXPECT_THAT(html.out, HasSubstr("<h2>By bay</h2>\n<table id=\"bays\"><tr><th>bay</th><th>attempts</th>"
                                  "<th>units</th><th>first-pass yield</th></tr>"
                                  "<tr><th>bay 1</th><td>3</td><td>2</td><td>50.0 %</td></tr>"
                                  "<tr><th>bay 2</th><td>1</td><td>1</td><td>100.0 %</td></tr>"
                                  "<tr><th>no bay</th><td>1</td><td>1</td><td>0.0 %</td></tr></table>"));

  // A second station's bay 1 is another bay: rows name their station.
  add("s2", "02A0C5000006", 1, Outcome::kSuccess);
  text = Run(Journal({"report"}));
  EXPECT_THAT(text.out, HasSubstr("by bay:\n  s1 bay 1  attempts 3  units 2  first-pass yield 50.0 %\n"));
  EXPECT_THAT(text.out, HasSubstr("  s1 no bay  attempts 1  units 1  first-pass yield 0.0 %\n"
                                  "  s2 bay 1  attempts 1  units 1  first-pass yield 100.0 %\n"));

  // The list's table shows the bay after the station; CSV carries it last.
  const ToolResult list = Run(Journal({"list", "--format", "text", "--station", "s2"}));
  ASSERT_EQ(list.exit_code, 0) << list.err;
  const std::string header = list.out.substr(0, list.out.find('\n'));
  const std::string row = list.out.substr(header.size() + 1, list.out.find('\n', header.size() + 1) - header.size() - 1);
  const size_t bay = header.find("  bay  ");
  ASSERT_NE(bay, std::string::npos) << header;
  EXPECT_LT(header.find("station"), bay);
  EXPECT_EQ(row.substr(bay, 7), "    1  ") << "numbers align right:\n" << list.out;
  const ToolResult csv = Run(Journal({"list", "--format", "csv", "--station", "s2"}));
  EXPECT_TRUE(csv.out.starts_with(RecordCsvHeader() + "\n")) << csv.out;
  EXPECT_TRUE(csv.out.ends_with(",,,1,,\n")) << csv.out;
}

TEST_F(JournalCommandTest, HtmlReportRendersBothChartsInHeadlessChromium) {
  {
    JournalStatus status;
    auto journal = SqliteJournal::Open((dir_ / "journal.db").string(), &status);
    ASSERT_TRUE(journal) << status.error;
    const Outcome outcomes[] = {Outcome::kSuccess, Outcome::kSuccess, Outcome::kWriteFailed,
                                Outcome::kSuccess, Outcome::kDuplicateRefused};
    int64_t t = 1765180800000;  // 2025-12-08 08:00 UTC
    for (int i = 0; i < 5; ++i, t += 1500000) {
      JournalRecord r;
      r.station = "s1";
      r.mac = "02A0C500000" + std::to_string(i % 3);
      r.started = t;
      r.bay = 1 + i % 2;
      ASSERT_TRUE(journal->Append(r).ok());
      // The first success was read back and matched; the others were not read back.
      const std::optional<bool> verified = i == 0 ? std::optional<bool>(true) : std::nullopt;
      const std::optional<int64_t> other = verified ? std::optional<int64_t>(0) : std::nullopt;
      ASSERT_TRUE(journal->Finish(r.id, {outcomes[i], t + 4000, 2500, 1500, verified, other}).ok());
    }
  }
  const ToolResult text = Run(Journal({"report"}));
  EXPECT_THAT(text.out, HasSubstr("burn_ms: median 2500, p95 2500"));
  EXPECT_THAT(text.out, HasSubstr("verified successes: 1 of 3\n"));
  EXPECT_THAT(Run(Journal({"report", "--format", "json"})).out, HasSubstr(",\"verified_successes\":1,"));
  const ToolResult html = Run(Journal({"report", "--format", "html", "--by", "shift"}));
  ASSERT_EQ(html.exit_code, 0) << html.err;
  Write("report.html", html.out);

  const char* chromium = "/usr/bin/chromium";
  if (::access(chromium, X_OK) != 0) GTEST_SKIP() << "Debian's chromium is not installed";
  // The flags this machine needs: no sandbox as root, nothing fetched from outside.
  const std::string profile = (dir_ / "profile").string();
  const std::string command =
      std::string(chromium) +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --user-data-dir=" + tool_test::ShellQuote(profile) +
      " --dump-dom " + tool_test::ShellQuote("file://" + (dir_ / "report.html").string()) +
      " 2>/dev/null";
  std::FILE* pipe = ::popen(("timeout 60 " + command).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string dom;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) dom.append(buffer, n);
  ASSERT_EQ(::pclose(pipe), 0);
  // The browser parsed the page into both charts with their bars.
  EXPECT_THAT(dom, HasSubstr("<svg id=\"pareto\""));
  EXPECT_THAT(dom, HasSubstr("<svg id=\"units-per-hour\""));
  EXPECT_THAT(dom, HasSubstr(">success</text><rect class=\"bar\""));
  EXPECT_THAT(dom, HasSubstr(">2025-12-08 08:00</text><rect class=\"bar\""));
  // And the table per bay, as the browser holds it (it adds the tbody).
  EXPECT_THAT(dom, HasSubstr("<table id=\"bays\"><tbody><tr><th>bay</th>"));
  EXPECT_THAT(dom, HasSubstr("<tr><th>bay 1</th><td>2</td><td>2</td><td>50.0 %</td></tr>"));
}

}  // namespace
}  // namespace stampwright
