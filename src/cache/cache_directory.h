#pragma once

#include <string>

// The layout of a cache directory: the index beside a folder of stored outputs and
// a folder for outputs still being written.
namespace cache_layout {
inline constexpr const char* kIndexFile = "index.sqlite";
inline constexpr const char* kOutputsDir = "outputs";
inline constexpr const char* kTempDir = "tmp";
}  // namespace cache_layout

// Creates DIR with any missing parents and its sub-folders, and checks that it is a
// directory this process can write. false with error set to one line naming DIR.
bool prepare_cache_directory(const std::string& dir, std::string& error);

// Removes every stored output file and its folder, leaving the outputs folder itself.
void remove_stored_outputs(const std::string& dir);

// mkdir that accepts an existing directory; false with errno set otherwise.
bool make_directory(const std::string& path);
