// "journal list|report|reconcile|scrap|release": the production journal read and added to.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/regular_file.h"
#include "commands.h"
#include "journal/export.h"
#include "journal/journal.h"
#include "journal_common.h"
#include "programming/mac_database.h"

namespace stampwright::tool {
namespace {

constexpr const char* kCommand = "journal";

std::string UpperMac(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The columns of "list --format text", named as in every export; the other fields are in
// jsonl and csv.
constexpr std::array<std::string_view, 11> kTextColumns = {
    "started", "station", "kind", "mac", "unit_mac_before", "outcome", "attempt", "burn_ms",
    "return_ms", "verified", "reason"};

// kTextColumns, with the bay after the station once some record has one: a journal of one
// station without bays keeps its table as it was.
std::vector<std::string_view> TextColumns(const std::vector<JournalRecord>& records) {
  std::vector<std::string_view> columns(kTextColumns.begin(), kTextColumns.end());
  const bool bays = std::any_of(records.begin(), records.end(),
                                [](const JournalRecord& r) { return r.bay.has_value(); });
  if (bays) columns.insert(std::find(columns.begin(), columns.end(), "station") + 1, "bay");
  return columns;
}

// Characters as a terminal shows them: UTF-8 continuation bytes take no column.
size_t ShownWidth(const std::string& text) {
  size_t width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return width;
}

// One cell of the table: "-" for absent, control characters (a tab or a line end in a reason)
// as blanks so that every record stays one line.
std::string TextCell(const FieldValue& value) {
  if (std::holds_alternative<std::monostate>(value)) return "-";
  if (const auto* number = std::get_if<int64_t>(&value)) return std::to_string(*number);
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  std::string text = std::get<std::string>(value);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

// The records as an aligned table with a header line; numbers to the right.
void PrintRecordTable(const std::vector<JournalRecord>& records) {
  const std::vector<std::string_view> columns = TextColumns(records);
  std::vector<std::vector<std::string>> rows(1);
  std::vector<bool> numeric(columns.size(), false);
  for (const std::string_view name : columns) rows[0].emplace_back(name);
  for (const JournalRecord& record : records) {
    const RecordFields fields = ExportFields(record);
    std::vector<std::string>& row = rows.emplace_back();
    for (size_t column = 0; column < columns.size(); ++column) {
      for (const auto& [name, value] : fields) {
        if (name != columns[column]) continue;
        row.push_back(TextCell(value));
        numeric[column] = numeric[column] || std::holds_alternative<int64_t>(value);
      }
    }
  }
  std::vector<size_t> widths(columns.size(), 0);
  for (const auto& row : rows) {
    for (size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], ShownWidth(row[column]));
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t column = 0; column < row.size(); ++column) {
      const std::string padding(widths[column] - ShownWidth(row[column]), ' ');
      if (column > 0) line += "  ";
      if (numeric[column]) {
        line += padding + row[column];
      } else {
        line += row[column];
        if (column + 1 < row.size()) line += padding;  // no blanks at the line's end
      }
    }
    std::printf("%s\n", line.c_str());
  }
}

int RunList(const JournalArguments& arguments) {
  RecordFilter filter;
  std::string error;
  if (!TakeTimeWindow(arguments, &filter, &error)) return UsageError(kCommand, error.c_str());
  if (const std::string mac = arguments.Get("--mac"); !mac.empty()) {
    const std::optional<MacAddress> parsed = ParseMacArgument(mac);
    if (!parsed) return UsageError(kCommand, "--mac takes a MAC of 12 hex digits");
    filter.mac = parsed->ToDigits();
  }
  filter.station = arguments.Get("--station");
  // A person at a terminal reads a table; a pipe gets one JSON object a line, as before.
  const std::string format = arguments.Get("--format", ::isatty(STDOUT_FILENO) ? "text" : "jsonl");
  if (format != "text" && format != "jsonl" && format != "csv") {
    return UsageError(kCommand, "--format is text, jsonl or csv");
  }
  auto journal = OpenToolJournal(arguments);
  if (!journal) return kExitFailure;
  std::vector<JournalRecord> records;
  if (const JournalStatus status = journal->Read(filter, &records); !status.ok()) {
    return Failure(kCommand, status.error.c_str());
  }
  if (format == "text") {
    PrintRecordTable(records);
    return kExitOk;
  }
  if (format == "csv") std::printf("%s\n", RecordCsvHeader().c_str());
  for (const JournalRecord& record : records) {
    std::printf("%s\n", (format == "csv" ? RecordCsvLine(record) : RecordJson(record)).c_str());
  }
  return kExitOk;
}

// scrap and release: one record of their own, never a change to another.
int RunMark(const JournalArguments& arguments, RecordKind kind) {
  if (arguments.operands.size() != 2) return UsageError(kCommand, "expects one MAC");
  const std::optional<MacAddress> parsed = ParseMacArgument(arguments.operands[1]);
  if (!parsed) return UsageError(kCommand, "the MAC is 12 hex digits");
  const std::string mac = parsed->ToDigits();
  const std::string reason = arguments.Get("--reason");
  if (reason.empty()) return UsageError(kCommand, "--reason TEXT is required");
  auto journal = OpenToolJournal(arguments);
  if (!journal) return kExitFailure;
  JournalRecord record;
  record.station = arguments.Get("--station", "stampwright-tool");
  record.kind = kind;
  record.mac = mac;
  record.reason = reason;
  record.started = UtcNowMs();
  if (const JournalStatus status = journal->Append(record); !status.ok()) {
    return Failure(kCommand, status.error.c_str());
  }
  std::printf("%s\n", RecordJson(record).c_str());
  return kExitOk;
}

// The MACs a cam.dbr holds, read as the station reads it.
bool ReadDatabaseMacs(const std::string& path, const std::string& prefix, std::set<std::string>* macs) {
  std::FILE* file = OpenRegularFile(path, "r").release();  // as the station opens it
  if (file == nullptr) return false;
  char line[kMacDatabaseReadSize + 1];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (auto record = DecodeMacRecord(std::string_view(line, std::strlen(line)), prefix)) {
      macs->insert(record->mac_text);
    }
  }
  std::fclose(file);
  return true;
}

struct Reconciliation {
  size_t records = 0, burned = 0, scrapped = 0, released = 0, unused = 0;
  std::vector<std::string> anomalies;
};

Reconciliation Reconcile(const std::set<std::string>& file_macs, const std::vector<JournalRecord>& records) {
  struct MacHistory {
    bool burned = false, scrapped = false, released = false;
    bool released_since_commit = true;  // nothing burned yet
    std::string last_unit;
  };
  std::map<std::string, MacHistory> history;
  std::vector<std::string> anomalies;
  // Oldest first; a commit counts at its confirmation, a release at its time.
  std::vector<const JournalRecord*> events;
  for (const JournalRecord& r : records) events.push_back(&r);
  std::stable_sort(events.begin(), events.end(), [](const JournalRecord* a, const JournalRecord* b) {
    return a->committed.value_or(a->started) < b->committed.value_or(b->started);
  });
  for (const JournalRecord* r : events) {
    MacHistory& h = history[r->mac];
    if (r->kind == RecordKind::kScrap) h.scrapped = true;
    if (r->kind == RecordKind::kRelease) {
      h.released = true;
      h.released_since_commit = true;
    }
    if (r->kind != RecordKind::kBurn || !r->committed) continue;
    // A second commit into another unit (not the rework of the unit that carries the MAC).
    if (h.burned && !h.released_since_commit && r->unit_mac_before != r->mac) {
      anomalies.push_back("MAC " + r->mac + " committed twice without a release between (attempt " +
                          r->id + " by station " + r->station + ")");
    }
    h.burned = true;
    h.released_since_commit = false;
  }
  Reconciliation result;
  result.records = file_macs.size();
  for (const auto& [mac, h] : history) {
    if (h.burned && file_macs.count(mac) == 0) {
      anomalies.insert(anomalies.begin(), "MAC " + mac + " burned but not in the database file");
    }
  }
  for (const std::string& mac : file_macs) {
    const auto found = history.find(mac);
    const MacHistory h = found == history.end() ? MacHistory{} : found->second;
    result.burned += h.burned;
    result.scrapped += h.scrapped;
    result.released += h.released;
    result.unused += !h.burned && !h.scrapped;
  }
  result.anomalies = std::move(anomalies);
  return result;
}

int RunReconcile(const JournalArguments& arguments) {
  if (arguments.operands.size() != 2) return UsageError(kCommand, "expects the CAMDBR file");
  const std::string format = arguments.Get("--format", "text");
  if (format != "text" && format != "json") return UsageError(kCommand, "--format is text or json");
  std::set<std::string> macs;
  const std::string prefix = UpperMac(arguments.Get("--mac-prefix", std::string(kDefaultMacPrefix)));
  if (!ReadDatabaseMacs(arguments.operands[1], prefix, &macs)) {
    return Failure(kCommand, OpenErrorText(arguments.operands[1]).c_str());
  }
  auto journal = OpenToolJournal(arguments);
  if (!journal) return kExitFailure;
  std::vector<JournalRecord> records;
  if (const JournalStatus status = journal->Read({}, &records); !status.ok()) {
    return Failure(kCommand, status.error.c_str());
  }
  std::vector<FlaggedRecord> flagged;
  if (const JournalStatus status = journal->ReadFlagged(&flagged); !status.ok()) {
    return Failure(kCommand, status.error.c_str());
  }
  Reconciliation r = Reconcile(macs, records);
  // What the line's database flagged as it arrived (a burn made offline from a lease), unless the
  // records' own history names the same attempt already.
  for (const FlaggedRecord& f : flagged) {
    const bool named = std::any_of(r.anomalies.begin(), r.anomalies.end(), [&f](const std::string& a) {
      return a.find("(attempt " + f.id + " ") != std::string::npos;
    });
    if (!named) {
      r.anomalies.push_back("MAC " + f.mac + " burned offline by station " + f.station +
                            " (attempt " + f.id + "), flagged on arrival: " + f.reason);
    }
  }
  // A line's journal: the MACs each station burned (by the last confirmed commit of each MAC).
  std::map<std::string, std::string> last_burner;
  std::map<std::string, int64_t> last_commit;
  std::set<std::string> stations;
  for (const JournalRecord& record : records) {
    if (record.kind != RecordKind::kBurn) continue;
    stations.insert(record.station);
    if (record.committed && *record.committed >= last_commit[record.mac]) {
      last_commit[record.mac] = *record.committed;
      last_burner[record.mac] = record.station;
    }
  }
  std::map<std::string, size_t> burned_by;
  if (stations.size() > 1) {
    for (const std::string& station : stations) burned_by[station] = 0;
    for (const auto& [mac, station] : last_burner) ++burned_by[station];
  }
  if (format == "json") {
    nlohmann::ordered_json out = {{"records", r.records},   {"burned", r.burned},
                                  {"scrapped", r.scrapped}, {"released", r.released},
                                  {"unused", r.unused},     {"anomalies", r.anomalies}};
    if (!burned_by.empty()) {
      nlohmann::ordered_json& per_station = out["stations"] = nlohmann::ordered_json::array();
      for (const auto& [station, count] : burned_by) {
        per_station.push_back({{"station", station}, {"burned", count}});
      }
    }
    const std::string line = WriteJson(out) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  } else {
    std::printf("records: %zu\nburned: %zu\nscrapped: %zu\nreleased: %zu\nunused: %zu\n", r.records,
                r.burned, r.scrapped, r.released, r.unused);
    for (const auto& [station, count] : burned_by) {
      std::printf("station %s: burned %zu\n", station.c_str(), count);
    }
    for (const std::string& a : r.anomalies) std::printf("anomaly: %s\n", a.c_str());
    std::printf("difference: %zu\n", r.anomalies.size());
  }
  return r.anomalies.empty() ? kExitOk : kExitFailure;
}

}  // namespace

JournalArguments ParseJournalArguments(int argc, char** argv, int first,
                                       const std::set<std::string>& allowed) {
  JournalArguments arguments;
  for (int i = first; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("--")) {
      if (allowed.count(argument) == 0) {
        arguments.error = "unknown option " + argument;
        return arguments;
      }
      if (i + 1 >= argc) {
        arguments.error = argument + " needs a value";
        return arguments;
      }
      arguments.options[argument] = argv[++i];
    } else {
      arguments.operands.push_back(argument);
    }
  }
  return arguments;
}

bool TakeTimeWindow(const JournalArguments& arguments, RecordFilter* filter, std::string* error) {
  for (const char* name : {"--since", "--until"}) {
    const std::string text = arguments.Get(name);
    if (text.empty()) continue;
    const std::optional<int64_t> time = ParseUtcTime(text);
    if (!time) {
      *error = std::string(name) + " expects YYYY-MM-DD[THH:MM[:SS]] (UTC), not '" + text + "'";
      return false;
    }
    (std::strcmp(name, "--since") == 0 ? filter->since : filter->until) = *time;
  }
  return true;
}

std::unique_ptr<Journal> OpenToolJournal(const JournalArguments& arguments) {
  const std::string target = arguments.Get("--journal", kDefaultJournalTarget);
  if (target == kNoJournalTarget) {
    Failure(kCommand, "--journal none has no records");
    return nullptr;
  }
  OpenedJournal opened = OpenJournal(target);
  if (!opened.status.ok()) {
    Failure(kCommand, ((opened.status.unavailable ? "Journal unavailable: " : "") +
                       opened.status.error).c_str());
  }
  return std::move(opened.journal);
}

int RunJournal(int argc, char** argv) {
  if (argc < 2) {
    return UsageError(kCommand,
                      "expects list, report, reconcile, scrap, release, pool, init or lease");
  }
  const std::string sub = argv[1];
  if (sub == "init") return RunJournalInit(argc - 1, argv + 1);
  if (sub == "lease") return RunJournalLease(argc - 1, argv + 1);
  const std::map<std::string, std::set<std::string>> allowed = {
      {"list", {"--journal", "--mac", "--since", "--until", "--format", "--station"}},
      {"report", {"--journal", "--since", "--until", "--by", "--format"}},
      {"reconcile", {"--journal", "--format", "--mac-prefix"}},
      {"scrap", {"--journal", "--reason", "--station"}},
      {"release", {"--journal", "--reason", "--station"}},
      {"pool", {"--journal", "--pool", "--station", "--db", "--mac-prefix"}},
  };
  const auto found = allowed.find(sub);
  if (found == allowed.end()) return UsageError(kCommand, ("unknown subcommand " + sub).c_str());
  const JournalArguments arguments = ParseJournalArguments(argc, argv, 1, found->second);
  if (!arguments.error.empty()) return UsageError(kCommand, arguments.error.c_str());
  if (sub == "list" || sub == "report") {
    if (arguments.operands.size() != 1) return UsageError(kCommand, "too many arguments");
    return sub == "list" ? RunList(arguments) : RunJournalReport(arguments);
  }
  if (sub == "reconcile") return RunReconcile(arguments);
  if (sub == "pool") return RunJournalPool(arguments);
  return RunMark(arguments, sub == "scrap" ? RecordKind::kScrap : RecordKind::kRelease);
}

}  // namespace stampwright::tool
