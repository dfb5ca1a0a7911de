// stampwright-tool: the engineer's companion. "stampwright-tool --help" lists the commands.

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/regular_file.h"
#include "commands.h"
#include "station/mac_lookup.h"

namespace stampwright::tool {
namespace {

constexpr const char* kProgram = "stampwright-tool";

constexpr std::array kCommands = {
    ToolCommand{"nmk", "PASSWORD", "network membership key derived from a network password",
                RunNmk},
    ToolCommand{"dak", "PASSWORD", "device access key derived from a device password", RunDak},
    ToolCommand{"sha256", "FILE", "SHA-256 digest of a file (\"-\" reads stdin)", RunSha256},
    ToolCommand{"image", "FILE | burn IN OUT --mac MAC --password GROUPED [--chip px300|px100|none]",
                "a 7864-byte parameter module image decoded, or a burn's edits applied to one",
                RunImageCommand},
    ToolCommand{"prefs", "[FILE]", "the preferences as the station loads them", RunPrefs},
    ToolCommand{"state", "FILE", "a state file decoded", RunState},
    ToolCommand{"db", "lookup MAC [FILE] | encode MAC PASSWORD [--mac-prefix XXXXXX]",
                "MAC database: look a MAC up as the station does, or make a record line", RunDb},
    ToolCommand{"unit", "find|read|write|firmware|burn --interface NAME ... (unit SUBCOMMAND --help)",
                "a unit on one adapter, on the station's own core: find, read, write, firmware, burn",
                RunUnit},
    ToolCommand{"journal",
                "list|report|reconcile CAMDBR|scrap MAC|release MAC|pool|init|lease [--journal TARGET] ...",
                "the production journal: list, report, reconcile with a cam.dbr, scrap, release; "
                "a line's database: init, lease",
                RunJournal},
    ToolCommand{"label", "print MAC --label-printer TARGET [--label-template FILE] ...",
                "a burned MAC's label printed again, and recorded", RunLabel},
    ToolCommand{"bay-labels", "N [--label-printer TARGET]",
                "bay-code labels BAY-1..BAY-N (Code 128) for routing scans in gang mode",
                RunBayLabels},
    ToolCommand{"mes", "status [--journal FILE] | listen URL [--count N]",
                "the MES outbox's backlog and last send, or the CFX messages a broker carries",
                RunMes},
};

// The second word of db, image and journal: its own usage for "CMD SUB --help". unit keeps its
// subcommands' help beside their options (unit_arguments.cpp).
struct SubcommandHelp {
  const char* command;
  const char* name;
  const char* usage;
  const char* summary;
};

constexpr std::array kSubcommandHelp = {
    SubcommandHelp{"db", "lookup", "MAC [FILE] [--mac-prefix XXXXXX]",
                   "looks MAC up in FILE (default cam.dbr) as Burn does, MAC as the New MAC field "
                   "takes it (02A0C5100002, 02:a0:c5:10:00:02, ...)"},
    SubcommandHelp{"db", "encode", "MAC PASSWORD [--mac-prefix XXXXXX]",
                   "the cam.dbr record line of MAC and its 16-character password"},
    SubcommandHelp{"image", "burn", "IN OUT --mac MAC --password GROUPED [--chip px300|px100|none]",
                   "a burn's edits applied to the image IN, written to OUT"},
    SubcommandHelp{"journal", "list",
                   "[--journal TARGET] [--mac MAC] [--station NAME] [--since TIME] [--until TIME] "
                   "[--format text|jsonl|csv]",
                   "the records, oldest first: text is an aligned table (the default on a "
                   "terminal), jsonl one JSON object a line (the default otherwise), csv with a "
                   "header line"},
    SubcommandHelp{"journal", "report",
                   "[--journal TARGET] [--since TIME] [--until TIME] [--by hour|shift|day] "
                   "[--format text|json|html]",
                   "yield, the outcomes' Pareto, timings and verified successes"},
    SubcommandHelp{"journal", "reconcile",
                   "CAMDBR [--journal TARGET] [--mac-prefix XXXXXX] [--format text|json]",
                   "a database file checked against the journal; ends with \"difference: N\""},
    SubcommandHelp{"journal", "scrap", "MAC --reason TEXT [--journal TARGET] [--station NAME]",
                   "a supervisor's record: the MAC's label is scrapped"},
    SubcommandHelp{"journal", "release", "MAC --reason TEXT [--journal TARGET] [--station NAME]",
                   "a supervisor's record: the MAC may be burned once more"},
    SubcommandHelp{"journal", "pool",
                   "(--pool FIRST-LAST | --station NAME) [--journal TARGET] [--db CAMDBR] "
                   "[--mac-prefix XXXXXX]",
                   "a MAC pool's free, burned, scrapped and held counts, as the station decides "
                   "them (--station: its live leases on a line)"},
    SubcommandHelp{"journal", "init", "[--journal TARGET]",
                   "creates or migrates the journal's schema (a line's database: and its roles)"},
    SubcommandHelp{"journal", "lease",
                   "--journal TARGET (--station NAME --from MAC --count N [--until TIME] | --list "
                   "| --revoke ID)",
                   "leases of MAC ranges in a line's database: grant, list, revoke"},
    SubcommandHelp{"mes", "status", "[--journal FILE]",
                   "the MES outbox in FILE (default journal.db): backlog, oldest waiting, last "
                   "sent, last error"},
    SubcommandHelp{"mes", "listen", "URL [--count N]",
                   "subscribes to URL (amqp://[user[:password]@]host[:port]/ADDRESS, e.g. "
                   "/exchange/amq.topic/#) and prints each CFX envelope as one JSON line, until "
                   "interrupted or N messages"},
};

const ToolCommand* FindCommand(const char* name) {
  for (const ToolCommand& command : kCommands) {
    if (std::strcmp(command.name, name) == 0) return &command;
  }
  return nullptr;
}

bool IsHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

// "--help" or "-h" among the arguments after the command, before a "--".
bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (IsHelp(argv[i])) return true;
  }
  return false;
}

const SubcommandHelp* FindSubcommandHelp(const char* command, const char* name) {
  for (const SubcommandHelp& help : kSubcommandHelp) {
    if (std::strcmp(help.command, command) == 0 && std::strcmp(help.name, name) == 0) return &help;
  }
  return nullptr;
}

void PrintCommandUsage(std::FILE* out, const ToolCommand& command) {
  std::fprintf(out, "usage: %s %s %s\n", kProgram, command.name, command.usage);
}

void PrintCommandList(std::FILE* out) {
  std::fprintf(out, "usage: %s COMMAND [ARGS...]\n       %s COMMAND --help\n\ncommands:\n",
               kProgram, kProgram);
  for (const ToolCommand& command : kCommands) {
    const std::string synopsis = std::string(command.name) + " " + command.usage;
    if (synopsis.size() > 24) {  // a long synopsis gets a line of its own
      std::fprintf(out, "  %s\n  %-24s %s\n", synopsis.c_str(), "", command.summary);
    } else {
      std::fprintf(out, "  %-24s %s\n", synopsis.c_str(), command.summary);
    }
  }
}

}  // namespace

std::optional<MacAddress> ParseMacArgument(std::string_view text) {
  const std::optional<std::string> digits = NormalizedMacEntry(text);
  return MacAddress::Parse(digits ? std::string_view(*digits) : text);
}

std::string OpenErrorText(const std::string& path) {
  OpenResult result = OpenResult::kCannotOpen;
  errno = 0;
  const FileHandle file = OpenRegularFile(path, "r", &result);
  const int error = errno;
  switch (result) {
    case OpenResult::kNotARegularFile:
      return "cannot open " + path + ": not a regular file";
    case OpenResult::kOpened:
      return "cannot open " + path;  // it opens now: nothing more to say
    case OpenResult::kCannotOpen:
      break;
  }
  return "cannot open " + path + ": " + std::strerror(error);
}

int UsageError(const char* command, const char* message) {
  std::fprintf(stderr, "%s %s: %s\n", kProgram, command, message);
  if (const ToolCommand* found = FindCommand(command)) PrintCommandUsage(stderr, *found);
  return kExitUsage;
}

int Failure(const char* command, const char* message) {
  std::fprintf(stderr, "%s %s: %s\n", kProgram, command, message);
  return kExitFailure;
}

bool TakeOperands(int argc, char** argv, int count, int* first) {
  int index = 1;
  if (index < argc && std::strcmp(argv[index], "--") == 0) {
    ++index;
  } else {
    for (int i = index; i < argc; ++i) {
      if (argv[i][0] == '-' && argv[i][1] != '\0') {
        UsageError(argv[0], (std::string("unknown option ") + argv[i]).c_str());
        return false;
      }
    }
  }
  if (argc - index != count) {
    UsageError(argv[0], argc - index < count ? "missing argument" : "too many arguments");
    return false;
  }
  *first = index;
  return true;
}

}  // namespace stampwright::tool

int main(int argc, char** argv) {
  using namespace stampwright::tool;
  if (argc < 2) {
    PrintCommandList(stderr);
    return kExitUsage;
  }
  if (IsHelp(argv[1])) {
    PrintCommandList(stdout);
    return kExitOk;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", kProgram, STAMPWRIGHT_VERSION);
    return kExitOk;
  }
  const ToolCommand* command = FindCommand(argv[1]);
  if (command == nullptr) {
    std::fprintf(stderr, "%s: unknown command \"%s\" (see %s --help)\n", kProgram, argv[1],
                 kProgram);
    return kExitUsage;
  }
  if (argc >= 3 && IsHelp(argv[2])) {
    PrintCommandUsage(stdout, *command);
    std::printf("%s\n", command->summary);
    return kExitOk;
  }
  if (std::strcmp(command->name, "unit") != 0 && AsksForHelp(argc, argv)) {
    if (const SubcommandHelp* help = FindSubcommandHelp(command->name, argv[2])) {
      std::printf("usage: %s %s %s %s\n%s\n", kProgram, help->command, help->name, help->usage,
                  help->summary);
    } else {
      PrintCommandUsage(stdout, *command);
      std::printf("%s\n", command->summary);
    }
    return kExitOk;
  }
  return command->run(argc - 1, argv + 1);
}
