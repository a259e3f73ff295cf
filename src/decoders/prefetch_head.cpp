#include "decoders/prefetch_head.h"

#include <fcntl.h>
#include <unistd.h>

void prefetch_head(const std::string& path, off_t bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;  // whoever reads it finds out why
  posix_fadvise(fd, 0, bytes, POSIX_FADV_WILLNEED);
  close(fd);
}
