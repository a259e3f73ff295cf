#include "transcode/stats_cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "logging/logger.h"

namespace {

int64_t wall_clock() {
  return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

StatsCacheClock stats_cache_clock = wall_clock;

StatsCache stats_cache;

StatsCacheEntry::StatsCacheEntry(uint64_t size, int64_t mtime)
    : size(size), atime(stats_cache_clock()), mtime(mtime) {}

void StatsCacheEntry::touch() {
  atime = stats_cache_clock();
}

bool StatsCache::get_size(const std::string& path, int64_t mtime, uint64_t& size) {
  std::lock_guard lock(mutex);
  auto it = entries.find(path);
  if (it == entries.end()) return false;
  if (it->second.mtime >= mtime) {
    Logging::Logger(Logging::DEBUG)
        << "Found file '" << path << "' in stats cache with size " << it->second.size;
    size = it->second.size;
    it->second.touch();
    return true;
  }
  Logging::Logger(Logging::DEBUG) << "Removed out of date file '" << path << "' from stats cache";
  entries.erase(it);
  return false;
}

void StatsCache::put_size(const std::string& path, uint64_t size, int64_t mtime) {
  const int64_t now = stats_cache_clock();
  uint64_t count;
  {
    std::lock_guard lock(mutex);
    auto it = entries.find(path);
    if (it == entries.end()) {
      Logging::Logger(Logging::DEBUG)
          << "Added file '" << path << "' to stats cache with size " << size;
      StatsCacheEntry entry(size, mtime);
      entry.atime = now;
      entries.emplace(path, entry);
    } else if (it->second.mtime <= mtime) {
      Logging::Logger(Logging::DEBUG)
          << "Updated file '" << path << "' in stats cache with size " << size;
      it->second.size = size;
      it->second.atime = now;
      it->second.mtime = mtime;
    }
    count = entries.size();
  }
  if (count > static_cast<uint64_t>(settings.statcachesize)) prune();
}

std::map<std::string, StatsCacheEntry> StatsCache::contents() {
  std::lock_guard lock(mutex);
  return entries;
}

bool StatsCache::query_mtime(const std::string& path, int64_t& mtime) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  mtime = static_cast<int64_t>(st.st_mtime);
  return true;
}

void StatsCache::prune() {
  Logging::Logger(Logging::DEBUG) << "Pruning stats cache";
  const unsigned int limit = settings.statcachesize;

  std::vector<std::pair<std::string, StatsCacheEntry>> snapshot;
  {
    std::lock_guard lock(mutex);
    snapshot.assign(entries.begin(), entries.end());
  }
  std::sort(snapshot.begin(), snapshot.end(),
            [](const auto& a, const auto& b) { return a.second.atime < b.second.atime; });

  // File-system calls run unlocked so lookups by other threads are not held up;
  // the conditional removal copes with entries that changed meanwhile.
  for (const auto& [path, entry] : snapshot) {
    int64_t mtime = 0;
    if (query_mtime(path, mtime) && mtime <= entry.mtime) continue;
    Logging::Logger(Logging::DEBUG) << "Removed out of date file '" << path << "' from stats cache";
    errno = 0;
    std::lock_guard lock(mutex);
    remove_if_unchanged(path, entry);
  }

  std::lock_guard lock(mutex);
  if (snapshot.empty()) return;
  const uint64_t target = prune_target(limit);
  for (auto it = snapshot.begin(); it != snapshot.end() && entries.size() > target; ++it) {
    Logging::Logger(Logging::DEBUG) << "Pruned oldest file '" << it->first << "' from stats cache";
    remove_if_unchanged(it->first, it->second);
  }
}

uint64_t StatsCache::prune_target(unsigned int limit) {
  // 64-bit, so that large limits do not wrap around to a tiny target.
  return static_cast<uint64_t>(limit) * 9 / 10;
}

void StatsCache::remove_if_unchanged(const std::string& path, const StatsCacheEntry& snapshot) {
  auto it = entries.find(path);
  if (it != entries.end() && it->second == snapshot) entries.erase(it);
}
