#include "sheets/directory_tracks.h"

#include <map>

#include "decoders/prefetch_head.h"
#include "sheets/image_sheet.h"
#include "sheets/track_map.h"
#include "sheets/track_source.h"

namespace {

std::vector<std::string> names_of(const ImageSheet& found, const std::string& extension,
                                  const std::string& prefix) {
  std::map<int, const SheetTrack*> by_number;
  for (const SheetTrack& track : found.sheet.tracks) by_number[track.number] = &track;
  std::vector<std::string> names;
  for (const TrackRange& range : found.ranges) {
    names.push_back(
        track_file_name(range.number, by_number[range.number]->title, extension, prefix));
  }
  return names;
}

}  // namespace

DirectoryTracks find_directory_tracks(const std::string& directory,
                                      const std::vector<std::string>& names,
                                      const std::string& extension,
                                      std::string (*listed_name)(const std::string&),
                                      EmbeddedSheetMemo* memo) {
  DirectoryTracks result;
  const DirectorySheets sheets = read_directory_sheets(directory, names, memo);
  // Each audio file is looked into for a sheet of its own, one after another: their heads
  // are asked for at once (and serve the size read-ahead that follows a listing too).
  for (const std::string& audio : sheets.audio_names) {
    if (!memo || !memo->holds_none(audio)) prefetch_head(directory + "/" + audio);
  }
  std::vector<std::pair<std::string, ImageSheet>> images;
  for (const std::string& audio : sheets.audio_names) {
    if (auto found = find_image_sheet(sheets, audio)) images.emplace_back(audio, std::move(*found));
  }
  if (images.empty()) return result;

  std::unordered_set<std::string> others;
  for (const std::string& name : names) others.insert(listed_name(name));
  for (const auto& [image, found] : images) others.erase(listed_name(image));

  for (const auto& [image, found] : images) {
    std::vector<std::string> track_names = names_of(found, extension, {});
    bool prefixed = images.size() > 1;
    for (const std::string& name : track_names) prefixed = prefixed || others.count(name) != 0;
    if (prefixed) track_names = names_of(found, extension, name_stem(image));

    const std::string image_path = directory + "/" + image;
    for (size_t i = 0; i < track_names.size(); ++i) {
      const TrackSource track{image_path, found.ranges[i].number, found.sheet_name};
      result.tracks.push_back({track_names[i], make_track_source(track)});
    }
    result.images.insert(image);
    result.inputs.push_back(image_path);
    if (!found.sheet_name.empty()) result.inputs.push_back(directory + "/" + found.sheet_name);
  }
  return result;
}
