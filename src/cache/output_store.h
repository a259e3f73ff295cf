#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "cache/cache_database.h"
#include "cache/source_identity.h"
#include "cache/unique_fd.h"

// Whole encoded outputs kept as files in the cache directory, recorded in its index and
// bounded by a capacity in bytes, least recently used evicted first. Safe from any thread.
//
// A stored file is never trusted blindly: the first time this process uses it, its size
// and checksum are checked against the record, and any doubt drops it as a miss.
class OutputStore {
 public:
  // Outputs are written and verified in pieces of this size.
  static constexpr size_t kChunkSize = 256 * 1024;

  // Removes temporary files that processes which no longer run left behind.
  OutputStore(CacheDatabase& database, std::string dir, uint64_t capacity);

  // A read-only descriptor of the stored output for this source and fingerprint, and its
  // size; an empty descriptor on a miss. The caller reads it with pread; an eviction
  // meanwhile unlinks the file but leaves the open descriptor whole.
  UniqueFd open_output(const std::string& source_path, const SourceIdentity& id,
                       const std::string& fingerprint, uint64_t& size);

  // Fills [offset, offset + n) of the output into dst; false when it cannot.
  using Fill = std::function<bool(uint8_t* dst, uint64_t offset, size_t n)>;
  // Writes a finished output of size bytes, chunk by chunk from fill, under a temporary
  // name, renames it into place and records it, evicting others to make room. Gives a
  // read-only descriptor of the file written, which needs no check; an empty one (logged)
  // when it is not kept: larger than the capacity, or any write error.
  UniqueFd store(const std::string& source_path, const SourceIdentity& id,
                 const std::string& fingerprint, uint64_t size, const Fill& fill);

  // Where an output for this key lives, relative to the cache directory: a name per key,
  // so that files of different keys never replace each other.
  static std::string file_name(const std::string& source_path, const SourceIdentity& id,
                               const std::string& fingerprint);

 private:
  // A file this process has checked, by the file's own identity, so that a file
  // replaced since is checked again.
  struct Verified {
    SourceIdentity file;
    uint64_t checksum;
    bool operator==(const Verified&) const = default;
  };

  bool verified_before(const std::string& file, const Verified& state);
  void mark_verified(const std::string& file, const Verified& state);
  void forget(const std::string& file);
  // Removes the record and the file (when it is still the one inspected).
  void drop(const std::string& source_path, const std::string& fingerprint, const std::string& file,
            ino_t inspected_inode);
  bool write_output(const std::string& temp, uint64_t size, const Fill& fill, uint64_t& checksum,
                    std::string& failure);

  CacheDatabase& database;
  const std::string dir;
  const uint64_t capacity;
  std::mutex mutex;  // guards verified only; no file work is done under it
  std::map<std::string, Verified> verified;
};
