#include "journal/postgresql/pg_schema.h"

#include <array>

namespace stampwright {

namespace {

// Step N takes the schema from version N-1 to N. Steps are never edited once released; a change
// is a new step.
constexpr std::array<const char*, kPgSchemaVersion> kSteps = {
    R"SQL(
CREATE SCHEMA stampwright;
REVOKE ALL ON SCHEMA stampwright FROM PUBLIC;

CREATE TABLE stampwright.schema_version (
  one boolean PRIMARY KEY DEFAULT true CHECK (one),
  version integer NOT NULL
);
INSERT INTO stampwright.schema_version (version) VALUES (0);

-- The program speaks UTC milliseconds since 1970; the tables keep timestamptz.
CREATE FUNCTION stampwright.from_ms(bigint) RETURNS timestamptz LANGUAGE sql IMMUTABLE STRICT
  AS $$ SELECT timestamptz 'epoch' + $1 * interval '1 millisecond' $$;
CREATE FUNCTION stampwright.to_ms(timestamptz) RETURNS bigint LANGUAGE sql IMMUTABLE STRICT
  AS $$ SELECT (extract(epoch FROM $1) * 1000)::bigint $$;

-- Refuses any change to a table that is only ever appended to, whoever asks.
CREATE FUNCTION stampwright.refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION '% on % refused: the journal is append-only', TG_OP, TG_TABLE_NAME;
END $$;

-- Every attempt, scrap and release of the line, in the order the database received them.
CREATE TABLE stampwright.records (
  seq bigserial UNIQUE,
  id uuid PRIMARY KEY,
  station text NOT NULL,
  adapter text,
  kind text NOT NULL CHECK (kind IN ('burn', 'firmware', 'scrap', 'release')),
  mac text NOT NULL,
  unit_mac_before text,
  chip text,
  module_class text,
  firmware_version text,
  image_checksum text,
  started timestamptz NOT NULL,
  attempt integer,
  config text,
  firmware_name text,
  firmware_size bigint,
  firmware_sha256 text,
  reason text,
  received timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX records_by_mac ON stampwright.records (mac);
CREATE INDEX records_by_started ON stampwright.records (started);
CREATE INDEX records_by_station ON stampwright.records (station, started);

-- Scraps and releases are a supervisor's word.
CREATE FUNCTION stampwright.check_record_kind() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF NEW.kind IN ('scrap', 'release')
     AND NOT pg_has_role('stampwright_supervisor', 'USAGE') THEN
    RAISE EXCEPTION 'a % needs the supervisor role', NEW.kind
      USING ERRCODE = 'insufficient_privilege';
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER records_kind BEFORE INSERT ON stampwright.records
  FOR EACH ROW EXECUTE FUNCTION stampwright.check_record_kind();
CREATE TRIGGER records_append_only BEFORE UPDATE OR DELETE ON stampwright.records
  FOR EACH ROW EXECUTE FUNCTION stampwright.refuse_change();
CREATE TRIGGER records_no_truncate BEFORE TRUNCATE ON stampwright.records
  FOR EACH STATEMENT EXECUTE FUNCTION stampwright.refuse_change();

-- What an attempt learns once: its commit was confirmed (from then on its MAC counts as burned),
-- and its outcome.
CREATE TABLE stampwright.commits (
  record_id uuid PRIMARY KEY REFERENCES stampwright.records (id),
  committed timestamptz NOT NULL,
  received timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE stampwright.outcomes (
  record_id uuid PRIMARY KEY REFERENCES stampwright.records (id),
  outcome text NOT NULL,
  finished timestamptz NOT NULL,
  burn_ms bigint,
  return_ms bigint,
  received timestamptz NOT NULL DEFAULT now()
);
CREATE TRIGGER commits_append_only BEFORE UPDATE OR DELETE ON stampwright.commits
  FOR EACH ROW EXECUTE FUNCTION stampwright.refuse_change();
CREATE TRIGGER commits_no_truncate BEFORE TRUNCATE ON stampwright.commits
  FOR EACH STATEMENT EXECUTE FUNCTION stampwright.refuse_change();
CREATE TRIGGER outcomes_append_only BEFORE UPDATE OR DELETE ON stampwright.outcomes
  FOR EACH ROW EXECUTE FUNCTION stampwright.refuse_change();
CREATE TRIGGER outcomes_no_truncate BEFORE TRUNCATE ON stampwright.outcomes
  FOR EACH STATEMENT EXECUTE FUNCTION stampwright.refuse_change();

-- A station's claim on a MAC for one attempt. The database keeps at most one open claim per MAC
-- across the line; a claim ends once, with the attempt's outcome.
CREATE TABLE stampwright.claims (
  record_id uuid PRIMARY KEY,
  mac bigint NOT NULL CHECK (mac >= 0 AND mac < 281474976710656),
  station text NOT NULL,
  claimed timestamptz NOT NULL DEFAULT now(),
  ended timestamptz,
  outcome text
);
CREATE UNIQUE INDEX claims_one_open_per_mac ON stampwright.claims (mac) WHERE ended IS NULL;

CREATE FUNCTION stampwright.claim_only_ends() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'DELETE' OR OLD.ended IS NOT NULL OR NEW.ended IS NULL
     OR (NEW.record_id, NEW.mac, NEW.station, NEW.claimed)
        IS DISTINCT FROM (OLD.record_id, OLD.mac, OLD.station, OLD.claimed) THEN
    RAISE EXCEPTION '% on claims refused: a claim only ends, once', TG_OP;
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER claims_only_end BEFORE UPDATE OR DELETE ON stampwright.claims
  FOR EACH ROW EXECUTE FUNCTION stampwright.claim_only_ends();

-- A station's lease on a range of MACs (one label reel), live from granted until the earlier of
-- until and revoked. Two live periods of overlapping ranges never exist: the database refuses.
CREATE TABLE stampwright.leases (
  id bigserial PRIMARY KEY,
  station text NOT NULL,
  macs int8range NOT NULL
    CHECK (NOT isempty(macs) AND lower(macs) >= 0 AND upper(macs) <= 281474976710656),
  granted timestamptz NOT NULL DEFAULT now(),
  until timestamptz CHECK (until IS NULL OR until > granted),
  revoked timestamptz CHECK (revoked IS NULL OR revoked >= granted),
  granted_by text NOT NULL DEFAULT session_user,
  CONSTRAINT leases_never_overlap EXCLUDE USING gist (
    macs WITH &&,
    tstzrange(granted, LEAST(until, revoked), '[)') WITH &&)
);

CREATE FUNCTION stampwright.lease_only_revoked() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'DELETE' OR OLD.revoked IS NOT NULL OR NEW.revoked IS NULL
     OR (NEW.id, NEW.station, NEW.macs, NEW.granted, NEW.until, NEW.granted_by)
        IS DISTINCT FROM (OLD.id, OLD.station, OLD.macs, OLD.granted, OLD.until, OLD.granted_by) THEN
    RAISE EXCEPTION '% on leases refused: a lease is only revoked, once', TG_OP;
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER leases_only_revoked BEFORE UPDATE OR DELETE ON stampwright.leases
  FOR EACH ROW EXECUTE FUNCTION stampwright.lease_only_revoked();
)SQL",
    R"SQL(
-- What reading the returned unit back showed: part of the outcome's row, so a station writes it
-- with the outcome or not at all, and nobody changes it after (outcomes_append_only).
ALTER TABLE stampwright.outcomes
  ADD COLUMN verified boolean,
  ADD COLUMN other_bytes_changed bigint CHECK (other_bytes_changed >= 0);
)SQL",
    R"SQL(
-- Records the database flagged as they arrived: a burn a station made from its lease while the
-- database was away, of a MAC that another attempt had burned meanwhile. Kept, never hidden;
-- reconcile shows them.
CREATE TABLE stampwright.flagged (
  record_id uuid PRIMARY KEY REFERENCES stampwright.records (id),
  reason text NOT NULL,
  flagged timestamptz NOT NULL DEFAULT now()
);
CREATE TRIGGER flagged_append_only BEFORE UPDATE OR DELETE ON stampwright.flagged
  FOR EACH ROW EXECUTE FUNCTION stampwright.refuse_change();
)SQL",
    R"SQL(
-- The bay a record was made on, when its station runs several; given with the record, so it is
-- kept with it (records_append_only).
ALTER TABLE stampwright.records ADD COLUMN bay integer CHECK (bay > 0);
)SQL",
    R"SQL(
-- Labels printed at the stations: records of their own kind, with the printer they went to and,
-- for a scanned-back label, whether it matched; given with the record and kept with it.
ALTER TABLE stampwright.records DROP CONSTRAINT records_kind_check;
ALTER TABLE stampwright.records ADD CONSTRAINT records_kind_check
  CHECK (kind IN ('burn', 'firmware', 'scrap', 'release', 'label'));
ALTER TABLE stampwright.records ADD COLUMN printer text, ADD COLUMN label_verified boolean;
)SQL",
};

// Run on every init, after the steps: roles and grants are idempotent and follow the newest step.
constexpr const char* kRolesAndGrants = R"SQL(
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'stampwright_station') THEN
    CREATE ROLE stampwright_station NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'stampwright_supervisor') THEN
    CREATE ROLE stampwright_supervisor NOLOGIN;
  END IF;
END $$;
GRANT stampwright_station TO stampwright_supervisor;

GRANT USAGE ON SCHEMA stampwright TO stampwright_station;
GRANT SELECT ON ALL TABLES IN SCHEMA stampwright TO stampwright_station;
GRANT USAGE ON ALL SEQUENCES IN SCHEMA stampwright TO stampwright_station;
GRANT INSERT ON stampwright.records, stampwright.commits, stampwright.outcomes,
  stampwright.claims, stampwright.flagged TO stampwright_station;
-- Ending a claim with its outcome; the trigger keeps every other column as it was.
GRANT UPDATE (ended, outcome) ON stampwright.claims TO stampwright_station;
GRANT INSERT, UPDATE (revoked) ON stampwright.leases TO stampwright_supervisor;
)SQL";

// Serialises concurrent inits of one database (an arbitrary constant: "stampwr" in ASCII).
constexpr const char* kLock = "SELECT pg_advisory_xact_lock(32491758765192306)";

bool Run(PgConnection& connection, const char* sql, std::string* error) {
  PgResult result = connection.Exec(sql);
  if (result.Ok()) return true;
  *error = result.Error();
  return false;
}

}  // namespace

std::optional<int> ReadPgSchemaVersion(PgConnection& connection, std::string* error) {
  PgResult exists = connection.Exec("SELECT to_regclass('stampwright.schema_version') IS NOT NULL");
  if (!exists.Ok()) {
    *error = exists.Error();
    return std::nullopt;
  }
  if (exists.Text(0, 0) != "t") return 0;
  PgResult version = connection.Exec("SELECT version FROM stampwright.schema_version");
  if (!version.Ok() || version.Rows() != 1) {
    *error = version.Ok() ? "the schema version table is not one row" : version.Error();
    return std::nullopt;
  }
  return static_cast<int>(version.Integer(0, 0));
}

bool InitPgSchema(PgConnection& connection, std::string* error) {
  if (!Run(connection, "BEGIN", error)) return false;
  auto fail = [&]() {
    connection.Exec("ROLLBACK");
    return false;
  };
  if (!Run(connection, kLock, error)) return fail();
  std::optional<int> version = ReadPgSchemaVersion(connection, error);
  if (!version) return fail();
  if (*version > kPgSchemaVersion) {
    *error = "the journal's schema version " + std::to_string(*version) +
             " is newer than this program's (" + std::to_string(kPgSchemaVersion) + ")";
    return fail();
  }
  for (int step = *version + 1; step <= kPgSchemaVersion; ++step) {
    if (!Run(connection, kSteps[step - 1], error)) return fail();
  }
  PgResult stored = connection.Exec(
      PgStatement{"set_schema_version", "UPDATE stampwright.schema_version SET version = $1"},
      std::array<std::optional<std::string>, 1>{std::to_string(kPgSchemaVersion)});
  if (!stored.Ok()) {
    *error = stored.Error();
    return fail();
  }
  if (!Run(connection, kRolesAndGrants, error)) return fail();
  return Run(connection, "COMMIT", error);
}

}  // namespace stampwright
