#pragma once

#include <optional>
#include <string>

#include "journal/postgresql/pg_connection.h"

namespace stampwright {

// The schema version this program writes and reads.
inline constexpr int kPgSchemaVersion = 5;

// The two group roles a line's administrator grants to the stations' and supervisors' login
// roles. Stations may add records and claims and read; supervisors may also lease, scrap and
// release.
inline constexpr const char* kPgStationRole = "stampwright_station";
inline constexpr const char* kPgSupervisorRole = "stampwright_supervisor";

// The version of the journal's schema in the database: 0 when there is none yet; nullopt (and
// the server's message in *error) when it cannot be read.
std::optional<int> ReadPgSchemaVersion(PgConnection& connection, std::string* error);

// Creates the schema, or migrates it forward step by step, in one transaction that no second
// init can interleave; then creates the two roles if missing and grants them their rights. A
// schema newer than kPgSchemaVersion is refused and left as it is. Needs a role that may create
// schemas and roles.
bool InitPgSchema(PgConnection& connection, std::string* error);

}  // namespace stampwright
