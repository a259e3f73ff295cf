#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "cache/source_identity.h"

// The output sizes of transcoded files, each valid while its source keeps the identity it
// was worked out for, so that a repeated stat costs one lstat of the source. Bounded by
// settings.attrcachesize entries (0: nothing is kept); the least recently used go first.
// An entry holds a hash of the source path rather than the path: a collision would also need
// the same device, inode, size and times, which only a hard link of the same file has.
class AttrCache {
 public:
  bool find(const std::string& source_path, const SourceIdentity& identity, uint64_t& size);
  void put(const std::string& source_path, const SourceIdentity& identity, uint64_t size);
  // Whether find would answer, without making the entry any younger: a guess of what will be
  // asked must not keep an entry over one a reader used.
  bool holds(const std::string& source_path, const SourceIdentity& identity) const;

  size_t entries() const;
  void clear();

 private:
  struct Entry {
    SourceIdentity identity;
    uint64_t size;
    std::list<uint64_t>::iterator age;  // position in recency, newest first
  };

  mutable std::mutex mutex;
  std::unordered_map<uint64_t, Entry> by_path;
  std::list<uint64_t> recency;
};

extern AttrCache attr_cache;
