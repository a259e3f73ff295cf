#include "cache/attr_cache.h"

#include <functional>

#include "app/settings.h"

AttrCache attr_cache;

namespace {

uint64_t path_key(const std::string& path) {
  return std::hash<std::string>{}(path);
}

}  // namespace

bool AttrCache::find(const std::string& source_path, const SourceIdentity& identity,
                     uint64_t& size) {
  std::lock_guard lock(mutex);
  const auto it = by_path.find(path_key(source_path));
  if (it == by_path.end()) return false;
  if (!(it->second.identity == identity)) {
    // The source changed: what was learned about it no longer holds.
    recency.erase(it->second.age);
    by_path.erase(it);
    return false;
  }
  recency.splice(recency.begin(), recency, it->second.age);
  size = it->second.size;
  return true;
}

void AttrCache::put(const std::string& source_path, const SourceIdentity& identity, uint64_t size) {
  const size_t limit = settings.attrcachesize;
  if (limit == 0) return;
  const uint64_t key = path_key(source_path);
  std::lock_guard lock(mutex);
  if (auto it = by_path.find(key); it != by_path.end()) {
    it->second.identity = identity;
    it->second.size = size;
    recency.splice(recency.begin(), recency, it->second.age);
    return;
  }
  while (by_path.size() >= limit) {
    by_path.erase(recency.back());
    recency.pop_back();
  }
  recency.push_front(key);
  by_path.emplace(key, Entry{identity, size, recency.begin()});
}

bool AttrCache::holds(const std::string& source_path, const SourceIdentity& identity) const {
  std::lock_guard lock(mutex);
  const auto it = by_path.find(path_key(source_path));
  return it != by_path.end() && it->second.identity == identity;
}

size_t AttrCache::entries() const {
  std::lock_guard lock(mutex);
  return by_path.size();
}

void AttrCache::clear() {
  std::lock_guard lock(mutex);
  by_path.clear();
  recency.clear();
}
