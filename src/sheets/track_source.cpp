#include "sheets/track_source.h"

#include <cstdlib>

std::string make_track_source(const TrackSource& track) {
  std::string source = track.image;
  source += '\0';
  source += std::to_string(track.number);
  source += '\0';
  source += track.sheet_name;
  return source;
}

std::optional<TrackSource> parse_track_source(const std::string& source) {
  const size_t first = source.find('\0');
  if (first == std::string::npos) return std::nullopt;
  const size_t second = source.find('\0', first + 1);
  if (second == std::string::npos) return std::nullopt;
  TrackSource track;
  track.image = source.substr(0, first);
  track.number = std::atoi(source.c_str() + first + 1);
  track.sheet_name = source.substr(second + 1);
  return track;
}

std::string source_file(const std::string& source) {
  return source.substr(0, source.find('\0'));
}
