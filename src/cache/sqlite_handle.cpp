#include "cache/sqlite_handle.h"

int Statement::prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  statement.reset(raw);
  return rc;
}

Statement::Use& Statement::Use::bind(int index, int64_t value) {
  sqlite3_bind_int64(statement, index, value);
  return *this;
}

Statement::Use& Statement::Use::bind(int index, const std::string& value) {
  sqlite3_bind_text(statement, index, value.data(), static_cast<int>(value.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

std::string Statement::Use::column_text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement, column);
  int size = sqlite3_column_bytes(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
}
