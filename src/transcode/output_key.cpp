#include "transcode/output_key.h"

#include <sys/stat.h>

#include <map>
#include <mutex>

#include "app/settings.h"
#include "cache/source_identity.h"
#include "sheets/track_source.h"
#include "transcode/folder_cover.h"
#include "transcode/read_tags_with_covers.h"

namespace {

std::string state_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "-";
  return SourceIdentity::of(st).text();
}

// Which file is a directory's cover only changes with the directory, so the search (a scan
// of the directory) is done once per state of it.
class CoverNames {
 public:
  std::string cover_for(const std::string& source_path, const std::string& directory,
                        const std::string& directory_state) {
    {
      std::lock_guard lock(mutex);
      if (auto it = found.find(directory);
          it != found.end() && it->second.first == directory_state) {
        return it->second.second;
      }
    }
    std::string cover = find_folder_cover(source_path);
    std::lock_guard lock(mutex);
    if (found.size() >= kMaxDirectories) found.clear();
    found[directory] = {directory_state, cover};
    return cover;
  }

 private:
  static constexpr size_t kMaxDirectories = 10000;
  std::mutex mutex;
  std::map<std::string, std::pair<std::string, std::string>> found;
};

CoverNames cover_names;

// An image's track is its own output: the image's key, the track's number and the state of
// the sheet beside it (a sheet inside the image changes with the image's identity).
std::string track_key(const TrackSource& track) {
  std::string key = output_key(track.image) + "\ntrack:" + std::to_string(track.number);
  if (track.sheet_name.empty()) return key + "\nsheet:inside";
  const std::string sheet = track.image.substr(0, track.image.rfind('/') + 1) + track.sheet_name;
  return key + "\nsheet:" + track.sheet_name + ":" + state_of(sheet);
}

}  // namespace

std::string output_key(const std::string& source_path) {
  if (auto track = parse_track_source(source_path)) return track_key(*track);
  if (parse_cover_mode(settings.covers) != CoverMode::Folder) return source_path;
  const std::string directory = source_path.substr(0, source_path.rfind('/'));
  const std::string directory_state = state_of(directory);
  const std::string cover = cover_names.cover_for(source_path, directory, directory_state);
  if (cover.empty()) return source_path + "\ncover:none:" + directory_state;
  return source_path + "\ncover:" + cover + ":" + state_of(cover);
}
