#include "cache/cache_database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "cache/cache_directory.h"
#include "cache/index_connection.h"
#include "logging/logger.h"

namespace {

std::string index_path(const std::string& dir) {
  return dir + "/" + cache_layout::kIndexFile;
}

ino_t inode_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Renames a damaged index out of the way, with the journal files that belong to it,
// unless another process has already put a fresh one in its place. The outputs it
// recorded go too: nothing could find or evict them again.
void set_aside(const std::string& dir, ino_t damaged_inode) {
  const std::string path = index_path(dir);
  if (damaged_inode != 0 && inode_of(path) != damaged_inode) return;
  std::string aside = path + ".damaged-" + std::to_string(std::time(nullptr));
  if (rename(path.c_str(), aside.c_str()) != 0) unlink(path.c_str());
  unlink((path + "-wal").c_str());
  unlink((path + "-shm").c_str());
  remove_stored_outputs(dir);
}

// An index that others may read was made before the cache directory was private: then
// everything beside it is made private, and the index last (when it is opened), so that a
// pass cut short is made again at the next start.
void make_earlier_contents_private(const std::string& dir) {
  const std::string path = index_path(dir);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && (st.st_mode & 07777) == cache_modes::kFile) return;
  make_contents_private(dir, path);
}

// Opens the index in dir; one that is damaged or not ours is set aside and made anew.
std::unique_ptr<IndexConnection> open_index(const std::string& dir, std::string& error) {
  const std::string path = index_path(dir);
  ino_t inode = inode_of(path);
  SchemaState state;
  std::string reason;
  if (auto connection = IndexConnection::open(path, state, reason)) return connection;
  if (state == SchemaState::kBusy) {
    error = "Cache index is locked by another process: " + path + " (" + reason + ")";
    return nullptr;
  }
  Logging::Logger(Logging::ERROR) << "Cache index " << path << " is unusable (" << reason
                                  << "); it is set aside and rebuilt empty.";
  set_aside(dir, inode);
  if (auto connection = IndexConnection::open(path, state, reason)) return connection;
  error = "Cache directory is not usable: " + dir + " (" + reason + ")";
  return nullptr;
}

}  // namespace

std::unique_ptr<CacheDatabase> CacheDatabase::open(const std::string& dir, std::string& error) {
  if (!prepare_cache_directory(dir, error)) return nullptr;
  make_earlier_contents_private(dir);
  auto connection = open_index(dir, error);
  if (!connection) return nullptr;
  return std::unique_ptr<CacheDatabase>(new CacheDatabase(dir, std::move(connection)));
}

CacheDatabase::CacheDatabase(std::string dir, std::unique_ptr<IndexConnection> connection)
    : dir(std::move(dir)), connection(std::move(connection)) {}

CacheDatabase::~CacheDatabase() {
  flush();
}

void CacheDatabase::flush() {
  std::lock_guard lock(mutex);
  flush_locked();
  rebuild_if_damaged_locked();
}

bool CacheDatabase::find_size(const std::string& source_path, const SourceIdentity& id,
                              const std::string& fingerprint, uint64_t& size) {
  std::lock_guard lock(mutex);
  // A pending store is newer than any row, so it alone decides.
  if (auto it = pending_sizes.find({source_path, fingerprint}); it != pending_sizes.end()) {
    if (!(it->second.id == id)) return false;
    size = it->second.size;
    return true;
  }
  if (!connection) return false;
  int64_t fingerprint_id;
  int rc;
  bool found = false;
  if (connection->fingerprint_id(fingerprint, false, fingerprint_id, rc)) {
    auto use = connection->find_size.use();
    use.bind(1, source_path).bind(2, fingerprint_id);
    rc = use.step();
    if (rc == SQLITE_ROW && column_identity(use, 0) == id) {
      size = use.column_uint(7);
      found = true;
    }
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) failed_locked(rc, "looking up a size");
  rebuild_if_damaged_locked();
  return found;
}

namespace {

// A path (or a key that begins with one, ended by a newline) of an entry of the directory
// that prefix ends, rather than of something deeper.
bool directly_in(const std::string& path, size_t prefix_length) {
  const size_t end = std::min(path.find('\n', prefix_length), path.size());
  return path.find('/', prefix_length) >= end;
}

}  // namespace

std::map<std::string, CacheDatabase::KnownSize> CacheDatabase::sizes_in(
    const std::string& directory, const std::string& fingerprint) {
  std::map<std::string, KnownSize> known;
  const std::string first = directory + "/";
  const std::string past = directory + static_cast<char>('/' + 1);
  std::lock_guard lock(mutex);
  int rc = SQLITE_OK;
  int64_t fingerprint_id;
  if (connection && connection->fingerprint_id(fingerprint, false, fingerprint_id, rc)) {
    auto use = connection->find_sizes_between.use();
    use.bind(1, fingerprint_id).bind(2, first).bind(3, past);
    while ((rc = use.step()) == SQLITE_ROW) {
      std::string path = use.column_text(0);
      if (directly_in(path, first.size()))
        known[std::move(path)] = {column_identity(use, 1), use.column_uint(8)};
    }
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  // A pending store is newer than any row.
  for (auto it = pending_sizes.lower_bound({first, std::string()});
       it != pending_sizes.end() && it->first.first < past; ++it) {
    if (it->first.second == fingerprint && directly_in(it->first.first, first.size()))
      known[it->first.first] = {it->second.id, it->second.size};
  }
  if (rc != SQLITE_OK) failed_locked(rc, "looking up the sizes of a directory");
  rebuild_if_damaged_locked();
  return known;
}

void CacheDatabase::store_size(const std::string& source_path, const SourceIdentity& id,
                               const std::string& fingerprint, uint64_t size) {
  std::lock_guard lock(mutex);
  note_pending_locked();
  pending_sizes[{source_path, fingerprint}] = {id, size};
  flush_if_due_locked();
  rebuild_if_damaged_locked();
}

// Called before adding to the pending lists: starts the age of a new batch.
void CacheDatabase::note_pending_locked() {
  if (pending_sizes.empty() && pending_touches.empty()) {
    oldest_pending = std::chrono::steady_clock::now();
  }
}

void CacheDatabase::flush_if_due_locked() {
  if (pending_sizes.size() + pending_touches.size() >= kBatchEntries ||
      std::chrono::steady_clock::now() - oldest_pending >= kBatchAge) {
    flush_locked();
  }
}

bool CacheDatabase::flush_locked() {
  if (pending_sizes.empty() && pending_touches.empty()) return true;
  bool ok = begin_locked() && write_pending_locked() && commit_locked();
  if (!ok) rollback_locked();
  // A batch that failed is dropped rather than retried: the failure was logged once,
  // and what it held is only ever a hint.
  pending_sizes.clear();
  pending_touches.clear();
  return ok;
}

// Inside an open transaction.
bool CacheDatabase::write_pending_locked() {
  int rc = SQLITE_OK;
  for (const auto& [key, pending] : pending_sizes) {
    int64_t fingerprint_id;
    if (!connection->fingerprint_id(key.second, true, fingerprint_id, rc)) break;
    auto use = connection->put_size.use();
    use.bind(1, key.first).bind(2, fingerprint_id);
    bind_identity(use, 3, pending.id);
    use.bind(10, pending.size);
    rc = use.step();
    if (rc != SQLITE_DONE) break;
    rc = SQLITE_OK;
  }
  for (const auto& [key, touch] : pending_touches) {
    if (rc != SQLITE_OK) break;
    int64_t fingerprint_id;
    if (!connection->fingerprint_id(key.second, false, fingerprint_id, rc)) continue;
    auto use = connection->touch_output.use();
    use.bind(1, key.first).bind(2, fingerprint_id).bind(3, touch.file).bind(4, touch.last_used);
    rc = use.step();
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) {
    failed_locked(rc, "writing a batch");
    return false;
  }
  pending_sizes.clear();
  pending_touches.clear();
  return true;
}

bool CacheDatabase::begin_locked() {
  if (!connection) return false;
  auto use = connection->begin.use();
  int rc = use.step();
  if (rc == SQLITE_DONE) return true;
  failed_locked(rc, "starting a transaction");
  return false;
}

bool CacheDatabase::commit_locked() {
  auto use = connection->commit.use();
  int rc = use.step();
  if (rc == SQLITE_DONE) return true;
  failed_locked(rc, "committing");
  return false;
}

void CacheDatabase::rollback_locked() {
  if (!connection) return;
  if (sqlite3_get_autocommit(connection->db.get()) == 0) {
    auto use = connection->rollback.use();
    use.step();
  }
  connection->forget_fingerprints();
}

void CacheDatabase::failed_locked(int rc, const char* what) {
  int primary = rc & 0xff;
  Logging::Logger(Logging::ERROR) << "Cache index: " << what << " failed ("
                                  << sqlite3_errstr(primary) << ": "
                                  << (connection ? sqlite3_errmsg(connection->db.get()) : "")
                                  << ").";
  if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) damaged = true;
}

void CacheDatabase::rebuild_if_damaged_locked() {
  if (!damaged) return;
  damaged = false;
  ino_t inode = connection ? connection->inode : 0;
  connection.reset();
  set_aside(dir, inode);
  std::string error;
  connection = open_index(dir, error);
  if (connection) {
    Logging::Logger(Logging::ERROR)
        << "Cache index " << index_path(dir) << " was damaged; it is set aside and rebuilt empty.";
  } else {
    Logging::Logger(Logging::ERROR) << error << "; nothing more is kept on disk.";
  }
}

// Microseconds of wall-clock time, which other processes share, made strictly
// increasing here so that uses in quick succession keep their order.
int64_t CacheDatabase::next_stamp_locked() {
  auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
                 .count();
  last_stamp = std::max<int64_t>(now, last_stamp + 1);
  return last_stamp;
}
