#include "cache/cache_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/dir_handle.h"

bool make_directory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

namespace {

// Calls each with the name of every entry of path but . and ..
template <typename Each>
void for_each_entry(const std::string& path, Each each) {
  DirHandle handle(opendir(path.c_str()));
  if (!handle) return;
  while (const dirent* entry = readdir(handle.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") each(path + "/" + name);
  }
}

// mkdir -p: every missing component from the top down.
bool make_directories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1)) {
    if (!make_directory(dir.substr(0, slash))) return false;
  }
  return make_directory(dir);
}

}  // namespace

bool prepare_cache_directory(const std::string& dir, std::string& error) {
  // access() alone would pass for root on a read-only mount's mode bits, so creating
  // the sub-folders is the real test of writing.
  bool usable = !dir.empty() && make_directories(dir) && access(dir.c_str(), W_OK | X_OK) == 0 &&
                make_directory(dir + "/" + cache_layout::kOutputsDir) &&
                make_directory(dir + "/" + cache_layout::kTempDir);
  if (!usable) {
    int code = dir.empty() ? ENOENT : errno;
    error = "Cache directory is not usable: " + dir + " (" + std::strerror(code) + ")";
  }
  return usable;
}

void remove_stored_outputs(const std::string& dir) {
  for_each_entry(dir + "/" + cache_layout::kOutputsDir, [](const std::string& folder) {
    for_each_entry(folder, [](const std::string& file) { unlink(file.c_str()); });
    rmdir(folder.c_str());
  });
}
