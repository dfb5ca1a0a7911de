#pragma once

// What the journal subcommands share: their option parsing and the journal they open.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "journal/journal.h"

namespace stampwright::tool {

// "--name value" options (each in allowed) and the operands between them.
struct JournalArguments {
  std::map<std::string, std::string> options;
  std::vector<std::string> operands;
  std::string error;  // non-empty: the command line was wrong

  std::string Get(const std::string& name, const std::string& fallback = {}) const {
    const auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
  }
};

JournalArguments ParseJournalArguments(int argc, char** argv, int first,
                                       const std::set<std::string>& allowed);

// The time window of --since and --until; false after a usage error.
bool TakeTimeWindow(const JournalArguments& arguments, RecordFilter* filter, std::string* error);

// Opens --journal (default "journal.db"): the journal, or null with the error printed.
std::unique_ptr<Journal> OpenToolJournal(const JournalArguments& arguments);

// journal_report.cpp
int RunJournalReport(const JournalArguments& arguments);
// label_commands.cpp: "journal pool".
int RunJournalPool(const JournalArguments& arguments);

}  // namespace stampwright::tool
