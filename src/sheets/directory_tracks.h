#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "sheets/image_sheet.h"

// How a directory's images with usable sheets are listed: each image's name gives way to one
// name per track.
struct DirectoryTracks {
  struct Entry {
    std::string name;    // as listed, e.g. "01 - Intro.mp3"
    std::string source;  // its track source (see track_source.h), image path first
  };
  std::vector<Entry> tracks;
  std::unordered_set<std::string> images;  // entry names listed as their tracks instead
  std::vector<std::string> inputs;         // paths of the sheets and images the names come from
};

// names: every entry of directory. listed_name gives the name an entry is listed under
// otherwise (a transcoded name for audio). A track name equal to another entry's, or a
// second image with a sheet, puts the image's base name in front of all its tracks' names.
DirectoryTracks find_directory_tracks(const std::string& directory,
                                      const std::vector<std::string>& names,
                                      const std::string& extension,
                                      std::string (*listed_name)(const std::string&),
                                      EmbeddedSheetMemo* memo = nullptr);
