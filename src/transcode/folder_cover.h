#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A picture file kept beside the audio files, used as the front cover of those
// without an embedded picture.
struct FolderCover {
  std::string mime_type;
  std::vector<uint8_t> data;
};

// The cover file in the source's own directory: the first of cover.jpg, cover.png,
// folder.jpg, folder.png, front.jpg, front.png that is a regular file, letter case
// ignored. Empty when there is none. Callers that remember outputs key on this path.
std::string find_folder_cover(const std::string& source_path);

// The latest modification time of the source's directory and of its cover file, in
// seconds: adding, removing, renaming or changing a cover moves it forward.
int64_t folder_cover_time(const std::string& source_path);

// Reads a cover file. false, logged at ERROR, when it cannot be read, is too large
// for a tag, or is neither a JPEG nor a PNG image.
bool read_folder_cover(const std::string& path, FolderCover& cover);

// "image/jpeg" or "image/png" from a file's first bytes; empty for anything else.
std::string picture_mime_type(std::span<const uint8_t> bytes);
