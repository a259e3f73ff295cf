#include "cache/dir_index.h"

#include <dirent.h>
#include <time.h>

#include "fs/dir_handle.h"

namespace {

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A directory changed within the file system's timestamp granularity of our scan may change
// again without its mtime moving; such a listing is used once and not kept.
bool changed_too_recently(const struct stat& st, const timespec& scan_start) {
  constexpr int64_t kGranularityNs = 50'000'000;
  const int64_t modified = int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  const int64_t changed = int64_t{st.st_ctim.tv_sec} * 1'000'000'000 + st.st_ctim.tv_nsec;
  const int64_t start = int64_t{scan_start.tv_sec} * 1'000'000'000 + scan_start.tv_nsec;
  return modified + kGranularityNs >= start || changed + kGranularityNs >= start;
}

}  // namespace

// A directory without audio still costs its slot, so it counts as one name.
size_t DirIndex::weight(const Listing& listing) {
  return listing.by_prefix.size() + 1;
}

DirIndex::DirIndex(size_t max_names, std::function<bool(const std::string&)> is_decodable)
    : max_names(max_names), is_decodable(std::move(is_decodable)) {}

std::string DirIndex::find(const std::string& directory, const std::string& prefix) {
  struct stat st;
  if (stat(directory.c_str(), &st) != 0) return {};

  std::shared_ptr<const Listing> listing;
  {
    std::lock_guard lock(mutex);
    if (auto it = slots.find(directory); it != slots.end()) {
      const Listing& held = *it->second.listing;
      if (held.device == st.st_dev && held.inode == st.st_ino &&
          same_time(held.mtime, st.st_mtim) && same_time(held.ctime, st.st_ctim)) {
        recency.splice(recency.begin(), recency, it->second.age);
        listing = it->second.listing;
      }
    }
  }
  if (!listing) {
    timespec scan_start;
    clock_gettime(CLOCK_REALTIME, &scan_start);
    listing = scan(directory, st);
    if (!listing) return {};
    if (!changed_too_recently(st, scan_start)) keep(directory, listing);
  }
  const auto found = listing->by_prefix.find(prefix);
  return found == listing->by_prefix.end() ? std::string() : found->second;
}

// Every stem of a decodable name (each part up to and including a dot before its extension)
// points at the first such name in directory order, as a scan for that stem would find it.
std::shared_ptr<const DirIndex::Listing> DirIndex::scan(const std::string& directory,
                                                        const struct stat& before) {
  DirHandle dir(opendir(directory.c_str()));
  if (!dir) return nullptr;
  auto listing = std::make_shared<Listing>();
  listing->device = before.st_dev;
  listing->inode = before.st_ino;
  listing->mtime = before.st_mtim;
  listing->ctime = before.st_ctim;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    const size_t last_dot = name.rfind('.');
    if (last_dot == std::string::npos || !is_decodable(name.substr(last_dot + 1))) continue;
    for (size_t dot = name.find('.'); dot <= last_dot; dot = name.find('.', dot + 1)) {
      listing->by_prefix.try_emplace(name.substr(0, dot + 1), name);
    }
  }
  return listing;
}

void DirIndex::keep(const std::string& directory, std::shared_ptr<const Listing> listing) {
  std::lock_guard lock(mutex);
  const size_t count = weight(*listing);
  if (auto it = slots.find(directory); it != slots.end()) {
    held_names -= weight(*it->second.listing);
    it->second.listing = std::move(listing);
    recency.splice(recency.begin(), recency, it->second.age);
  } else {
    recency.push_front(directory);
    slots.emplace(directory, Slot{std::move(listing), recency.begin()});
  }
  held_names += count;
  while (held_names > max_names && recency.size() > 1) drop_oldest();
}

void DirIndex::drop_oldest() {
  const auto it = slots.find(recency.back());
  held_names -= weight(*it->second.listing);
  slots.erase(it);
  recency.pop_back();
}

size_t DirIndex::directories() const {
  std::lock_guard lock(mutex);
  return slots.size();
}

size_t DirIndex::names() const {
  std::lock_guard lock(mutex);
  return held_names;
}
