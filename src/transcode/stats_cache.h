#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Exact output size of a finished file, stamped with its source's mtime.
struct StatsCacheEntry {
  uint64_t size;
  int64_t atime;  // last stored, updated or found valid
  int64_t mtime;  // source modification time the size was produced from

  StatsCacheEntry(uint64_t size, int64_t mtime);
  void touch();
  bool operator==(const StatsCacheEntry&) const = default;
};

// Process-wide memory of exact output sizes, bounded by settings.statcachesize.
class StatsCache {
 public:
  bool get_size(const std::string& path, int64_t mtime, uint64_t& size);
  void put_size(const std::string& path, uint64_t size, int64_t mtime);

 private:
  void prune();
  void remove_if_unchanged(const std::string& path, const StatsCacheEntry& snapshot);

  std::map<std::string, StatsCacheEntry> entries;
  std::mutex mutex;
};

extern StatsCache stats_cache;
