#include "sheets/track_map.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t kMaxName = 255;

std::string base_name(const std::string& entry) {
  const size_t slash = entry.find_last_of("/\\");
  return slash == std::string::npos ? entry : entry.substr(slash + 1);
}

bool same_letters(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

uint64_t to_sample(const Sheet& sheet, int64_t position, unsigned sample_rate) {
  const auto value = static_cast<uint64_t>(position);
  if (sheet.positions_in_samples) return value;
  // Frames of a few hours at any real rate stay far inside 64 bits.
  return value * sample_rate / 75;
}

}  // namespace

std::string name_stem(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::optional<std::string> sheet_file_for(const Sheet& sheet, const std::string& image_name,
                                          const std::vector<std::string>& audio_names) {
  std::vector<std::string> files;
  for (const SheetTrack& track : sheet.tracks) {
    if (std::find(files.begin(), files.end(), track.file) == files.end())
      files.push_back(track.file);
  }
  for (const std::string& file : files) {
    if (same_letters(base_name(file), image_name)) return file;
  }
  const std::string image_stem = name_stem(image_name);
  const auto same_stem = [&](const std::string& name) {
    return same_letters(name_stem(name), image_stem);
  };
  if (std::count_if(audio_names.begin(), audio_names.end(), same_stem) != 1) return std::nullopt;
  for (const std::string& file : files) {
    if (same_letters(name_stem(base_name(file)), image_stem)) return file;
  }
  return std::nullopt;
}

std::optional<std::vector<TrackRange>> track_ranges(const Sheet& sheet, const std::string& file,
                                                    unsigned sample_rate, uint64_t total_samples,
                                                    std::string& why) {
  std::vector<TrackRange> ranges;
  for (const SheetTrack& track : sheet.tracks) {
    if (track.file != file) continue;
    if (track.index1 < 0) {
      why = "track " + std::to_string(track.number) + " has no INDEX 01";
      return std::nullopt;
    }
    const uint64_t first = to_sample(sheet, track.index1, sample_rate);
    if (first >= total_samples) {
      why = "track " + std::to_string(track.number) + " starts beyond the end of the audio";
      return std::nullopt;
    }
    if (!ranges.empty() && first <= ranges.back().first) {
      why = "track " + std::to_string(track.number) + " does not start after the one before";
      return std::nullopt;
    }
    if (!ranges.empty()) ranges.back().end = first;
    ranges.push_back({track.number, first, total_samples});
  }
  if (ranges.size() < 2) {
    why = "it gives this file fewer than two tracks";
    return std::nullopt;
  }
  return ranges;
}

std::string track_file_name(int number, const std::string& title, const std::string& extension,
                            const std::string& image) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02d", number);
  std::string shown = title.empty() ? "Track " + std::string(digits) : title;
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || byte < 0x20 || byte == 0x7F) c = '_';
  }
  const std::string head = (image.empty() ? "" : image + " - ") + digits + " - ";
  const std::string tail = "." + extension;
  const size_t room =
      kMaxName > head.size() + tail.size() ? kMaxName - head.size() - tail.size() : 0;
  if (shown.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
    shown.resize(cut);
  }
  return head + shown + tail;
}
