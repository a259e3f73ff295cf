#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
// One database connection, closed once.
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

struct SqliteFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// A statement prepared once and used many times. Each use binds, steps and is
// closed by a Use, which resets the statement on every path out of its scope.
class Statement {
 public:
  Statement() = default;
  // SQLITE_OK or the error of sqlite3_prepare_v2.
  int prepare(sqlite3* db, const char* sql);
  explicit operator bool() const { return statement != nullptr; }

  class Use {
   public:
    explicit Use(sqlite3_stmt* statement) : statement(statement) {}
    ~Use() {
      sqlite3_reset(statement);
      sqlite3_clear_bindings(statement);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    // Parameters are numbered from 1, columns from 0.
    Use& bind(int index, int64_t value);
    Use& bind(int index, uint64_t value) { return bind(index, static_cast<int64_t>(value)); }
    Use& bind(int index, const std::string& value);
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return sqlite3_step(statement); }
    int64_t column_int(int column) const { return sqlite3_column_int64(statement, column); }
    uint64_t column_uint(int column) const { return static_cast<uint64_t>(column_int(column)); }
    std::string column_text(int column) const;

   private:
    sqlite3_stmt* statement;
  };
  Use use() { return Use(statement.get()); }

 private:
  std::unique_ptr<sqlite3_stmt, SqliteFinalizer> statement;
};
