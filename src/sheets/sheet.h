#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One TRACK of a sheet. Positions count from the start of the track's FILE, in CD frames
// (75 a second), or in samples where the sheet came from a FLAC CUESHEET block.
struct SheetTrack {
  int number = 0;     // position in the sheet, from 1
  std::string file;   // the FILE entry it belongs to, as written
  std::string title;  // empty where the sheet gives none
  std::string performer;
  std::string songwriter;
  std::string replaygain_gain;
  std::string replaygain_peak;
  int64_t index0 = -1;  // -1: absent
  int64_t index1 = -1;
};

struct Sheet {
  std::string title;
  std::string performer;
  std::string songwriter;
  std::string date;
  std::string genre;
  std::string disc_number;
  std::string total_discs;
  std::string comment;
  std::string replaygain_album_gain;
  std::string replaygain_album_peak;
  bool positions_in_samples = false;
  std::vector<SheetTrack> tracks;
};

// The sheet in text (already UTF-8), or none where it does not parse or has no track.
std::optional<Sheet> parse_sheet(std::string_view text);
