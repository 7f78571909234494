#include "host/pg/pg_schema.h"

#include <array>

namespace ombrix {
namespace {

constexpr unsigned int2_oid = 21;
constexpr unsigned int4_oid = 23;
constexpr unsigned int8_oid = 20;
constexpr unsigned bytea_oid = 17;
constexpr unsigned text_oid = 25;

struct statement_text {
  const char* sql;
  std::array<unsigned, 5> types;
  int count;
};

constexpr std::size_t statement_count = static_cast<std::size_t>(pg_statement::count);

// Indexed by pg_statement. The item statements that requests run most (read, write, create,
// stat) are one statement each, so one round trip and one snapshot: the section, the checks on
// it and the item together.
constexpr std::array<statement_text, statement_count> statements{{
    // find_account
    {"SELECT account, md_name FROM ombrix.accounts WHERE name = $1", {text_oid}, 1},
    // insert_account: one winner when two create the same account
    {"INSERT INTO ombrix.accounts(name, md_name) VALUES($1, $2) ON CONFLICT (name) DO NOTHING "
     "RETURNING account",
     {text_oid, bytea_oid},
     2},
    // find_section
    {"SELECT section, kind, file FROM ombrix.sections WHERE account = $1 AND host_name = $2",
     {int4_oid, bytea_oid},
     2},
    // read_item: no row for a missing section; a null text for a missing item, with whether the
    // id names a data section of the dictionary
    {"SELECT s.section, (SELECT i.units FROM ombrix.items i WHERE i.section = s.section AND "
     "i.id = $3), s.kind = 1 AND EXISTS(SELECT 1 FROM ombrix.sections d WHERE d.account = $1 "
     "AND d.file = s.file AND d.kind = 2 AND d.entry = $3) "
     "FROM ombrix.sections s WHERE s.account = $1 AND s.host_name = $2",
     {int4_oid, bytea_oid, bytea_oid},
     3},
    // write_item: sections found (0 or 1), refused (the id names a data section), rows written
    {"WITH s AS (SELECT section, kind, file FROM ombrix.sections WHERE account = $1 AND "
     "host_name = $2), "
     "refused AS (SELECT EXISTS(SELECT 1 FROM s JOIN ombrix.sections d ON d.account = $1 AND "
     "d.file = s.file AND d.kind = 2 AND d.entry = $3 WHERE s.kind = 1) AS yes), "
     "put AS (INSERT INTO ombrix.items(section, id, size, units) SELECT s.section, $3, $4, $5 "
     "FROM s, refused WHERE NOT refused.yes ON CONFLICT (section, id) DO UPDATE SET size = "
     "EXCLUDED.size, units = EXCLUDED.units RETURNING 1) "
     "SELECT (SELECT count(*) FROM s), (SELECT yes FROM refused), (SELECT count(*) FROM put)",
     {int4_oid, bytea_oid, bytea_oid, int8_oid, bytea_oid},
     5},
    // create_item: the same, an existing item left alone (no row written)
    {"WITH s AS (SELECT section, kind, file FROM ombrix.sections WHERE account = $1 AND "
     "host_name = $2), "
     "refused AS (SELECT EXISTS(SELECT 1 FROM s JOIN ombrix.sections d ON d.account = $1 AND "
     "d.file = s.file AND d.kind = 2 AND d.entry = $3 WHERE s.kind = 1) AS yes), "
     "put AS (INSERT INTO ombrix.items(section, id, size, units) SELECT s.section, $3, $4, $5 "
     "FROM s, refused WHERE NOT refused.yes ON CONFLICT (section, id) DO NOTHING RETURNING 1) "
     "SELECT (SELECT count(*) FROM s), (SELECT yes FROM refused), (SELECT count(*) FROM put)",
     {int4_oid, bytea_oid, bytea_oid, int8_oid, bytea_oid},
     5},
    // stat_item: directory (an MD id naming a file, a dictionary id naming a data section), size
    {"SELECT (s.host_name = $4 AND s.kind = 2 AND EXISTS(SELECT 1 FROM ombrix.sections f WHERE "
     "f.account = $1 AND f.file = $3)) OR (s.kind = 1 AND EXISTS(SELECT 1 FROM ombrix.sections "
     "d WHERE d.account = $1 AND d.file = s.file AND d.kind = 2 AND d.entry = $3)), "
     "(SELECT i.size FROM ombrix.items i WHERE i.section = s.section AND i.id = $3) "
     "FROM ombrix.sections s WHERE s.account = $1 AND s.host_name = $2",
     {int4_oid, bytea_oid, bytea_oid, bytea_oid},
     4},
    // read_generation: the account's generation and the section, in one snapshot; also the
    // number of change rows not yet folded into the catalog
    {"SELECT a.generation + c.rows, s.section, s.kind, s.file, c.rows FROM ombrix.accounts a "
     "CROSS JOIN LATERAL (SELECT count(*) AS rows FROM ombrix.changes WHERE account = a.account) c "
     "LEFT JOIN ombrix.sections s ON s.account = a.account AND s.host_name = $2 "
     "WHERE a.account = $1",
     {int4_oid, bytea_oid},
     2},
    // list_items: a null limit lists all
    {"SELECT id, size FROM ombrix.items WHERE section = $1 ORDER BY id LIMIT $2",
     {int8_oid, int8_oid},
     2},
    // list_master_dictionary
    {"SELECT i.id, i.size, EXISTS(SELECT 1 FROM ombrix.sections s WHERE s.account = $2 AND "
     "s.file = i.id) FROM ombrix.items i WHERE i.section = $1 ORDER BY i.id",
     {int8_oid, int4_oid},
     2},
    // list_sections
    {"SELECT entry FROM ombrix.sections WHERE account = $1 AND file = $2 AND kind = 2 "
     "ORDER BY entry",
     {int4_oid, bytea_oid},
     2},
    // lock_item: rename and COPY hold the row until they commit
    {"SELECT size, units FROM ombrix.items WHERE section = $1 AND id = $2 FOR UPDATE",
     {int8_oid, bytea_oid},
     2},
    // find_item
    {"SELECT size FROM ombrix.items WHERE section = $1 AND id = $2", {int8_oid, bytea_oid}, 2},
    // delete_item
    {"DELETE FROM ombrix.items WHERE section = $1 AND id = $2 RETURNING 1",
     {int8_oid, bytea_oid},
     2},
    // rename_item
    {"UPDATE ombrix.items SET id = $3 WHERE section = $1 AND id = $2",
     {int8_oid, bytea_oid, bytea_oid},
     3},
    // names_file
    {"SELECT 1 FROM ombrix.sections WHERE account = $1 AND file = $2 LIMIT 1",
     {int4_oid, bytea_oid},
     2},
    // names_section
    {"SELECT 1 FROM ombrix.sections WHERE account = $1 AND file = $2 AND kind = 2 AND "
     "entry = $3",
     {int4_oid, bytea_oid, bytea_oid},
     3},
    // insert_section
    {"INSERT INTO ombrix.sections(account, host_name, file, kind, entry) "
     "VALUES($1, $2, $3, $4, $5) RETURNING section",
     {int4_oid, bytea_oid, bytea_oid, int2_oid, bytea_oid},
     5},
    // dump_items
    {"SELECT id, units FROM ombrix.items WHERE section = $1 ORDER BY id", {int8_oid}, 1},
    // account_sections: in the order they were made (a dictionary before its sections)
    {"SELECT host_name, file, kind, entry FROM ombrix.sections WHERE account = $1 "
     "ORDER BY section",
     {int4_oid},
     1},
    // schema_present: null in a database without the store's tables
    {"SELECT to_regclass('ombrix.changes')::text", {}, 0},
    // fold_changes: the committed change rows become part of the catalog's count; every
    // snapshot sees the same sum before and after
    {"WITH folded AS (DELETE FROM ombrix.changes WHERE account = $1 RETURNING 1) "
     "UPDATE ombrix.accounts SET generation = generation + (SELECT count(*) FROM folded) "
     "WHERE account = $1",
     {int4_oid},
     1},
    // list_times: items with a time, in listing order
    {"SELECT id, mtime FROM ombrix.items WHERE section = $1 AND mtime IS NOT NULL ORDER BY id",
     {int8_oid},
     1},
    // set_time: changes nothing else, so the time trigger does not fire
    {"UPDATE ombrix.items SET mtime = $3 WHERE section = $1 AND id = $2 RETURNING 1",
     {int8_oid, bytea_oid, int8_oid},
     3},
}};
static_assert(statements.back().sql != nullptr, "every statement of the enum has its SQL");

}  // namespace

const char* pg_statement_sql(pg_statement statement) {
  return statements[static_cast<std::size_t>(statement)].sql;
}

const unsigned* pg_statement_types(pg_statement statement, int* count) {
  const statement_text& s = statements[static_cast<std::size_t>(statement)];
  *count = s.count;
  return s.types.data();
}

// Each item's modification time (nanoseconds since 1970) is kept by a row trigger on every
// insert and every change of its text or size, whoever writes; a rename changes neither and
// keeps the time, and only set_time changes it otherwise.
//
// The generation of an account counts its committed changes: the catalog's number plus the
// account's rows in `changes`, where statement-level triggers add one row per changing
// statement inside the writing transaction. A snapshot that sees a change sees its row, and
// later snapshots see more rows, so equal generations mean equal contents, whoever wrote. Rows
// are only inserted, never updated, so writers of one account do not queue on a shared row and
// their commits flush together; readers fold the rows into the catalog now and then.
const char* const pg_schema_sql = R"sql(
BEGIN;
SELECT pg_advisory_xact_lock(74726902);
CREATE SCHEMA IF NOT EXISTS ombrix;
CREATE TABLE IF NOT EXISTS ombrix.accounts(
  account integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name text NOT NULL UNIQUE,
  md_name bytea NOT NULL,
  generation bigint NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS ombrix.sections(
  section bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  account integer NOT NULL REFERENCES ombrix.accounts,
  host_name bytea NOT NULL,
  file bytea NOT NULL,
  kind smallint NOT NULL,
  entry bytea NOT NULL,
  UNIQUE(account, host_name));
CREATE INDEX IF NOT EXISTS sections_by_file ON ombrix.sections(account, file, kind, entry);
CREATE TABLE IF NOT EXISTS ombrix.items(
  section bigint NOT NULL,
  id bytea NOT NULL,
  size bigint NOT NULL,
  units bytea NOT NULL,
  PRIMARY KEY(section, id) INCLUDE (size));
CREATE TABLE IF NOT EXISTS ombrix.changes(
  change bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  account integer NOT NULL);
CREATE INDEX IF NOT EXISTS changes_by_account ON ombrix.changes(account);
CREATE OR REPLACE FUNCTION ombrix.items_changed() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
  IF TG_OP = 'DELETE' THEN
    INSERT INTO ombrix.changes(account) SELECT DISTINCT s.account FROM ombrix.sections s
      WHERE s.section IN (SELECT section FROM old_rows);
  ELSE
    INSERT INTO ombrix.changes(account) SELECT DISTINCT s.account FROM ombrix.sections s
      WHERE s.section IN (SELECT section FROM new_rows);
  END IF;
  RETURN NULL;
END $f$;
ALTER TABLE ombrix.items ADD COLUMN IF NOT EXISTS mtime bigint;
CREATE OR REPLACE FUNCTION ombrix.items_touched() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
  IF TG_OP = 'UPDATE' OR NEW.mtime IS NULL THEN
    NEW.mtime := (extract(epoch FROM clock_timestamp()) * 1000000000)::bigint;
  END IF;
  RETURN NEW;
END $f$;
CREATE OR REPLACE TRIGGER items_touched BEFORE INSERT OR UPDATE OF size, units ON ombrix.items
  FOR EACH ROW EXECUTE FUNCTION ombrix.items_touched();
CREATE OR REPLACE FUNCTION ombrix.sections_changed() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
  INSERT INTO ombrix.changes(account) SELECT DISTINCT account FROM new_rows;
  RETURN NULL;
END $f$;
CREATE OR REPLACE TRIGGER items_inserted AFTER INSERT ON ombrix.items
  REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION ombrix.items_changed();
CREATE OR REPLACE TRIGGER items_updated AFTER UPDATE ON ombrix.items
  REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION ombrix.items_changed();
CREATE OR REPLACE TRIGGER items_deleted AFTER DELETE ON ombrix.items
  REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION ombrix.items_changed();
CREATE OR REPLACE TRIGGER sections_inserted AFTER INSERT ON ombrix.sections
  REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT
  EXECUTE FUNCTION ombrix.sections_changed();
CREATE OR REPLACE TRIGGER sections_updated AFTER UPDATE ON ombrix.sections
  REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT
  EXECUTE FUNCTION ombrix.sections_changed();
COMMIT;
)sql";

// Every statement of the store is a look-up or range by key, so plain index scans serve them;
// unlike bitmap scans they mark the index entries of folded (deleted) change rows as dead, so
// counting an account's change rows stays a few dozen entries however many were folded.
std::string pg_session_settings(long lock_wait_milliseconds) {
  std::string settings = "SET enable_bitmapscan = off; SET lock_timeout = '";
  settings += std::to_string(lock_wait_milliseconds);
  settings +=
      "ms'; SET statement_timeout = '60s'; SET idle_in_transaction_session_timeout = '60s'; "
      "SET synchronous_commit = on; SET default_transaction_isolation = 'read committed'";
  return settings;
}

}  // namespace ombrix
