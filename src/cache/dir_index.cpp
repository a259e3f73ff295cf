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
  return listing.by_prefix.size() + listing.track_by_name.size() + 1;
}

DirIndex::DirIndex(size_t max_names, std::function<bool(const std::string&)> is_decodable,
                   TrackLister list_tracks)
    : max_names(max_names),
      is_decodable(std::move(is_decodable)),
      list_tracks(std::move(list_tracks)) {}

std::string DirIndex::find(const std::string& directory, const std::string& prefix) {
  const std::shared_ptr<const Listing> listing = listing_of(directory);
  if (!listing) return {};
  const auto found = listing->by_prefix.find(prefix);
  return found == listing->by_prefix.end() ? std::string() : found->second;
}

std::string DirIndex::find_track(const std::string& directory, const std::string& name) {
  const std::shared_ptr<const Listing> listing = listing_of(directory);
  if (!listing) return {};
  const auto found = listing->track_by_name.find(name);
  return found == listing->track_by_name.end() ? std::string() : found->second;
}

std::shared_ptr<const DirectoryTracks> DirIndex::tracks(const std::string& directory) {
  const std::shared_ptr<const Listing> listing = listing_of(directory);
  return listing ? listing->tracks : nullptr;
}

std::shared_ptr<const DirIndex::Listing> DirIndex::listing_of(const std::string& directory) {
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
  if (listing && !inputs_unchanged(*listing)) listing = nullptr;
  if (!listing) {
    timespec scan_start;
    clock_gettime(CLOCK_REALTIME, &scan_start);
    listing = scan(directory, st);
    if (!listing) return {};
    if (!changed_too_recently(st, scan_start)) keep(directory, listing);
  }
  return listing;
}

bool DirIndex::inputs_unchanged(const Listing& listing) {
  for (const auto& [path, identity] : listing.inputs) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !(SourceIdentity::of(st) == identity)) return false;
  }
  return true;
}

// The tracks' names, and the state of the files they were read from.
void DirIndex::add_tracks(const std::string& directory, const std::vector<std::string>& names,
                          Listing& listing) const {
  auto tracks = std::make_shared<DirectoryTracks>(list_tracks(directory, names));
  for (const std::string& path : tracks->inputs) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) listing.inputs.emplace_back(path, SourceIdentity::of(st));
  }
  for (const DirectoryTracks::Entry& entry : tracks->tracks) {
    listing.track_by_name.emplace(entry.name, entry.source);
  }
  listing.tracks = std::move(tracks);
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
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
  if (list_tracks) add_tracks(directory, names, *listing);
  for (const std::string& name : names) {
    if (listing->tracks && listing->tracks->images.count(name) != 0) continue;
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
