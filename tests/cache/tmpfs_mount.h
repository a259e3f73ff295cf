#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

// A tmpfs mounted on an existing directory for the life of the object, for tests that
// need a full or read-only file system. mounted() is false (and why() says why) where
// the test may not mount; the test then skips loudly.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& path, const std::string& options, unsigned long flags = 0)
      : path(path) {
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", flags, options.c_str()) == 0;
    if (!mounted_) why_ = std::strerror(errno);
  }
  ~TmpfsMount() {
    if (mounted_) umount2(path.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string path;
  bool mounted_ = false;
  std::string why_;
};

#define SKIP_WITHOUT_TMPFS(mount)                                                            \
  do {                                                                                       \
    if (!(mount).mounted())                                                                  \
      GTEST_SKIP() << "\n*** cannot mount a tmpfs (" << (mount).why() << "): NOT RUN ***\n"; \
  } while (0)
