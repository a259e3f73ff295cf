#include "cache/index_schema.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "cache/sqlite_handle.h"

namespace {

constexpr int64_t kApplicationId = 0x6f6c7678;  // "olvx"
// Raised with any change to the statements below; an older file is then rebuilt.
constexpr int64_t kSchemaVersion = 1;

struct SchemaObject {
  const char* name;
  const char* sql;
};

// Identity columns of a source, in the order SourceIdentity lists them.
#define OLVEX_SOURCE_COLUMNS                                                              \
  "device INTEGER NOT NULL, inode INTEGER NOT NULL, source_size INTEGER NOT NULL, "       \
  "mtime_sec INTEGER NOT NULL, mtime_nsec INTEGER NOT NULL, ctime_sec INTEGER NOT NULL, " \
  "ctime_nsec INTEGER NOT NULL"

// SQLite keeps the text of each CREATE as given, so comparing it finds any other schema.
const std::vector<SchemaObject> kSchema = {
    {"fingerprints",
     "CREATE TABLE fingerprints(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE)"},
    {"outputs",
     "CREATE TABLE outputs(path TEXT NOT NULL, fingerprint INTEGER NOT NULL, "
     "" OLVEX_SOURCE_COLUMNS
     ", file TEXT NOT NULL, size INTEGER NOT NULL, checksum INTEGER NOT NULL, "
     "last_used INTEGER NOT NULL, PRIMARY KEY(path, fingerprint)) WITHOUT ROWID"},
    {"outputs_by_use", "CREATE INDEX outputs_by_use ON outputs(last_used)"},
    {"sizes",
     "CREATE TABLE sizes(path TEXT NOT NULL, fingerprint INTEGER NOT NULL, "
     "" OLVEX_SOURCE_COLUMNS
     ", output_size INTEGER NOT NULL, PRIMARY KEY(path, fingerprint)) WITHOUT ROWID"},
};

bool is_busy(int rc) {
  return rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
}

// Reads one integer pragma; the SQLite result code.
int read_pragma(sqlite3* db, const char* sql, int64_t& value) {
  Statement statement;
  int rc = statement.prepare(db, sql);
  if (rc != SQLITE_OK) return rc;
  auto use = statement.use();
  rc = use.step();
  if (rc != SQLITE_ROW) return rc;
  value = use.column_int(0);
  return SQLITE_OK;
}

// The application's objects as (name, sql), ordered by name.
int read_objects(sqlite3* db, std::vector<std::pair<std::string, std::string>>& objects) {
  Statement statement;
  int rc = statement.prepare(
      db,
      "SELECT name, sql FROM sqlite_schema WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
      "ORDER BY name");
  if (rc != SQLITE_OK) return rc;
  auto use = statement.use();
  while ((rc = use.step()) == SQLITE_ROW)
    objects.emplace_back(use.column_text(0), use.column_text(1));
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

bool matches_schema(const std::vector<std::pair<std::string, std::string>>& objects) {
  if (objects.size() != kSchema.size()) return false;
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i].first != kSchema[i].name || objects[i].second != kSchema[i].sql) return false;
  }
  return true;
}

int create_schema(sqlite3* db) {
  std::string script;
  for (const SchemaObject& object : kSchema) script += std::string(object.sql) + ";";
  script += "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
  script += "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  return sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr);
}

SchemaState failed(sqlite3* db, int rc, std::string& reason) {
  reason = sqlite3_errstr(rc);
  if (const char* message = sqlite3_errmsg(db); message && reason != message) {
    reason += std::string(": ") + message;
  }
  return is_busy(rc) ? SchemaState::kBusy : SchemaState::kUnusable;
}

}  // namespace

SchemaState prepare_index_schema(sqlite3* db, std::string& reason) {
  // The write lock is taken before looking, so that two processes opening a fresh
  // directory at once do not both create the tables.
  int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return failed(db, rc, reason);
  int64_t application_id = 0, version = 0;
  std::vector<std::pair<std::string, std::string>> objects;
  if ((rc = read_pragma(db, "PRAGMA application_id", application_id)) != SQLITE_OK ||
      (rc = read_pragma(db, "PRAGMA user_version", version)) != SQLITE_OK ||
      (rc = read_objects(db, objects)) != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return failed(db, rc, reason);
  }
  bool empty = application_id == 0 && version == 0 && objects.empty();
  if (empty) {
    rc = create_schema(db);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return failed(db, rc, reason);
    }
    return SchemaState::kReady;
  }
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  if (application_id != kApplicationId) {
    reason = "not an olvex cache index (application id " + std::to_string(application_id) + ")";
    return SchemaState::kUnusable;
  }
  if (version != kSchemaVersion) {
    reason =
        "index version " + std::to_string(version) + ", expected " + std::to_string(kSchemaVersion);
    return SchemaState::kUnusable;
  }
  if (!matches_schema(objects)) {
    reason = "unexpected tables";
    return SchemaState::kUnusable;
  }
  // No integrity check here: it reads the whole index, which would delay the first request
  // of every mount; damage found later in use sets the index aside just the same.
  return SchemaState::kReady;
}
