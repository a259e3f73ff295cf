#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Wall-clock seconds. Tests point it elsewhere to give entries chosen access times;
// set it only while no other thread uses the cache.
using StatsCacheClock = int64_t (*)();
extern StatsCacheClock stats_cache_clock;

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
  virtual ~StatsCache() = default;

  bool get_size(const std::string& path, int64_t mtime, uint64_t& size);
  void put_size(const std::string& path, uint64_t size, int64_t mtime);

  // How many entries a prune keeps at most for a given statcachesize: nine tenths.
  static uint64_t prune_target(unsigned int limit);

  // A copy of the entries, for inspection; touches nothing.
  std::map<std::string, StatsCacheEntry> contents();

 protected:
  // The source's current mtime (following links); false when it cannot be had.
  // Called by prune without the lock held.
  virtual bool query_mtime(const std::string& path, int64_t& mtime);

 private:
  void prune();
  void remove_if_unchanged(const std::string& path, const StatsCacheEntry& snapshot);

  std::map<std::string, StatsCacheEntry> entries;
  std::mutex mutex;
};

extern StatsCache stats_cache;
