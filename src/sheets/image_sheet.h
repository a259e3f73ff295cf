#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sheets/sheet.h"
#include "sheets/track_map.h"

// What one directory holds for sheets, read once for all the images in it.
struct DirectorySheets {
  std::string directory;
  std::vector<std::string> audio_names;  // names a decoder takes
  // The .cue files by name, each with its sheet where it parses.
  std::vector<std::pair<std::string, std::optional<Sheet>>> sheets;
};

DirectorySheets read_directory_sheets(const std::string& directory,
                                      const std::vector<std::string>& names);

// An image's sheet and where its tracks lie in it.
struct ImageSheet {
  std::string sheet_name;  // the .cue file beside the image; empty for a sheet inside it
  Sheet sheet;
  std::vector<TrackRange> ranges;
  unsigned sample_rate = 0;
};

// The first sheet found for image_name, in this order: a .cue whose FILE names the image, a
// .cue with the image's base name, a CUESHEET tag, a FLAC CUESHEET block. none (with a
// WARNING logged when a sheet was found but cannot be used) where the image stays one file.
std::optional<ImageSheet> find_image_sheet(const DirectorySheets& sheets,
                                           const std::string& image_name);
