#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sheets/sheet.h"
#include "sheets/track_map.h"

// What a listing remembers of the sheets inside its directory's audio files, so that a file
// looked into once is not read again while it stays the same (a cold disk pays a read per
// file for it).
class EmbeddedSheetMemo {
 public:
  virtual ~EmbeddedSheetMemo() = default;
  // Whether name was found to hold no sheet and is unchanged since.
  virtual bool holds_none(const std::string& name) = 0;
  // name was just read and holds no sheet.
  virtual void found_none(const std::string& name) = 0;
};

// What one directory holds for sheets, read once for all the images in it.
struct DirectorySheets {
  std::string directory;
  EmbeddedSheetMemo* memo = nullptr;     // optional
  std::vector<std::string> audio_names;  // names a decoder takes
  // The .cue files by name, each with its sheet where it parses.
  std::vector<std::pair<std::string, std::optional<Sheet>>> sheets;
};

// Whether a file name is a sheet's (".cue" in any letter case).
bool is_sheet_name(const std::string& name);

DirectorySheets read_directory_sheets(const std::string& directory,
                                      const std::vector<std::string>& names,
                                      EmbeddedSheetMemo* memo = nullptr);

// The sheet found for an image, and its FILE entry that is the image.
struct SheetFound {
  std::string sheet_name;  // the .cue file beside the image; empty for a sheet inside it
  Sheet sheet;
  std::string file;
};

// An image's sheet and where its tracks lie in it.
struct ImageSheet {
  std::string sheet_name;
  Sheet sheet;
  std::vector<TrackRange> ranges;
};

// The first sheet found for image_name, in this order: a .cue whose FILE names the image, a
// .cue with the image's base name, a CUESHEET tag, a FLAC CUESHEET block. none (with a
// WARNING logged for a sheet that is found but is about other files) where there is none.
std::optional<SheetFound> locate_image_sheet(const DirectorySheets& sheets,
                                             const std::string& image_name);

// found mapped onto an image of total_samples at sample_rate; none, with a WARNING, when its
// tracks do not fit.
std::optional<ImageSheet> fit_image_sheet(const std::string& image_path, SheetFound found,
                                          uint64_t total_samples, unsigned sample_rate);

// Both, with the image's length read from its metadata: none where the image stays one file.
std::optional<ImageSheet> find_image_sheet(const DirectorySheets& sheets,
                                           const std::string& image_name);
