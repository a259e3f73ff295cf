#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "fs/dir_handle.h"
#include "fs/handlers.h"
#include "fs/listing_read_ahead.h"
#include "fs/path_mapping.h"
#include "logging/logger.h"
#include "sheets/track_source.h"

namespace {

constexpr size_t max_name_length = 255;

// Each entry carries its source's own lstat record, not the transcoded size; an image listed
// as its tracks gives its record to each of them. listed, when given, gets every source entry
// shown, with its record.
int list_entries(DIR* dir, const std::string& directory, void* buffer, fuse_fill_dir_t filler,
                 std::vector<ListedEntry>* listed) {
  const ShownEntries shown(directory);
  const std::shared_ptr<const DirectoryTracks> tracks = tracks_of_directory(directory);
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (tracks && tracks->images.count(name) != 0) continue;
    struct stat record = {};
    if (lstat((directory + "/" + name).c_str(), &record) != 0) return -errno;
    const bool file = S_ISREG(record.st_mode) || S_ISLNK(record.st_mode);
    if (file && !shown.shows(name)) continue;
    if (listed) listed->push_back({name, record});
    if (file) name = to_output_name(name).substr(0, max_name_length);
    if (filler(buffer, name.c_str(), &record, 0) != 0) return 0;
  }
  if (!tracks) return 0;
  for (const DirectoryTracks::Entry& track : tracks->tracks) {
    struct stat record = {};
    if (lstat(source_file(track.source).c_str(), &record) != 0) continue;
    if (filler(buffer, track.name.c_str(), &record, 0) != 0) return 0;
  }
  return 0;
}

}  // namespace

int Handlers::readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t,
                      struct fuse_file_info*) {
  Logging::Logger(Logging::INFO) << "readdir " << path;
  const std::string directory = to_source_path(path);
  DirHandle dir(opendir(directory.c_str()));
  if (!dir) return -errno;
  // Taken before the entries are read, so that a change while reading them counts too.
  struct stat directory_record = {};
  const bool read_ahead = fstat(dirfd(dir.get()), &directory_record) == 0 && read_ahead_wanted();
  std::vector<ListedEntry> listed;
  const int result =
      list_entries(dir.get(), directory, buffer, filler, read_ahead ? &listed : nullptr);
  if (result == 0 && read_ahead) read_ahead_listing(directory, directory_record, listed);
  return result;
}
