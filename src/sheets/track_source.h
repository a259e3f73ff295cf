#pragma once

#include <optional>
#include <string>

// One track of an image stands where other code takes a source path, as the image's path,
// a NUL, the track number, a NUL and the name of the sheet file beside the image (empty for
// a sheet inside it). No file name holds a NUL, so a track source is never a file's path.
struct TrackSource {
  std::string image;  // path
  int number = 0;
  std::string sheet_name;
};

std::string make_track_source(const TrackSource& track);
std::optional<TrackSource> parse_track_source(const std::string& source);
// The file a source reads: the image of a track, else the source itself.
std::string source_file(const std::string& source);
