#pragma once

#include <string>

#include "cache/unique_fd.h"

// The layout of a cache directory: the index beside a folder of stored outputs and
// a folder for outputs still being written.
namespace cache_layout {
inline constexpr const char* kIndexFile = "index.sqlite";
inline constexpr const char* kOutputsDir = "outputs";
inline constexpr const char* kTempDir = "tmp";
}  // namespace cache_layout

// Everything olvex puts in a cache directory is its user's alone: the outputs are copies of
// the sources' audio and the index names every source read, whatever their own modes.
namespace cache_modes {
inline constexpr mode_t kFolder = 0700;
inline constexpr mode_t kFile = 0600;
}  // namespace cache_modes

// Creates DIR owner-only with any missing parents (made as mkdir -p makes them) and its
// sub-folders, and checks that it is a directory this process can write. A DIR that
// exists keeps its mode. false with error set to one line naming DIR.
bool prepare_cache_directory(const std::string& dir, std::string& error);

// Removes every stored output file and its folder, leaving the outputs folder itself.
void remove_stored_outputs(const std::string& dir);

// mkdir of an owner-only folder that accepts an existing directory as it is; false with
// errno set otherwise.
bool make_directory(const std::string& path);

// Opens path with flags, creating it owner-only whatever the umask; a file that already
// exists is made owner-only too.
UniqueFd open_private_file(const std::string& path, int flags);

// Makes every folder and file below dir owner-only, except the file named last, which the
// caller changes once all the others are done. dir itself keeps its mode.
void make_contents_private(const std::string& dir, const std::string& last);
