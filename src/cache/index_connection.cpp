#include "cache/index_connection.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "cache/cache_directory.h"

namespace {

constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kIdentityColumns =
    "device, inode, source_size, mtime_sec, mtime_nsec, ctime_sec, ctime_nsec";

struct StatementText {
  Statement IndexConnection::*statement;
  std::string sql;
};

std::vector<StatementText> statement_texts() {
  const std::string identity = kIdentityColumns;
  return {
      {&IndexConnection::begin, "BEGIN IMMEDIATE"},
      {&IndexConnection::commit, "COMMIT"},
      {&IndexConnection::rollback, "ROLLBACK"},
      {&IndexConnection::find_fingerprint, "SELECT id FROM fingerprints WHERE text = ?1"},
      {&IndexConnection::add_fingerprint, "INSERT INTO fingerprints(text) VALUES (?1)"},
      {&IndexConnection::find_size,
       "SELECT " + identity + ", output_size FROM sizes WHERE path = ?1 AND fingerprint = ?2"},
      {&IndexConnection::put_size,
       "INSERT OR REPLACE INTO sizes(path, fingerprint, " + identity +
           ", output_size) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"},
      // Paths between ?2 and ?3 share a prefix: the primary key serves the range.
      {&IndexConnection::find_sizes_between,
       "SELECT path, " + identity +
           ", output_size FROM sizes WHERE fingerprint = ?1 AND path > ?2 AND path < ?3"},
      {&IndexConnection::find_output, "SELECT " + identity +
                                          ", file, size, checksum FROM outputs "
                                          "WHERE path = ?1 AND fingerprint = ?2"},
      {&IndexConnection::put_output,
       "INSERT OR REPLACE INTO outputs(path, fingerprint, " + identity +
           ", file, size, checksum, last_used) "
           "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)"},
      {&IndexConnection::touch_output,
       "UPDATE outputs SET last_used = ?4 "
       "WHERE path = ?1 AND fingerprint = ?2 AND file = ?3 AND last_used < ?4"},
      {&IndexConnection::remove_output,
       "DELETE FROM outputs WHERE path = ?1 AND fingerprint = ?2 AND file = ?3"},
      {&IndexConnection::least_used,
       "SELECT path, fingerprint, file, size FROM outputs ORDER BY last_used"},
      {&IndexConnection::total_output, "SELECT COALESCE(SUM(size), 0) FROM outputs"},
  };
}

std::string describe(sqlite3* db, int rc) {
  std::string text = sqlite3_errstr(rc);
  if (db) {
    const char* message = sqlite3_errmsg(db);
    if (message && text != message) text += std::string(": ") + message;
  }
  return text;
}

}  // namespace

std::unique_ptr<IndexConnection> IndexConnection::open(const std::string& path, SchemaState& state,
                                                       std::string& reason) {
  // Made owner-only before SQLite opens it, since SQLite gives its -wal and -shm files the
  // mode of the database file.
  if (!open_private_file(path, O_RDWR)) {
    state = SchemaState::kUnusable;
    reason = std::strerror(errno);
    return nullptr;
  }
  auto connection = std::make_unique<IndexConnection>();
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  connection->db.reset(raw);
  if (rc != SQLITE_OK) {
    state = SchemaState::kUnusable;
    reason = describe(raw, rc);
    return nullptr;
  }
  sqlite3* db = connection->db.get();
  // Another olvex process may hold the write lock for one batch; waiting for it is
  // how two processes share a directory.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 0);
  state = prepare_index_schema(db, reason);
  if (state != SchemaState::kReady) return nullptr;

  // WAL lets readers go on while another connection commits a batch; NORMAL sync can
  // lose the last batch at a power cut, which a cache can afford, but never corrupts.
  rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                    nullptr);
  for (const StatementText& text : statement_texts()) {
    if (rc != SQLITE_OK) break;
    rc = ((*connection).*text.statement).prepare(db, text.sql.c_str());
  }
  if (rc != SQLITE_OK) {
    state = rc == SQLITE_BUSY || rc == SQLITE_LOCKED ? SchemaState::kBusy : SchemaState::kUnusable;
    reason = describe(db, rc);
    return nullptr;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0) connection->inode = st.st_ino;
  return connection;
}

bool IndexConnection::fingerprint_id(const std::string& text, bool create, int64_t& id, int& rc) {
  rc = SQLITE_OK;
  if (auto it = fingerprint_ids.find(text); it != fingerprint_ids.end()) {
    id = it->second;
    return true;
  }
  {
    auto use = find_fingerprint.use();
    use.bind(1, text);
    rc = use.step();
    if (rc == SQLITE_ROW) {
      id = use.column_int(0);
      fingerprint_ids[text] = id;
      rc = SQLITE_OK;
      return true;
    }
    if (rc != SQLITE_DONE) return false;
    rc = SQLITE_OK;
  }
  if (!create) return false;
  auto use = add_fingerprint.use();
  use.bind(1, text);
  rc = use.step();
  if (rc != SQLITE_DONE) return false;
  rc = SQLITE_OK;
  id = sqlite3_last_insert_rowid(db.get());
  fingerprint_ids[text] = id;
  return true;
}

void bind_identity(Statement::Use& use, int first, const SourceIdentity& id) {
  use.bind(first, id.device)
      .bind(first + 1, id.inode)
      .bind(first + 2, id.size)
      .bind(first + 3, id.mtime_sec)
      .bind(first + 4, id.mtime_nsec)
      .bind(first + 5, id.ctime_sec)
      .bind(first + 6, id.ctime_nsec);
}

SourceIdentity column_identity(const Statement::Use& use, int first) {
  return {use.column_uint(first),    use.column_uint(first + 1), use.column_int(first + 2),
          use.column_int(first + 3), use.column_int(first + 4),  use.column_int(first + 5),
          use.column_int(first + 6)};
}
