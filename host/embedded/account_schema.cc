#include "host/embedded/account_schema.h"

#include <array>
#include <string>

namespace ombrix {
namespace {

// Names are BLOBs of UTF-8 bytes (encode_name), so SQLite's byte-wise BLOB order is the listing
// order. Item texts are BLOBs of 16-bit units (encode_content) in their own table, so listing and
// stat read only the narrow `items` rows with the size.
constexpr const char* schema_sql = R"sql(
BEGIN;
CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB NOT NULL) WITHOUT ROWID;
CREATE TABLE sections(
  section INTEGER PRIMARY KEY,
  host_name BLOB NOT NULL UNIQUE,   -- the name operations use: 'DICT F', 'F' or 'F,D'
  file BLOB NOT NULL,               -- F
  kind INTEGER NOT NULL,            -- 1 dictionary, 2 data section
  entry BLOB NOT NULL);             -- a data section's entry in DICT F: F or D; '' for DICT F
CREATE INDEX sections_by_file ON sections(file, kind, entry);
CREATE TABLE items(
  section INTEGER NOT NULL,
  id BLOB NOT NULL,
  size INTEGER NOT NULL,            -- UTF-8 length of the item text, as listings report it
  body INTEGER NOT NULL,            -- the row of `bodies` holding the text
  PRIMARY KEY(section, id)) WITHOUT ROWID;
CREATE TABLE bodies(body INTEGER PRIMARY KEY, units BLOB NOT NULL);
INSERT INTO meta(key, value) VALUES('format', CAST('1' AS BLOB));
COMMIT;
)sql";

// The change generation: one number in `meta` that every committed change to the listed tables
// bumps, whichever process makes it. Added to databases that lack it when they are opened; the
// tables and the format stay as they are.
constexpr const char* generation_sql = R"sql(
BEGIN IMMEDIATE;
INSERT OR IGNORE INTO meta(key, value) VALUES('generation', 0);
CREATE TRIGGER IF NOT EXISTS items_inserted AFTER INSERT ON items
  BEGIN UPDATE meta SET value = value + 1 WHERE key = 'generation'; END;
CREATE TRIGGER IF NOT EXISTS items_updated AFTER UPDATE ON items
  BEGIN UPDATE meta SET value = value + 1 WHERE key = 'generation'; END;
CREATE TRIGGER IF NOT EXISTS items_deleted AFTER DELETE ON items
  BEGIN UPDATE meta SET value = value + 1 WHERE key = 'generation'; END;
CREATE TRIGGER IF NOT EXISTS sections_inserted AFTER INSERT ON sections
  BEGIN UPDATE meta SET value = value + 1 WHERE key = 'generation'; END;
CREATE TRIGGER IF NOT EXISTS sections_updated AFTER UPDATE ON sections
  BEGIN UPDATE meta SET value = value + 1 WHERE key = 'generation'; END;
CREATE TRIGGER IF NOT EXISTS sections_deleted AFTER DELETE ON sections
  BEGIN UPDATE meta SET value = value + 1 WHERE key = 'generation'; END;
COMMIT;
)sql";

// Modification times: items.mtime, nanoseconds since 1970-01-01 UTC (to the millisecond SQLite's
// clock gives; a time set explicitly is kept exactly). Triggers on the narrow items rows set it
// on every insert of an item and every update of its size or body, whichever process or client
// makes it; every write of this host and of ombrix-admin updates the items row. Renaming an item
// (a new id) keeps it, as a file system does. A row whose time was set in the same statement
// (NEW.mtime differs from OLD.mtime) keeps that time. Rows older than the column have none
// (NULL). No trigger sits on bodies: SQLite loads the old and the new text of a row trigger's
// table whole, which a large rewrite would pay for twice over; a client that rewrites only a
// text in bodies, at the same size, is not seen. Added to databases that lack it when they are
// opened (an earlier layout's trigger on bodies is dropped); the column alone is added by
// add_item_times.
constexpr const char* times_sql = R"sql(
DROP TRIGGER IF EXISTS bodies_mtime_updated;
DROP INDEX IF EXISTS items_by_body;
CREATE TRIGGER IF NOT EXISTS items_mtime_inserted AFTER INSERT ON items WHEN NEW.mtime IS NULL
  BEGIN UPDATE items SET mtime = CAST(round((julianday('now') - 2440587.5) * 86400000.0)
    AS INTEGER) * 1000000 WHERE section = NEW.section AND id = NEW.id; END;
CREATE TRIGGER IF NOT EXISTS items_mtime_updated AFTER UPDATE OF size, body ON items
  WHEN NEW.mtime IS OLD.mtime
  BEGIN UPDATE items SET mtime = CAST(round((julianday('now') - 2440587.5) * 86400000.0)
    AS INTEGER) * 1000000 WHERE section = NEW.section AND id = NEW.id; END;
)sql";

static_assert(piecewise_units_bytes == 1048576, "the read_item statement names the same bound");

constexpr std::size_t statement_count = static_cast<std::size_t>(account_statement::count);

// Indexed by account_statement; the static_assert below keeps the two in step.
constexpr std::array<const char*, statement_count> statement_texts{
    // find_section
    "SELECT section, kind, file, entry FROM sections WHERE host_name = ?1",
    // read_item: texts of a MiB or more are not loaded with the row (read piece by piece)
    "SELECT b.body, length(b.units), "
    "CASE WHEN length(b.units) < 1048576 THEN b.units END FROM sections s "
    "JOIN items i ON i.section = s.section "
    "JOIN bodies b ON b.body = i.body "
    "WHERE s.host_name = ?1 AND i.id = ?2",
    // find_item
    "SELECT body, size FROM items WHERE section = ?1 AND id = ?2",
    // update_size
    "UPDATE items SET size = ?3 WHERE section = ?1 AND id = ?2",
    // update_body
    "UPDATE bodies SET units = ?2 WHERE body = ?1",
    // insert_body
    "INSERT INTO bodies(units) VALUES(?1)",
    // insert_item
    "INSERT INTO items(section, id, size, body) VALUES(?1, ?2, ?3, ?4)",
    // delete_item
    "DELETE FROM items WHERE section = ?1 AND id = ?2",
    // delete_body
    "DELETE FROM bodies WHERE body = ?1",
    // names_file
    "SELECT 1 FROM sections WHERE file = ?1 LIMIT 1",
    // names_section
    "SELECT 1 FROM sections WHERE file = ?1 AND kind = 2 AND entry = ?2",
    // list_items
    "SELECT id, size FROM items WHERE section = ?1 ORDER BY id LIMIT ?2",
    // list_master_dictionary
    "SELECT i.id, i.size, EXISTS(SELECT 1 FROM sections s WHERE s.file = i.id) "
    "FROM items i WHERE i.section = ?1 ORDER BY i.id",
    // list_sections
    "SELECT entry FROM sections WHERE file = ?1 AND kind = 2 ORDER BY entry",
    // dump_items
    "SELECT i.id, b.units FROM items i JOIN bodies b ON b.body = i.body "
    "WHERE i.section = ?1 ORDER BY i.id",
    // read_body
    "SELECT i.size, b.units FROM items i JOIN bodies b ON b.body = i.body "
    "WHERE i.section = ?1 AND i.id = ?2",
    // insert_section
    "INSERT INTO sections(host_name, file, kind, entry) VALUES(?1, ?2, ?3, ?4)",
    // read_meta
    "SELECT (SELECT value FROM meta WHERE key = 'md_name'), "
    "(SELECT value FROM meta WHERE key = 'format')",
    // insert_md_name
    "INSERT INTO meta(key, value) VALUES('md_name', ?1)",
    // integrity_check
    "PRAGMA integrity_check",
    // read_generation: the row and every trigger that keeps it; no row without all six
    "SELECT value FROM meta WHERE key = 'generation' AND "
    "(SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN ('items_inserted', "
    "'items_updated', 'items_deleted', 'sections_inserted', 'sections_updated', "
    "'sections_deleted')) = 6",
    // read_generation_quickly: the row and the schema version, whose every change (a trigger
    // dropped, say) sends the next read to read_generation
    "SELECT value, (SELECT schema_version FROM pragma_schema_version) FROM meta "
    "WHERE key = 'generation'",
    // rename_item
    "UPDATE items SET id = ?3 WHERE section = ?1 AND id = ?2",
    // read_times_present: the column and every trigger that keeps it; a row only with all
    "SELECT (SELECT count(*) FROM pragma_table_info('items') WHERE name = 'mtime') = 1 AND "
    "(SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
    "('items_mtime_inserted', 'items_mtime_updated')) = 2 AND NOT EXISTS(SELECT 1 FROM "
    "sqlite_master WHERE type = 'trigger' AND name = 'bodies_mtime_updated')",
    // has_time_column
    "SELECT count(*) FROM pragma_table_info('items') WHERE name = 'mtime'",
    // list_times: items with a time, in listing order
    "SELECT id, mtime FROM items WHERE section = ?1 AND mtime IS NOT NULL ORDER BY id",
    // set_time: a time set explicitly; no trigger changes it
    "UPDATE items SET mtime = ?3 WHERE section = ?1 AND id = ?2",
};
static_assert(statement_texts.back() != nullptr, "every statement of the enum has its SQL");

}  // namespace

const char* statement_sql(account_statement statement) {
  return statement_texts[static_cast<std::size_t>(statement)];
}

statement_use prepare(sqlite_connection& connection, account_statement statement) {
  const std::size_t slot = sqlite_connection::first_user_slot + static_cast<std::size_t>(statement);
  return statement_use(connection, connection.statement(slot, statement_sql(statement)));
}

void create_schema(sqlite_connection& connection) {
  connection.execute(schema_sql);
  add_change_generation(connection);
  add_item_times(connection);
}

void add_change_generation(sqlite_connection& connection) {
  try {
    connection.execute(generation_sql);
  } catch (...) {
    if (connection.in_transaction()) connection.execute("ROLLBACK");
    throw;
  }
}

bool item_times_present(sqlite_connection& connection) {
  statement_use q = prepare(connection, account_statement::read_times_present);
  return q.step() && q.column_int64(0) != 0;
}

void add_item_times(sqlite_connection& connection) {
  try {
    connection.execute("BEGIN IMMEDIATE");
    bool has_column = false;
    {
      statement_use q = prepare(connection, account_statement::has_time_column);
      has_column = q.step() && q.column_int64(0) != 0;
    }
    if (!has_column) connection.execute("ALTER TABLE items ADD COLUMN mtime INTEGER");
    connection.execute(times_sql);
    connection.execute("COMMIT");
  } catch (...) {
    if (connection.in_transaction()) connection.execute("ROLLBACK");
    throw;
  }
}

std::optional<std::int64_t> read_change_generation(sqlite_connection& connection) {
  std::int64_t schema_version = 0;
  {
    statement_use quick = prepare(connection, account_statement::read_generation_quickly);
    if (!quick.step()) return std::nullopt;
    schema_version = quick.column_int64(1);
    if (schema_version == connection.checked_schema_version) return quick.column_int64(0);
  }
  statement_use q = prepare(connection, account_statement::read_generation);
  if (!q.step()) return std::nullopt;
  connection.checked_schema_version = schema_version;
  return q.column_int64(0);
}

void configure_connection(sqlite_connection& connection, int busy_timeout_milliseconds) {
  const std::string busy = "PRAGMA busy_timeout = " + std::to_string(busy_timeout_milliseconds);
  connection.execute(busy.c_str());
  connection.execute(
      "PRAGMA journal_mode = WAL;"
      // In WAL mode NORMAL makes a commit one write() to the log: it survives a crash of the
      // process (the data is in the kernel), though not a power failure.
      "PRAGMA synchronous = NORMAL;"
      "PRAGMA cache_size = -4096;"
      // No memory mapping: a read error on a mapped page would be a signal that ends the
      // server, where read() gives an error the client receives as 206.
      "PRAGMA mmap_size = 0;"
      "PRAGMA temp_store = MEMORY;");
}

}  // namespace ombrix
