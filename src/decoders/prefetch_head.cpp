#include "decoders/prefetch_head.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// A longer read is the decoder's own.
constexpr off_t kHeadBytes = 256 * 1024;

}  // namespace

void prefetch_head(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;  // whoever reads it finds out why
  posix_fadvise(fd, 0, kHeadBytes, POSIX_FADV_WILLNEED);
  close(fd);
}
