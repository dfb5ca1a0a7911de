// stampwright-tool: the engineer's companion. "stampwright-tool --help" lists the commands.

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

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
                "list|report|reconcile CAMDBR|scrap MAC|release MAC|init|lease [--journal TARGET] ...",
                "the production journal: list, report, reconcile with a cam.dbr, scrap, release; "
                "a line's database: init, lease",
                RunJournal},
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
  return command->run(argc - 1, argv + 1);
}
