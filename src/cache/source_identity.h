#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

// What a cheap lstat tells about a source: while all of it is unchanged, whatever was
// derived from the file's content still holds. The times carry their nanoseconds so that a
// rewrite within the same second is still seen.
struct SourceIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t mtime_sec = 0;
  int64_t mtime_nsec = 0;
  int64_t ctime_sec = 0;
  int64_t ctime_nsec = 0;

  static SourceIdentity of(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev),
            static_cast<uint64_t>(st.st_ino),
            static_cast<int64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec),
            st.st_mtim.tv_nsec,
            static_cast<int64_t>(st.st_ctim.tv_sec),
            st.st_ctim.tv_nsec};
  }
  bool operator==(const SourceIdentity&) const = default;
  // The same file with the same content, though perhaps renamed or unlinked since: a rewrite
  // in place shows in the size or the mtime, while the ctime also moves for a rename.
  bool same_content(const SourceIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size && mtime_sec == o.mtime_sec &&
           mtime_nsec == o.mtime_nsec;
  }

  // All of it as text, for keys that are text.
  std::string text() const {
    return std::to_string(device) + ":" + std::to_string(inode) + ":" + std::to_string(size) + ":" +
           std::to_string(mtime_sec) + "." + std::to_string(mtime_nsec) + ":" +
           std::to_string(ctime_sec) + "." + std::to_string(ctime_nsec);
  }
};
