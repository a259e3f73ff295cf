#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cache/source_identity.h"

struct IndexConnection;

// The index of a cache directory: exact output sizes and the stored outputs, each keyed
// by source path, source identity and output fingerprint. The one owner of the SQLite
// connection; every method is safe to call from any thread.
//
// Several processes may share a directory: SQLite's file locks serialise their
// transactions (WAL mode, writers wait up to a busy timeout), rows are keyed, and each
// process only ever acts on rows it has just read.
//
// Run-time failures are logged once at ERROR and answered as a miss; a database found
// damaged is set aside and rebuilt empty.
class CacheDatabase {
 public:
  // Pending stores are committed together once this many are waiting...
  static constexpr size_t kBatchEntries = 500;
  // ...or when the oldest has waited this long by the time of the next store.
  static constexpr std::chrono::milliseconds kBatchAge{1000};

  // Creates dir if needed and opens or creates its index. nullptr with error set to
  // one line naming dir when the directory cannot be used.
  // A connection must not cross a fork (SQLite's file locks belong to a process): a
  // program that daemonizes checks with one object before and opens its own after.
  static std::unique_ptr<CacheDatabase> open(const std::string& dir, std::string& error);
  ~CacheDatabase();
  CacheDatabase(const CacheDatabase&) = delete;
  CacheDatabase& operator=(const CacheDatabase&) = delete;

  const std::string& directory() const { return dir; }

  bool find_size(const std::string& source_path, const SourceIdentity& id,
                 const std::string& fingerprint, uint64_t& size);
  // Every size known for this fingerprint whose path lies in directory (not below it): one
  // query for a whole listing.
  struct KnownSize {
    SourceIdentity id;
    uint64_t size = 0;
  };
  std::map<std::string, KnownSize> sizes_in(const std::string& directory,
                                            const std::string& fingerprint);
  // Replaces what was known for this path and fingerprint; committed with the next batch.
  void store_size(const std::string& source_path, const SourceIdentity& id,
                  const std::string& fingerprint, uint64_t size);

  // A stored output: its file (relative to the directory), byte count and checksum.
  struct OutputRecord {
    SourceIdentity source;
    std::string file;
    uint64_t size = 0;
    uint64_t checksum = 0;
  };
  // The record for this path and fingerprint, whatever source identity it was made from.
  bool find_output(const std::string& source_path, const std::string& fingerprint,
                   OutputRecord& record);
  // Marks an output as just used, for eviction order; committed with the next batch.
  void touch_output(const std::string& source_path, const std::string& fingerprint,
                    const std::string& file);
  // In one transaction: drops the record this one replaces, evicts least recently used
  // outputs until the total plus this one fits capacity, and adds it. released gets the
  // files whose records went (never record.file itself), for the caller to unlink.
  bool record_output(const std::string& source_path, const std::string& fingerprint,
                     const OutputRecord& record, uint64_t capacity,
                     std::vector<std::string>& released);
  // Removes the record only while it still names this file.
  void remove_output(const std::string& source_path, const std::string& fingerprint,
                     const std::string& file);
  // Bytes of all recorded outputs; 0 on error.
  uint64_t total_output_bytes();

  // Commits what is pending now.
  void flush();

 private:
  using Key = std::pair<std::string, std::string>;  // source path, fingerprint
  struct PendingTouch {
    std::string file;
    int64_t last_used;
  };
  struct PendingSize {
    SourceIdentity id;
    uint64_t size;
  };

  CacheDatabase(std::string dir, std::unique_ptr<IndexConnection> connection);

  // All below run with mutex held.
  void note_pending_locked();
  void flush_if_due_locked();
  bool flush_locked();
  bool write_pending_locked();
  bool begin_locked();
  bool commit_locked();
  void rollback_locked();
  // Logs a failed step once; marks the index for rebuilding when SQLite found it damaged.
  void failed_locked(int rc, const char* what);
  // Sets a damaged index aside and opens a fresh one, after the failing call unwound.
  void rebuild_if_damaged_locked();
  int64_t next_stamp_locked();

  std::string dir;
  std::mutex mutex;
  std::unique_ptr<IndexConnection> connection;  // null after a failed rebuild
  bool damaged = false;
  std::map<Key, PendingSize> pending_sizes;
  std::map<Key, PendingTouch> pending_touches;
  std::chrono::steady_clock::time_point oldest_pending;
  int64_t last_stamp = 0;
};
