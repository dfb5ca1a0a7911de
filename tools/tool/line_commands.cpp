// "journal init" and "journal lease": what a line's administrator and supervisor do to the
// journal itself, beside the records.

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/mac_address.h"
#include "commands.h"
#include "journal/journal.h"
#include "journal/postgresql/pg_connection.h"
#include "journal/postgresql/pg_journal.h"
#include "journal/postgresql/pg_schema.h"
#include "journal/record.h"

namespace stampwright::tool {
namespace {

constexpr const char* kCommand = "journal";

// A MAC in any form the station takes, as the number a lease range counts in.
std::optional<int64_t> ParseMac(const std::string& text) {
  const std::optional<MacAddress> mac = ParseMacArgument(text);
  if (!mac) return std::nullopt;
  return static_cast<int64_t>(mac->ToNumber());
}

std::string MacText(int64_t value) {
  char text[13];
  std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(value));
  return text;
}

// The options every line command takes, and those of "lease".
struct LineOptions {
  std::string journal = kDefaultJournalTarget;
  std::string station;
  std::string from;
  std::string count;
  std::string until;
  std::string revoke;
  bool list = false;
};

// Reads "--name value" pairs and "--list"; false after a usage message.
bool ParseLineOptions(int argc, char** argv, bool lease, LineOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (lease && name == "--list") {
      options->list = true;
      continue;
    }
    std::string* value = nullptr;
    if (name == "--journal") value = &options->journal;
    else if (lease && name == "--station") value = &options->station;
    else if (lease && name == "--from") value = &options->from;
    else if (lease && name == "--count") value = &options->count;
    else if (lease && name == "--until") value = &options->until;
    else if (lease && name == "--revoke") value = &options->revoke;
    if (value == nullptr) {
      UsageError(kCommand, ("unknown argument " + name).c_str());
      return false;
    }
    if (i + 1 >= argc) {
      UsageError(kCommand, (name + " needs a value").c_str());
      return false;
    }
    *value = argv[++i];
  }
  return true;
}

void PrintLease(const MacLease& lease, int64_t now) {
  const char* state = lease.revoked ? "revoked"
                      : (lease.until && *lease.until <= now) ? "expired"
                      : lease.granted > now                   ? "pending"
                                                              : "live";
  std::printf("%lld %s %s %s %lld granted %s until %s %s\n", static_cast<long long>(lease.id),
              lease.station.c_str(), MacText(lease.first).c_str(), MacText(lease.last).c_str(),
              static_cast<long long>(lease.last - lease.first + 1),
              FormatIso8601(lease.granted).c_str(),
              lease.until ? FormatIso8601(*lease.until).c_str() : "-", state);
}

}  // namespace

int RunJournalInit(int argc, char** argv) {
  LineOptions options;
  if (!ParseLineOptions(argc, argv, false, &options)) return kExitUsage;
  if (!IsPgTarget(options.journal)) {
    // A file: opening it creates it or migrates it forward.
    OpenedJournal opened = OpenJournal(options.journal);
    if (!opened.status.ok()) return Failure(kCommand, opened.status.error.c_str());
    std::printf("journal %s: schema ready\n", options.journal.c_str());
    return kExitOk;
  }
  PgConnection connection = PgConnection::Connect(options.journal);
  if (!connection.Ok()) {
    return Failure(kCommand, ("Journal unavailable: " + connection.Error()).c_str());
  }
  std::string error;
  if (!InitPgSchema(connection, &error)) return Failure(kCommand, error.c_str());
  std::printf("journal %s: schema version %d ready; roles %s and %s granted\n",
              DescribePgTarget(options.journal).c_str(), kPgSchemaVersion, kPgStationRole,
              kPgSupervisorRole);
  return kExitOk;
}

int RunJournalLease(int argc, char** argv) {
  LineOptions options;
  if (!ParseLineOptions(argc, argv, true, &options)) return kExitUsage;
  const int actions = (options.list ? 1 : 0) + (options.revoke.empty() ? 0 : 1) +
                      (options.station.empty() && options.from.empty() ? 0 : 1);
  if (actions != 1) {
    return UsageError(kCommand, "lease needs one of --station/--from/--count, --list, --revoke");
  }
  if (!IsPgTarget(options.journal)) {
    return Failure(kCommand, "leases live in a line's PostgreSQL journal: --journal postgresql://...");
  }
  JournalStatus status;
  std::unique_ptr<PgJournal> journal = PgJournal::OpenDirect(options.journal, &status);
  if (!journal) {
    return Failure(kCommand, ((status.unavailable ? "Journal unavailable: " : "") + status.error).c_str());
  }
  if (options.list) {
    std::vector<MacLease> leases;
    status = journal->ListLeases(&leases);
    if (!status.ok()) return Failure(kCommand, status.error.c_str());
    const int64_t now = UtcNowMs();
    for (const MacLease& lease : leases) PrintLease(lease, now);
    return kExitOk;
  }
  if (!options.revoke.empty()) {
    char* end = nullptr;
    const long long id = std::strtoll(options.revoke.c_str(), &end, 10);
    if (*end != '\0' || id <= 0) return UsageError(kCommand, "--revoke takes a lease number");
    status = journal->RevokeLease(id);
    if (!status.ok()) return Failure(kCommand, status.error.c_str());
    std::printf("lease %lld revoked\n", id);
    return kExitOk;
  }
  if (options.station.empty() || options.from.empty() || options.count.empty()) {
    return UsageError(kCommand, "lease needs --station, --from and --count");
  }
  const std::optional<int64_t> first = ParseMac(options.from);
  if (!first) return UsageError(kCommand, "--from takes a MAC of 12 hex digits");
  char* end = nullptr;
  const long long count = std::strtoll(options.count.c_str(), &end, 10);
  if (*end != '\0' || count < 1) return UsageError(kCommand, "--count takes a number of MACs");
  std::optional<int64_t> until;
  if (!options.until.empty()) {
    until = ParseUtcTime(options.until);
    if (!until) return UsageError(kCommand, "--until takes a UTC time, e.g. 2026-12-31T18:00");
  }
  MacLease granted;
  status = journal->GrantLease(options.station, *first, count, until, &granted);
  if (!status.ok()) return Failure(kCommand, status.error.c_str());
  PrintLease(granted, UtcNowMs());
  return kExitOk;
}

}  // namespace stampwright::tool
