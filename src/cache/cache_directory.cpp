#include "cache/cache_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/dir_handle.h"

namespace {

// mkdir that accepts an existing directory; created tells whether this call made it.
bool make_or_find_directory(const std::string& path, mode_t mode, bool& created) {
  created = mkdir(path.c_str(), mode) == 0;
  if (created) return true;
  if (errno != EEXIST) return false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

// A missing parent is made as mkdir -p makes it: with the umask's mode, but always
// writable and searchable by its owner, or the next level could not be made in it.
bool make_parent(const std::string& path) {
  bool created;
  if (!make_or_find_directory(path, 0777, created)) return false;
  struct stat st;
  if (!created || stat(path.c_str(), &st) != 0) return true;
  const mode_t needed = S_IWUSR | S_IXUSR;
  return (st.st_mode & needed) == needed || chmod(path.c_str(), (st.st_mode & 07777) | needed) == 0;
}

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
    if (!make_parent(dir.substr(0, slash))) return false;
  }
  return make_directory(dir);
}

}  // namespace

bool make_directory(const std::string& path) {
  bool created;
  if (!make_or_find_directory(path, cache_modes::kFolder, created)) return false;
  // The umask may have taken bits from the owner as well.
  return !created || chmod(path.c_str(), cache_modes::kFolder) == 0;
}

UniqueFd open_private_file(const std::string& path, int flags) {
  UniqueFd fd(open(path.c_str(), flags | O_CREAT | O_CLOEXEC | O_NOFOLLOW, cache_modes::kFile));
  if (fd && fchmod(fd.get(), cache_modes::kFile) != 0) {
    const int error = errno;
    fd.reset();
    errno = error;
  }
  return fd;
}

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

void make_contents_private(const std::string& dir, const std::string& last) {
  for_each_entry(dir, [&last](const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    const mode_t mode = st.st_mode & 07777;
    // Left as they are when already private: chmod would change the ctime that a stored
    // output's check keys on.
    if (S_ISDIR(st.st_mode)) {
      if (mode != cache_modes::kFolder) chmod(path.c_str(), cache_modes::kFolder);
      make_contents_private(path, last);
    } else if (S_ISREG(st.st_mode) && path != last && mode != cache_modes::kFile) {
      chmod(path.c_str(), cache_modes::kFile);
    }
  });
}
