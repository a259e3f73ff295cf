#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cache/source_identity.h"
#include "sheets/directory_tracks.h"

// For each source directory, which entry a transcoded name stands for: an entry that begins
// with the name's stem and a dot and whose extension a decoder takes, or a real file of that
// very name. When several do, one wins by a fixed rule (see the scan), never by directory
// order, so every lookup and every listing agree. Built by one scan on first use and rebuilt when
// the directory changes, so a lookup costs a stat of the directory and a hash lookup however large
// the directory is. The least recently used directories are dropped once the names held pass a
// bound.
class DirIndex {
 public:
  // Stem (with its trailing dot) to the entry name that stands for it.
  using Names = std::unordered_map<std::string, std::string>;
  // Which images of a directory (given its entry names) are listed as tracks.
  using TrackLister =
      std::function<DirectoryTracks(const std::string&, const std::vector<std::string>&)>;

  // rank_of weighs a file name's extension (without the dot): negative for a name that stands
  // for nothing; 0 for a real file of the shown name, which stands only for its own stem; above
  // that a decodable source, the lower winning. list_tracks is optional.
  DirIndex(size_t max_names, std::function<int(const std::string&)> rank_of,
           TrackLister list_tracks = {});

  // The entry name that stands for prefix (a stem with its trailing dot) in directory, or
  // empty when none does or the directory cannot be read.
  std::string find(const std::string& directory, const std::string& prefix);
  // find's answers for every prefix of directory at once, from one listing; null when the
  // directory cannot be read.
  std::shared_ptr<const Names> all(const std::string& directory);
  // What a shown name of directory stands for, from one listing: the track source listed
  // under name (track), else find's entry for prefix; value empty when neither.
  struct Shown {
    std::string value;
    bool track = false;
  };
  Shown find_shown(const std::string& directory, const std::string& name,
                   const std::string& prefix);
  // The directory's images listed as tracks; none when the directory cannot be read.
  std::shared_ptr<const DirectoryTracks> tracks(const std::string& directory);

  size_t directories() const;
  size_t names() const;

 private:
  struct Listing {
    dev_t device = 0;
    ino_t inode = 0;
    timespec mtime = {};
    timespec ctime = {};
    Names by_prefix;
    std::shared_ptr<const DirectoryTracks> tracks;
    std::unordered_map<std::string, std::string> track_by_name;
    // The sheets and images the tracks come from, whose change (unseen in the directory's
    // times when made in place) makes the listing stale.
    std::vector<std::pair<std::string, SourceIdentity>> inputs;
  };
  struct Slot {
    std::shared_ptr<const Listing> listing;
    std::list<std::string>::iterator age;  // position in recency, newest first
  };

  std::shared_ptr<const Listing> listing_of(const std::string& directory);
  std::shared_ptr<const Listing> scan(const std::string& directory, const struct stat& before);
  void add_tracks(const std::string& directory, const std::vector<std::string>& names,
                  Listing& listing) const;
  static bool inputs_unchanged(const Listing& listing);
  void keep(const std::string& directory, std::shared_ptr<const Listing> listing);
  void drop_oldest();
  static size_t weight(const Listing& listing);

  const size_t max_names;
  const std::function<int(const std::string&)> rank_of;
  const TrackLister list_tracks;
  mutable std::mutex mutex;
  std::unordered_map<std::string, Slot> slots;
  std::list<std::string> recency;
  size_t held_names = 0;
};
