// "label print", "bay-labels" and "journal pool": the station's labels and MAC pool from the
// engineer's side.

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/mac_pool.h"
#include "base/file_handle.h"
#include "base/host_name.h"
#include "base/regular_file.h"
#include "commands.h"
#include "journal/export.h"
#include "journal/journal.h"
#include "journal_common.h"
#include "label/label_template.h"
#include "label/printer.h"
#include "programming/mac_database.h"

namespace stampwright::tool {
namespace {

std::optional<PrinterTarget> TakePrinter(const char* command, const JournalArguments& arguments,
                                         int* code) {
  const std::string text = arguments.Get("--label-printer");
  if (text.empty()) return std::nullopt;
  auto parsed = ParsePrinterTarget(text);
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    *code = UsageError(command, error->c_str());
    return std::nullopt;
  }
  return std::get<PrinterTarget>(parsed);
}

std::string Prefix(const JournalArguments& arguments) {
  std::string prefix = arguments.Get("--mac-prefix", std::string(kDefaultMacPrefix));
  for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return prefix;
}

}  // namespace

int RunBayLabels(int argc, char** argv) {
  constexpr const char* kCommand = "bay-labels";
  const JournalArguments arguments = ParseJournalArguments(argc, argv, 1, {"--label-printer"});
  if (!arguments.error.empty()) return UsageError(kCommand, arguments.error.c_str());
  if (arguments.operands.size() != 1) return UsageError(kCommand, "expects the number of bays");
  char* end = nullptr;
  const long bays = std::strtol(arguments.operands[0].c_str(), &end, 10);
  if (*end != '\0' || bays < 1 || bays > 99) return UsageError(kCommand, "N is from 1 to 99");
  int code = kExitOk;
  const std::optional<PrinterTarget> printer = TakePrinter(kCommand, arguments, &code);
  if (code != kExitOk) return code;
  for (int bay = 1; bay <= bays; ++bay) {
    const std::string zpl = BayCodeLabel(bay);
    if (!printer) {
      std::fputs(zpl.c_str(), stdout);
      continue;
    }
    if (const auto failure = PrintLabel(*printer, "BAY-" + std::to_string(bay), zpl)) {
      return Failure(kCommand, ("BAY-" + std::to_string(bay) + ": " + *failure).c_str());
    }
  }
  return kExitOk;
}

int RunLabel(int argc, char** argv) {
  constexpr const char* kCommand = "label";
  if (argc < 2 || std::string(argv[1]) != "print") return UsageError(kCommand, "expects print MAC");
  const JournalArguments arguments = ParseJournalArguments(
      argc, argv, 2,
      {"--label-printer", "--label-template", "--journal", "--station", "--db", "--mac-prefix"});
  if (!arguments.error.empty()) return UsageError(kCommand, arguments.error.c_str());
  if (arguments.operands.size() != 1) return UsageError(kCommand, "expects one MAC");
  const std::optional<MacAddress> parsed = ParseMacArgument(arguments.operands[0]);
  if (!parsed) return UsageError(kCommand, "the MAC is 12 hex digits");
  const std::string mac = parsed->ToDigits();
  int code = kExitOk;
  const std::optional<PrinterTarget> printer = TakePrinter(kCommand, arguments, &code);
  if (code != kExitOk) return code;
  if (!printer) return UsageError(kCommand, "--label-printer TARGET is required");
  LabelTemplate label = LabelTemplate::Default();
  if (const std::string path = arguments.Get("--label-template"); !path.empty()) {
    FileHandle file = OpenRegularFile(path, "r");
    if (!file) return Failure(kCommand, OpenErrorText(path).c_str());
    std::string text;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
      text.append(buffer, got);
    }
    auto parsed_template = LabelTemplate::Parse(text);
    if (const auto* error = std::get_if<std::string>(&parsed_template)) {
      return Failure(kCommand, error->c_str());
    }
    label = std::get<LabelTemplate>(std::move(parsed_template));
  }
  auto journal = OpenToolJournal(arguments);
  if (!journal) return kExitFailure;
  // Only a MAC a unit carries gets a label: its last burn that got past its first frame.
  RecordFilter filter;
  filter.mac = mac;
  std::vector<JournalRecord> records;
  if (const JournalStatus status = journal->Read(filter, &records); !status.ok()) {
    return Failure(kCommand, status.error.c_str());
  }
  const JournalRecord* burn = nullptr;
  for (const JournalRecord& record : records) {
    if (record.kind == RecordKind::kBurn && record.committed) burn = &record;
  }
  if (burn == nullptr) {
    return Failure(kCommand, ("MAC " + mac + " has no confirmed burn in the journal").c_str());
  }
  MacLookupOptions lookup;
  lookup.mac_prefix = Prefix(arguments);
  lookup.database_path = arguments.Get("--db", std::string(kDefaultMacDatabasePath));
  const MacSearchResult found = SearchMacDatabase(mac, lookup);
  if (found.status != MacSearchStatus::kFound) {
    return Failure(kCommand, ("no password for " + mac + " in " + lookup.database_path).c_str());
  }
  LabelFields fields{mac, found.record.password_text, arguments.Get("--station", HostName()),
                     static_cast<int>(burn->bay.value_or(1)), UtcNowMs(), burn->chip};
  std::string reason;
  const std::optional<std::string> zpl = label.Filled(fields, &reason);
  if (zpl) {
    if (const auto failure = PrintLabel(*printer, mac, *zpl)) reason = *failure;
  }
  JournalRecord record;
  record.kind = RecordKind::kLabel;
  record.station = fields.station;
  record.mac = mac;
  record.started = UtcNowMs();
  record.printer = printer->text;
  record.reason = reason;
  if (const JournalStatus status = journal->Append(record); !status.ok()) {
    return Failure(kCommand, (status.error + status.refusal).c_str());
  }
  std::printf("%s\n", RecordJson(record).c_str());
  return reason.empty() ? kExitOk : Failure(kCommand, ("Label printer: " + reason).c_str());
}

int RunJournalPool(const JournalArguments& arguments) {
  constexpr const char* kCommand = "journal";
  if (arguments.operands.size() != 1) return UsageError(kCommand, "too many arguments");
  auto journal = OpenToolJournal(arguments);
  if (!journal) return kExitFailure;
  std::vector<MacRange> ranges;
  if (const std::string text = arguments.Get("--pool"); !text.empty()) {
    std::string error;
    const std::optional<MacRange> range = ParseMacRange(text, &error);
    if (!range) return UsageError(kCommand, error.c_str());
    ranges.push_back(*range);
  } else if (const std::string station = arguments.Get("--station"); !station.empty()) {
    std::vector<std::pair<int64_t, int64_t>> leases;
    if (const JournalStatus status = journal->LiveLeases(station, UtcNowMs(), &leases); !status.ok()) {
      return Failure(kCommand, status.error.c_str());
    }
    for (const auto& [first, last] : leases) {
      ranges.push_back({static_cast<uint64_t>(first), static_cast<uint64_t>(last)});
    }
  } else {
    return UsageError(kCommand, "pool needs --pool FIRST-LAST, or --station NAME on a line");
  }
  const std::string database = arguments.Get("--db", std::string(kDefaultMacDatabasePath));
  std::set<uint64_t> macs;
  if (!ReadPoolDatabase(database, Prefix(arguments), ranges, &macs)) {
    return Failure(kCommand, OpenErrorText(database).c_str());
  }
  std::vector<JournalRecord> records;
  if (const JournalStatus status = journal->Read({}, &records); !status.ok()) {
    return Failure(kCommand, status.error.c_str());
  }
  MacPool pool(std::move(ranges), std::move(macs));
  pool.Load(records);
  const PoolCounts counts = pool.Counts();
  std::printf("free %zu\nburned %zu\nscrapped %zu\nheld %zu\nnot in %s %zu\n", counts.free,
              counts.burned, counts.scrapped, counts.held, database.c_str(), counts.missing);
  return kExitOk;
}

}  // namespace stampwright::tool
