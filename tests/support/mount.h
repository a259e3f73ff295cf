#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Runs the real olvex binary in the foreground on a source tree and a fresh
// mount point. The destructor always unmounts and reaps the process, also when
// a test failed, so no mount outlives its test.
class Mount {
 public:
  // Starts olvex -f [options] source point and waits until the mount is live.
  explicit Mount(const std::string& source, const std::vector<std::string>& options = {});
  ~Mount();
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;

  static bool fuse_available();

  bool live() const { return live_; }
  const std::string& point() const { return point_; }
  std::string operator/(const std::string& name) const { return point_ + "/" + name; }

  // Unmounts and waits for the process; returns its exit status (128 + signal
  // when it was killed, -1 when it could not be started).
  int unmount();
  int exit_status() const { return exit_status_; }
  // What the process wrote to standard output and standard error so far.
  std::string output() const;

 private:
  bool wait_until_live();
  bool reap(int timeout_ms);

  std::string point_;
  std::string output_path_;
  pid_t pid_ = -1;
  bool live_ = false;
  int exit_status_ = -1;
};

// Whether path is a mount point according to /proc/self/mountinfo.
bool is_mounted(const std::string& path);

// Runs argv with a time limit; returns the exit status, or -1 when it did not
// start or had to be killed. Standard output and error go to output if given.
int run_command(const std::vector<std::string>& argv, int timeout_ms,
                std::string* output = nullptr);

// Reads a whole file (through a mount, say) into bytes; the errno of the first failure, or 0.
int read_all(const std::string& path, std::vector<uint8_t>& bytes);

#define SKIP_WITHOUT_FUSE()                                                    \
  do {                                                                         \
    if (!Mount::fuse_available())                                              \
      GTEST_SKIP() << "\n*** /dev/fuse is missing: mount tests NOT RUN ***\n"; \
  } while (0)
