#pragma once

#include <sqlite3.h>

#include <string>

enum class SchemaState {
  kReady,     // ours, whole, and of this version (created just now if the file was empty)
  kUnusable,  // damaged, foreign or of another version: to be set aside
  kBusy,      // another process held the database beyond the busy timeout
};

// Makes an empty database ours, or checks that an existing one is: application id,
// schema version, the exact tables and an integrity check. reason says why not.
SchemaState prepare_index_schema(sqlite3* db, std::string& reason);
