#include "app/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace stampwright {
namespace {

std::variant<Options, OptionsError> Parse(std::initializer_list<std::string_view> arguments) {
  const std::vector<std::string_view> list(arguments);
  return ParseOptions(std::span<const std::string_view>(list));
}

Options ParseOk(std::initializer_list<std::string_view> arguments) {
  auto parsed = Parse(arguments);
  if (const auto* error = std::get_if<OptionsError>(&parsed)) {
    ADD_FAILURE() << "unexpected error: " << error->message;
    return {};
  }
  return std::get<Options>(parsed);
}

std::string ParseError(std::initializer_list<std::string_view> arguments) {
  auto parsed = Parse(arguments);
  if (!std::holds_alternative<OptionsError>(parsed)) {
    ADD_FAILURE() << "expected an error";
    return {};
  }
  return std::get<OptionsError>(parsed).message;
}

TEST(Options, NothingGivenMeansTheWindowOnRealAdapters) {
  const Options options = ParseOk({});
  EXPECT_TRUE(options.interfaces.empty());
  EXPECT_FALSE(options.workdir);
  EXPECT_FALSE(options.oui);
  EXPECT_FALSE(options.full_waits);
  EXPECT_TRUE(options.mac_prefix.empty());
  EXPECT_FALSE(options.demo || options.headless || options.help || options.version);
}

TEST(Options, EveryOptionWithSeparateAndInlineValues) {
  const Options options = ParseOk({"--interface", "eth0", "--interface=enp3s0", "--workdir", "/srv/line",
                                   "--oui=00-b0-52", "--full-waits", "--mac-prefix", "02a0c5",
                                   "--headless", "--capture=run.pcapng"});
  EXPECT_EQ(options.interfaces, (std::vector<std::string>{"eth0", "enp3s0"}));
  EXPECT_EQ(options.workdir, "/srv/line");
  ASSERT_TRUE(options.oui);
  EXPECT_EQ(*options.oui, (Oui{0x00, 0xB0, 0x52}));
  EXPECT_TRUE(options.full_waits);
  EXPECT_EQ(options.mac_prefix, "02A0C5");  // kept upper case, as the database compares it
  EXPECT_TRUE(options.headless);
  EXPECT_FALSE(options.demo);
  EXPECT_EQ(options.capture, "run.pcapng");
}

TEST(Options, DemoHelpAndVersionFlags) {
  EXPECT_TRUE(ParseOk({"--demo"}).demo);
  EXPECT_TRUE(ParseOk({"--help"}).help);
  EXPECT_TRUE(ParseOk({"--version"}).version);
  const Options both = ParseOk({"--demo", "--headless", "--workdir=/tmp/x"});
  EXPECT_TRUE(both.demo && both.headless);
}

TEST(Options, BadCommandLinesSayWhatIsWrong) {
  EXPECT_NE(ParseError({"--bogus"}).find("unknown option '--bogus'"), std::string::npos);
  EXPECT_NE(ParseError({"stray"}).find("unexpected argument 'stray'"), std::string::npos);
  EXPECT_NE(ParseError({"-d"}).find("unknown option"), std::string::npos);
  EXPECT_NE(ParseError({"--workdir"}).find("needs a value"), std::string::npos);
  EXPECT_NE(ParseError({"--interface"}).find("needs a value"), std::string::npos);
  EXPECT_NE(ParseError({"--interface="}).find("adapter name"), std::string::npos);
  EXPECT_NE(ParseError({"--demo=yes"}).find("takes no value"), std::string::npos);
  EXPECT_NE(ParseError({"--oui", "00:B0"}).find("--oui expects XX:XX:XX"), std::string::npos);
  EXPECT_NE(ParseError({"--oui", "zz:zz:zz"}).find("--oui"), std::string::npos);
  EXPECT_NE(ParseError({"--demo", "--interface", "eth0"}).find("--demo"), std::string::npos);
}

TEST(Options, PoolAndLabelOptionsAreCheckedAtStart) {
  const Options pool = ParseOk({"--mac-source", "pool", "--pool", "02A0C5100001-02:a0:c5:10:00:ff",
                                "--pool-warn=20", "--pool-confirm", "--label-printer",
                                "tcp://10.0.0.9", "--label-scan-back"});
  EXPECT_TRUE(pool.pool_source && pool.pool_confirm && pool.label_scan_back);
  EXPECT_EQ(pool.pool_warn, 20u);
  EXPECT_FALSE(ParseOk({"--mac-source=label"}).pool_source);
  EXPECT_NE(ParseError({"--mac-source", "scanner"}).find("label or pool"), std::string::npos);
  EXPECT_NE(ParseError({"--mac-source", "pool", "--pool", "02A0C51000FF-02A0C5100001"})
                .find("above the last"),
            std::string::npos);
  EXPECT_NE(ParseError({"--mac-source", "pool", "--pool", "02A0C5100001"}).find("FIRST-LAST"),
            std::string::npos);
  EXPECT_NE(ParseError({"--pool", "02A0C5100001-02A0C5100002"}).find("--mac-source pool"),
            std::string::npos);
  EXPECT_NE(ParseError({"--label-printer", "lpt1"}).find("tcp://"), std::string::npos);
  EXPECT_NE(ParseError({"--label-scan-back"}).find("--label-printer"), std::string::npos);
  EXPECT_NE(ParseError({"--mac-source", "pool", "--journal", "none"}).find("journal"),
            std::string::npos);
}

TEST(Options, MacPrefixMustBeSixHexDigits) {
  for (const std::string_view bad : {"02A0C", "02A0C55", "02:A0:C5", "02A0G5", ""}) {
    EXPECT_NE(ParseError({"--mac-prefix", bad}).find("six hex digits"), std::string::npos) << bad;
  }
  EXPECT_EQ(ParseOk({"--mac-prefix=AbCdEf"}).mac_prefix, "ABCDEF");
}

TEST(Options, ArgvFormSkipsTheProgramName) {
  const char* argv[] = {"stampwright", "--demo", "--workdir", "dir"};
  auto parsed = ParseOptions(4, argv);
  ASSERT_TRUE(std::holds_alternative<Options>(parsed));
  EXPECT_TRUE(std::get<Options>(parsed).demo);
  EXPECT_EQ(std::get<Options>(parsed).workdir, "dir");
}

TEST(Options, JournalDefaultsToAFileInTheWorkingDirectoryAndNoneTurnsItOff) {
  const Options defaults = ParseOk({});
  EXPECT_EQ(defaults.journal, "journal.db");
  EXPECT_EQ(defaults.station, "");
  const Options given = ParseOk({"--journal=none", "--station", "line 2"});
  EXPECT_EQ(given.journal, "none");
  EXPECT_EQ(given.station, "line 2");
  EXPECT_EQ(ParseError({"--journal", ""}), "--journal needs a file path, or none");
  EXPECT_EQ(ParseError({"--station"}), "--station needs a value (NAME)");
}

TEST(Options, HelpHasOneLinePerOptionAndVersionNamesTheProgram) {
  const std::string usage = UsageText();
  std::istringstream lines(usage);
  std::string line;
  std::vector<std::string> option_lines;
  while (std::getline(lines, line)) {
    if (line.starts_with("  --")) option_lines.push_back(line);
  }
  ASSERT_EQ(option_lines.size(), 28u);
  for (const char* name : {"--interface NAME", "--workdir DIR", "--oui XX:XX:XX", "--full-waits",
                           "--capture FILE", "--classic", "--mac-prefix XXXXXX", "--journal TARGET",
                           "--quiet", "--station NAME", "--bay NAME", "--gang", "--mes URL",
                           "--cfx-handle HANDLE", "--mes-heartbeat SECONDS", "--mes-gzip", "--demo",
                           "--bays N", "--headless", "--help", "--version"}) {
    const int count = static_cast<int>(std::count_if(option_lines.begin(), option_lines.end(),
        [&](const std::string& l) { return l.starts_with(std::string("  ") + name); }));
    EXPECT_EQ(count, 1) << name;
  }
  EXPECT_TRUE(VersionText().starts_with("stampwright 3.0"));
  EXPECT_TRUE(VersionText().ends_with("\n"));
}

TEST(Options, BaysAreNamedGangedOrSimulatedButNeverMixed) {
  const Options named = ParseOk({"--bay", "eth1", "--bay=eth0"});
  EXPECT_EQ(named.bays, (std::vector<std::string>{"eth1", "eth0"}));
  EXPECT_TRUE(ParseOk({"--gang"}).gang);
  EXPECT_EQ(ParseOk({"--demo", "--bays", "16"}).demo_bays, 16);
  EXPECT_EQ(ParseError({"--demo", "--bays", "17"}), "--bays expects a number from 1 to 16, not '17'");
  EXPECT_EQ(ParseError({"--demo", "--bays", "2x"}), "--bays expects a number from 1 to 16, not '2x'");
  EXPECT_EQ(ParseError({"--bays", "2"}), "--bays is for --demo");
  EXPECT_EQ(ParseError({"--gang", "--bay", "eth0"}),
            "--gang takes every adapter; it cannot be combined with --bay");
  EXPECT_EQ(ParseError({"--interface", "eth0", "--gang"}),
            "--interface cannot be combined with --bay or --gang");
  EXPECT_EQ(ParseError({"--demo", "--gang"}), "--bay and --gang cannot be combined with --demo (use --bays N)");
}

}  // namespace
}  // namespace stampwright
