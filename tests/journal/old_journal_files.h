#pragma once

// Journal files as earlier versions of the program wrote them, for the migration tests.

namespace stampwright {

// A journal file as the program of schema version 1 made it: its records table, indexes and
// triggers verbatim, one finished and one open attempt.
constexpr const char* kVersion1Journal = R"sql(
CREATE TABLE records (
  seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, station TEXT NOT NULL, adapter TEXT,
  kind TEXT NOT NULL CHECK (kind IN ('burn', 'firmware', 'scrap', 'release')),
  mac TEXT NOT NULL, unit_mac_before TEXT, chip TEXT, module_class TEXT, firmware_version TEXT,
  image_checksum TEXT, outcome TEXT, started INTEGER NOT NULL, finished INTEGER,
  committed INTEGER, burn_ms INTEGER, return_ms INTEGER, attempt INTEGER, config TEXT,
  firmware_name TEXT, firmware_size INTEGER, firmware_sha256 TEXT, reason TEXT
);
CREATE INDEX records_by_mac ON records (mac, kind, committed);
CREATE INDEX records_by_start ON records (started);
CREATE INDEX records_open ON records (station) WHERE outcome IS NULL;
CREATE TRIGGER records_never_deleted BEFORE DELETE ON records
BEGIN SELECT RAISE(ABORT, 'journal records are never deleted'); END;
CREATE TRIGGER records_never_changed BEFORE UPDATE ON records
WHEN OLD.outcome IS NOT NULL
  OR (OLD.committed IS NOT NULL AND NEW.committed IS NOT OLD.committed)
  OR NEW.seq IS NOT OLD.seq OR NEW.id IS NOT OLD.id OR NEW.station IS NOT OLD.station
  OR NEW.adapter IS NOT OLD.adapter OR NEW.kind IS NOT OLD.kind OR NEW.mac IS NOT OLD.mac
  OR NEW.unit_mac_before IS NOT OLD.unit_mac_before OR NEW.chip IS NOT OLD.chip
  OR NEW.module_class IS NOT OLD.module_class OR NEW.firmware_version IS NOT OLD.firmware_version
  OR NEW.image_checksum IS NOT OLD.image_checksum OR NEW.started IS NOT OLD.started
  OR NEW.attempt IS NOT OLD.attempt OR NEW.config IS NOT OLD.config
  OR NEW.firmware_name IS NOT OLD.firmware_name OR NEW.firmware_size IS NOT OLD.firmware_size
  OR NEW.firmware_sha256 IS NOT OLD.firmware_sha256 OR NEW.reason IS NOT OLD.reason
BEGIN SELECT RAISE(ABORT, 'journal records are never changed'); END;
INSERT INTO records (id, station, kind, mac, outcome, started, finished, burn_ms, return_ms, attempt)
  VALUES ('old-done', 's1', 'burn', '02A0C5000040', 'success', 1765100000000, 1765100003000,
          900, 2100, 1);
INSERT INTO records (id, station, kind, mac, started, committed, attempt)
  VALUES ('old-open', 's1', 'burn', '02A0C5000041', 1765100010000, 1765100011000, 1);
PRAGMA user_version = 1;
)sql";

// What schema versions 2 and 3 added, verbatim, run on kVersion1Journal: a file as the program of
// version 3 left it.
constexpr const char* kVersion1To3Steps = R"sql(
ALTER TABLE records ADD COLUMN verified INTEGER
  CHECK (verified IS NULL OR (verified IN (0, 1) AND outcome IS NOT NULL));
ALTER TABLE records ADD COLUMN other_bytes_changed INTEGER
  CHECK (other_bytes_changed IS NULL OR (other_bytes_changed >= 0 AND outcome IS NOT NULL));
CREATE TABLE claims (
  record_id TEXT PRIMARY KEY REFERENCES records (id),
  mac TEXT NOT NULL,
  station TEXT NOT NULL,
  ended INTEGER
);
CREATE UNIQUE INDEX claims_one_open_per_mac ON claims (mac) WHERE ended IS NULL;
CREATE TRIGGER claims_end_with_outcome AFTER UPDATE OF outcome ON records
WHEN OLD.outcome IS NULL AND NEW.outcome IS NOT NULL
BEGIN UPDATE claims SET ended = coalesce(NEW.finished, NEW.started) WHERE record_id = NEW.id AND ended IS NULL; END;
CREATE TRIGGER claims_never_deleted BEFORE DELETE ON claims
BEGIN SELECT RAISE(ABORT, 'claims are never deleted'); END;
PRAGMA user_version = 3;
)sql";

}  // namespace stampwright
