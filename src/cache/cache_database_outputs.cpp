// The stored outputs' records in the cache index.
#include <algorithm>

#include "cache/cache_database.h"
#include "cache/index_connection.h"

namespace {

struct Candidate {
  std::string path;
  int64_t fingerprint_id;
  std::string file;
  uint64_t size;
};

}  // namespace

bool CacheDatabase::find_output(const std::string& source_path, const std::string& fingerprint,
                                OutputRecord& record) {
  std::lock_guard lock(mutex);
  if (!connection) return false;
  int64_t fingerprint_id;
  int rc;
  bool found = false;
  if (connection->fingerprint_id(fingerprint, false, fingerprint_id, rc)) {
    auto use = connection->find_output.use();
    use.bind(1, source_path).bind(2, fingerprint_id);
    rc = use.step();
    if (rc == SQLITE_ROW) {
      record.source = column_identity(use, 0);
      record.file = use.column_text(7);
      record.size = use.column_uint(8);
      record.checksum = use.column_uint(9);
      found = true;
    }
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) failed_locked(rc, "looking up an output");
  rebuild_if_damaged_locked();
  return found;
}

void CacheDatabase::touch_output(const std::string& source_path, const std::string& fingerprint,
                                 const std::string& file) {
  std::lock_guard lock(mutex);
  note_pending_locked();
  pending_touches[{source_path, fingerprint}] = {file, next_stamp_locked()};
  flush_if_due_locked();
  rebuild_if_damaged_locked();
}

bool CacheDatabase::record_output(const std::string& source_path, const std::string& fingerprint,
                                  const OutputRecord& record, uint64_t capacity,
                                  std::vector<std::string>& released) {
  std::lock_guard lock(mutex);
  released.clear();
  // Pending uses go first, so that eviction sees the latest order.
  bool ok = begin_locked() && write_pending_locked();
  int rc = SQLITE_OK;
  int64_t fingerprint_id = 0;
  if (ok) ok = connection->fingerprint_id(fingerprint, true, fingerprint_id, rc);

  auto remove = [&](const std::string& path, int64_t id, const std::string& file) {
    auto use = connection->remove_output.use();
    use.bind(1, path).bind(2, id).bind(3, file);
    rc = use.step();
    if (rc != SQLITE_DONE) return false;
    rc = SQLITE_OK;
    if (file != record.file) released.push_back(file);
    return true;
  };

  // The record this one replaces (an older identity of the same source) goes first.
  if (ok) {
    auto use = connection->find_output.use();
    use.bind(1, source_path).bind(2, fingerprint_id);
    rc = use.step();
    std::string old_file = rc == SQLITE_ROW ? use.column_text(7) : std::string();
    ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    rc = ok ? SQLITE_OK : rc;
    if (ok && !old_file.empty()) ok = remove(source_path, fingerprint_id, old_file);
  }

  uint64_t total = 0;
  if (ok) {
    auto use = connection->total_output.use();
    rc = use.step();
    ok = rc == SQLITE_ROW;
    if (ok) {
      total = use.column_uint(0);
      rc = SQLITE_OK;
    }
  }

  // Least recently used first, until this one fits.
  std::vector<Candidate> evicted;
  if (ok && total + record.size > capacity) {
    auto use = connection->least_used.use();
    while (total + record.size > capacity && (rc = use.step()) == SQLITE_ROW) {
      evicted.push_back(
          {use.column_text(0), use.column_int(1), use.column_text(2), use.column_uint(3)});
      total -= std::min(total, evicted.back().size);
    }
    ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    rc = ok ? SQLITE_OK : rc;
  }
  for (const Candidate& candidate : evicted) {
    if (!ok) break;
    ok = remove(candidate.path, candidate.fingerprint_id, candidate.file);
  }

  if (ok) {
    auto use = connection->put_output.use();
    use.bind(1, source_path).bind(2, fingerprint_id);
    bind_identity(use, 3, record.source);
    use.bind(10, record.file)
        .bind(11, record.size)
        .bind(12, record.checksum)
        .bind(13, next_stamp_locked());
    rc = use.step();
    ok = rc == SQLITE_DONE;
    rc = ok ? SQLITE_OK : rc;
  }
  if (rc != SQLITE_OK) failed_locked(rc, "recording an output");
  if (ok) ok = commit_locked();
  if (!ok) {
    rollback_locked();
    released.clear();
  }
  rebuild_if_damaged_locked();
  return ok;
}

void CacheDatabase::remove_output(const std::string& source_path, const std::string& fingerprint,
                                  const std::string& file) {
  std::lock_guard lock(mutex);
  pending_touches.erase({source_path, fingerprint});
  if (!connection) return;
  int64_t fingerprint_id;
  int rc;
  if (connection->fingerprint_id(fingerprint, false, fingerprint_id, rc)) {
    auto use = connection->remove_output.use();
    use.bind(1, source_path).bind(2, fingerprint_id).bind(3, file);
    rc = use.step();
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) failed_locked(rc, "removing an output");
  rebuild_if_damaged_locked();
}

uint64_t CacheDatabase::total_output_bytes() {
  std::lock_guard lock(mutex);
  if (!connection) return 0;
  uint64_t total = 0;
  {
    auto use = connection->total_output.use();
    int rc = use.step();
    if (rc == SQLITE_ROW) {
      total = use.column_uint(0);
    } else {
      failed_locked(rc, "adding up outputs");
    }
  }
  rebuild_if_damaged_locked();
  return total;
}
