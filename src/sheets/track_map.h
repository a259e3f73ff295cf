#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sheets/sheet.h"

// The samples [first, end) of an image that make up one track of its sheet.
struct TrackRange {
  int number = 0;
  uint64_t first = 0;
  uint64_t end = 0;
};

// A file name without its extension (a leading dot starts no extension).
std::string name_stem(const std::string& name);

// The FILE entry of sheet that stands for image_name: the one naming it (letter case aside,
// any folder in the entry ignored), else one that differs from it only by extension when
// image_name is the only one of audio_names with that base name. none where no entry does.
std::optional<std::string> sheet_file_for(const Sheet& sheet, const std::string& image_name,
                                          const std::vector<std::string>& audio_names);

// The ranges of the tracks of file in an image of total_samples at sample_rate: each from
// its INDEX 01 to the next one's, the last to the image's end. none, with why set, when the
// image gets fewer than two tracks or an index lies beyond its end or out of order.
std::optional<std::vector<TrackRange>> track_ranges(const Sheet& sheet, const std::string& file,
                                                    unsigned sample_rate, uint64_t total_samples,
                                                    std::string& why);

// "NN - TITLE.ext" (three digits above 99; "Track NN" for an empty title), with "/" and
// control characters of the title made "_", and "IMAGE - " in front when image is given.
// Shortened, at a character boundary of the title, to fit a 255-byte name.
std::string track_file_name(int number, const std::string& title, const std::string& extension,
                            const std::string& image = {});
