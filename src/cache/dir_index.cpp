#include "cache/dir_index.h"

#include <dirent.h>
#include <time.h>

#include <tuple>

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

// One entry that could stand for a stem.
struct Candidate {
  std::string name;
  bool whole_stem = false;  // the stem is the name's own, so the entry shows under it
  int rank = 0;
};

// Which of two entries a stem stands for: one shown under that name before one that merely
// begins with it, then the lower rank (a real file, then lossless before lossy), then the
// lesser name, so that two names differing only in the letter case of their extension
// still give one answer.
bool wins_over(const Candidate& a, const Candidate& b) {
  return std::tie(b.whole_stem, a.rank, a.name) < std::tie(a.whole_stem, b.rank, b.name);
}

}  // namespace

// A directory without audio still costs its slot, so it counts as one name.
size_t DirIndex::weight(const Listing& listing) {
  return listing.by_prefix.size() + listing.track_by_name.size() + 1;
}

DirIndex::DirIndex(size_t max_names, std::function<int(const std::string&)> rank_of,
                   TrackLister list_tracks)
    : max_names(max_names), rank_of(std::move(rank_of)), list_tracks(std::move(list_tracks)) {}

std::string DirIndex::find(const std::string& directory, const std::string& prefix) {
  const std::shared_ptr<const Listing> listing = listing_of(directory);
  if (!listing) return {};
  const auto found = listing->by_prefix.find(prefix);
  return found == listing->by_prefix.end() ? std::string() : found->second;
}

std::shared_ptr<const DirIndex::Names> DirIndex::all(const std::string& directory) {
  std::shared_ptr<const Listing> listing = listing_of(directory);
  if (!listing) return nullptr;
  return {listing, &listing->by_prefix};
}

DirIndex::Shown DirIndex::find_shown(const std::string& directory, const std::string& name,
                                     const std::string& prefix) {
  const std::shared_ptr<const Listing> listing = listing_of(directory);
  if (!listing) return {};
  if (const auto track = listing->track_by_name.find(name); track != listing->track_by_name.end())
    return {track->second, true};
  const auto found = listing->by_prefix.find(prefix);
  return found == listing->by_prefix.end() ? Shown{} : Shown{found->second, false};
}

std::shared_ptr<const DirectoryTracks> DirIndex::tracks(const std::string& directory) {
  const std::shared_ptr<const Listing> listing = listing_of(directory);
  return listing ? listing->tracks : nullptr;
}

std::shared_ptr<const DirIndex::Listing> DirIndex::listing_of(const std::string& directory) {
  struct stat st;
  if (stat(directory.c_str(), &st) != 0) return nullptr;

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
    if (!listing) return nullptr;
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
// and the whole stem of a real file of the shown name point at the entry that wins it.
std::shared_ptr<const DirIndex::Listing> DirIndex::scan(const std::string& directory,
                                                        const struct stat& before) {
  DirHandle dir(opendir(directory.c_str()));
  if (!dir) return nullptr;
  auto listing = std::make_shared<Listing>();
  listing->device = before.st_dev;
  listing->inode = before.st_ino;
  listing->mtime = before.st_mtim;
  listing->ctime = before.st_ctim;
  std::unordered_map<std::string, Candidate> best;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
  if (list_tracks) add_tracks(directory, names, *listing);
  for (const std::string& name : names) {
    if (listing->tracks && listing->tracks->images.count(name) != 0) continue;
    const size_t last_dot = name.rfind('.');
    if (last_dot == std::string::npos) continue;
    const int rank = rank_of(name.substr(last_dot + 1));
    if (rank < 0) continue;
    const size_t first_dot = rank == 0 ? last_dot : name.find('.');
    for (size_t dot = first_dot; dot <= last_dot; dot = name.find('.', dot + 1)) {
      Candidate candidate{name, dot == last_dot, rank};
      auto [it, added] = best.try_emplace(name.substr(0, dot + 1), candidate);
      if (!added && wins_over(candidate, it->second)) it->second = std::move(candidate);
    }
  }
  for (auto& [prefix, candidate] : best)
    listing->by_prefix.emplace(prefix, std::move(candidate.name));
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
