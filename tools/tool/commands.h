#pragma once

// stampwright-tool's command table. A command group is one .cpp file with its Run* functions
// declared here; adding a command is one entry in kCommands (main.cpp).

#include <optional>
#include <string>
#include <string_view>

#include "base/mac_address.h"
#include "programming/parameter_module.h"

namespace stampwright::tool {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the work failed: a file missing, unreadable or malformed
constexpr int kExitUsage = 2;    // the command line was wrong

struct ToolCommand {
  const char* name;
  const char* usage;    // arguments after the command name, e.g. "FILE"
  const char* summary;  // one line for the command list
  // argv[0] is the command name; "CMD --help" never reaches run.
  int (*run)(int argc, char** argv);
};

// Prints "stampwright-tool CMD: message" and the command's usage line to stderr; returns
// kExitUsage.
int UsageError(const char* command, const char* message);

// Prints "stampwright-tool CMD: message" to stderr; returns kExitFailure.
int Failure(const char* command, const char* message);

// A MAC as the station's New MAC field takes it: twelve hex digits in either case, with or
// without separators (':', '-', '.') and blanks around.
std::optional<MacAddress> ParseMacArgument(std::string_view text);

// Why a file to read cannot be opened: "cannot open PATH: " and the system's reason (the file is
// opened again, as the station opens it, to learn it).
std::string OpenErrorText(const std::string& path);

// The operands after argv[0]: a leading "--" is skipped, so that an operand may start with '-';
// any other argument starting with '-' (except "-" itself) is an unknown option. Returns false
// (after a usage error message) unless exactly count operands remain; they start at *first.
bool TakeOperands(int argc, char** argv, int count, int* first);

// crypto_commands.cpp
int RunNmk(int argc, char** argv);
int RunDak(int argc, char** argv);
int RunSha256(int argc, char** argv);

// file_commands.cpp
int RunImage(int argc, char** argv);
int RunPrefs(int argc, char** argv);
int RunState(int argc, char** argv);

// image_burn.cpp: "image burn ..." applies a burn's edits to an image file; else "image FILE".
int RunImageCommand(int argc, char** argv);

// db_commands.cpp
int RunDb(int argc, char** argv);

// unit_commands.cpp: "unit find|read|write|firmware|burn" on one adapter.
int RunUnit(int argc, char** argv);
// image_burn.cpp: exactly one 7864-byte image file, or a message in *error.
std::optional<ParameterModule> ReadImage(const char* path, std::string* error);

// journal_commands.cpp
int RunJournal(int argc, char** argv);

// label_commands.cpp: "bay-labels N", "label print MAC".
int RunBayLabels(int argc, char** argv);
int RunLabel(int argc, char** argv);

// mes_commands.cpp: "mes status" and "mes listen".
int RunMes(int argc, char** argv);

// line_commands.cpp: "journal init" and "journal lease" (argv[0] is the subcommand).
int RunJournalInit(int argc, char** argv);
int RunJournalLease(int argc, char** argv);

}  // namespace stampwright::tool
