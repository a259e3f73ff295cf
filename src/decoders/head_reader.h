#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstring>
#include <vector>

// Reads of one open file at given offsets, with pread, served from its first bytes where they
// lie there: a file's metadata mostly does, and is then read with one system call. The file's
// own offset is left alone.
class HeadReader {
 public:
  HeadReader(int fd, size_t head_bytes) : fd(fd), head(head_bytes) {
    const ssize_t n = pread(fd, head.data(), head.size(), 0);
    head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }

  // Exactly size bytes at at; false where the file ends first or cannot be read.
  bool read(void* destination, size_t size, off_t at) const {
    if (at >= 0 && static_cast<size_t>(at) + size <= head.size()) {
      if (size != 0) std::memcpy(destination, head.data() + at, size);
      return true;
    }
    return pread(fd, destination, size, at) == static_cast<ssize_t>(size);
  }

 private:
  int fd;
  std::vector<char> head;
};
