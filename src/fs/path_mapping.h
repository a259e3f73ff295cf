#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "sheets/directory_tracks.h"

// Mirrored path (from FUSE, beginning with "/") to the source path of the same name.
std::string to_source_path(const std::string& path);
// Mirrored path of a transcoded file to the source it stands for, else to_source_path.
std::string find_source(const std::string& path);
// Source name or link target to the name shown in the mirror.
std::string to_output_name(const std::string& name);

// Which entries one listing of a source directory shows: all but a source whose shown name
// another entry wins (a real file of that name, or a source of a format ranked before it),
// so that a listing never holds a name twice and agrees with find_source.
class ShownEntries {
 public:
  explicit ShownEntries(const std::string& directory);
  bool shows(const std::string& name) const;

 private:
  std::shared_ptr<const std::unordered_map<std::string, std::string>> winners;
};

// The tracks an image of the source directory is listed as, with --cuesheets on; none
// where the directory cannot be read.
std::shared_ptr<const DirectoryTracks> tracks_of_directory(const std::string& directory);
