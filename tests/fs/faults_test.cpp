// Faults from outside through the mount: sources that vanish, shrink, change or
// cannot be read, directories removed while listed, too few descriptors, and an
// unmount while reads are in flight. The process must never crash and must exit
// cleanly at unmount.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/fixtures.h"
#include "support/mount.h"

namespace {

constexpr int command_timeout_ms = 20000;

// Reads the whole file through fd from offset on; the errno of the first failure, or 0.
int read_to_end(int fd, off_t offset = 0) {
  char chunk[32768];
  for (;;) {
    const ssize_t n = pread(fd, chunk, sizeof chunk, offset);
    if (n < 0) return errno;
    if (n == 0) return 0;
    offset += n;
  }
}

std::vector<std::string> listing(const std::string& path, int& error) {
  std::vector<std::string> names;
  error = 0;
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    error = errno;
    return names;
  }
  errno = 0;
  while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  error = errno;
  closedir(dir);
  return names;
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    spec.total_samples = 44100 * 6;
    ASSERT_TRUE(fixtures::write_flac(source / "song.flac", spec, {"TITLE=Original"}));
    ASSERT_TRUE(fixtures::write_flac(source / "other.flac", spec, {"TITLE=Other"}));
  }

  // Mounts with direct_io so that every read reaches the mirror, not the page cache.
  void start(std::vector<std::string> options = {}) {
    options.insert(options.end(), {"-o", "direct_io,attr_timeout=0,entry_timeout=0"});
    mount = std::make_unique<Mount>(source.path(), options);
    ASSERT_TRUE(mount->live()) << "olvex did not mount:\n" << mount->output();
  }

  // The mirror still answers, and the process ends with status 0 at unmount.
  void expect_healthy_exit() {
    struct stat record;
    EXPECT_EQ(stat((*mount / "other.mp3").c_str(), &record), 0) << strerror(errno);
    EXPECT_EQ(mount->unmount(), 0) << mount->output();
    EXPECT_FALSE(is_mounted(mount->point()));
  }

  void TearDown() override { mount.reset(); }

  fixtures::AudioSpec spec;
  fixtures::TempDir source;
  std::unique_ptr<Mount> mount;
};

TEST_F(Faults, SourceDeletedWhileOpenKeepsReadingOrFailsWithEio) {
  start();
  const int fd = open((*mount / "song.mp3").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0) << strerror(errno);
  char head[4096];
  ASSERT_EQ(pread(fd, head, sizeof head, 0), static_cast<ssize_t>(sizeof head));
  ASSERT_EQ(unlink((source / "song.flac").c_str()), 0);

  const int error = read_to_end(fd, sizeof head);
  EXPECT_TRUE(error == 0 || error == EIO) << strerror(error);
  close(fd);
  errno = 0;
  EXPECT_EQ(open((*mount / "song.mp3").c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
  expect_healthy_exit();
}

TEST_F(Faults, SourceTruncatedWhileTranscodedFailsTheMissingPartWithEio) {
  start();
  const int fd = open((*mount / "song.mp3").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0) << strerror(errno);
  char head[4096];
  ASSERT_EQ(pread(fd, head, sizeof head, 0), static_cast<ssize_t>(sizeof head));
  ASSERT_EQ(truncate((source / "song.flac").c_str(), 3000), 0);

  // Segments made from the source as it was opened may be served whole; what is still to be
  // made fails. Never a mix of the two versions.
  const int error = read_to_end(fd, sizeof head);
  EXPECT_TRUE(error == 0 || error == EIO) << strerror(error);
  // What was encoded before stays readable.
  char again[4096];
  EXPECT_EQ(pread(fd, again, sizeof again, 0), static_cast<ssize_t>(sizeof again));
  EXPECT_EQ(memcmp(head, again, sizeof head), 0);
  close(fd);
  expect_healthy_exit();
}

TEST_F(Faults, SourceRewrittenWhileOpenIsSeenByTheNextOpen) {
  start();
  const int first = open((*mount / "song.mp3").c_str(), O_RDONLY);
  ASSERT_GE(first, 0) << strerror(errno);
  char head[4096];
  ASSERT_EQ(pread(first, head, sizeof head, 0), static_cast<ssize_t>(sizeof head));
  EXPECT_NE(memmem(head, sizeof head, "Original", 8), nullptr);

  // Replaced by a new file under the same name, as a tag editor saves it.
  spec.total_samples = 44100 * 2;
  ASSERT_TRUE(fixtures::write_flac(source / "new.flac", spec, {"TITLE=Rewritten"}));
  ASSERT_EQ(rename((source / "new.flac").c_str(), (source / "song.flac").c_str()), 0);

  const int error = read_to_end(first, sizeof head);
  EXPECT_TRUE(error == 0 || error == EIO) << strerror(error);
  close(first);
  const int second = open((*mount / "song.mp3").c_str(), O_RDONLY);
  ASSERT_GE(second, 0) << strerror(errno);
  char fresh[4096];
  ASSERT_EQ(pread(second, fresh, sizeof fresh, 0), static_cast<ssize_t>(sizeof fresh));
  EXPECT_NE(memmem(fresh, sizeof fresh, "Rewritten", 9), nullptr);
  EXPECT_EQ(read_to_end(second), 0);
  close(second);
  expect_healthy_exit();
}

// Root reads any file, so a mode of 000 alone proves nothing. The daemon is
// started without the capabilities that bypass file permissions (dropped from
// this process's bounding set, which the child inherits; irreversible, and
// harmless for later mounts because every source is readable by its owner).
TEST_F(Faults, UnreadableSourcesFailAloneAndStayListed) {
  for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
    if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) {
      GTEST_SKIP() << "cannot drop capability " << capability << ": " << strerror(errno);
    }
  }
  ASSERT_TRUE(fixtures::write_file(source / "secret.txt", {'s'}));
  ASSERT_EQ(chmod((source / "song.flac").c_str(), 0), 0);
  ASSERT_EQ(chmod((source / "secret.txt").c_str(), 0), 0);
  start();

  struct stat record;
  errno = 0;
  EXPECT_EQ(stat((*mount / "song.mp3").c_str(), &record), -1);
  EXPECT_EQ(errno, EIO);
  errno = 0;
  EXPECT_EQ(open((*mount / "song.mp3").c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, EIO);
  errno = 0;
  EXPECT_EQ(open((*mount / "secret.txt").c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, EACCES);

  int error = 0;
  const auto names = listing(mount->point(), error);
  EXPECT_EQ(error, 0);
  EXPECT_NE(std::find(names.begin(), names.end(), "secret.txt"), names.end());
  expect_healthy_exit();
}

TEST_F(Faults, DirectoryRemovedDuringAListing) {
  ASSERT_EQ(mkdir((source / "album").c_str(), 0755), 0);
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(fixtures::write_file(source / ("album/f" + std::to_string(i) + ".txt"), {'x'}));
  }
  start();

  // Removed between opendir and the first readdir: the listing fails or comes out
  // empty (the kernel may end it quietly), nothing more.
  DIR* dir = opendir((*mount / "album").c_str());
  ASSERT_NE(dir, nullptr) << strerror(errno);
  for (int i = 0; i < 20; ++i) unlink((source / ("album/f" + std::to_string(i) + ".txt")).c_str());
  ASSERT_EQ(rmdir((source / "album").c_str()), 0);
  errno = 0;
  std::vector<std::string> seen;
  while (const dirent* entry = readdir(dir)) seen.push_back(entry->d_name);
  EXPECT_TRUE(errno == ENOENT || (errno == 0 && seen.empty()))
      << strerror(errno) << ", " << seen.size() << " entries";
  closedir(dir);

  // Removed and made again over and over while other threads list it.
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (int i = 0; i < 200; ++i) {
      mkdir((source / "album").c_str(), 0755);
      fixtures::write_file(source / "album/f.txt", {'x'});
      unlink((source / "album/f.txt").c_str());
      rmdir((source / "album").c_str());
    }
    done = true;
  });
  int unexpected = 0;
  while (!done) {
    int error = 0;
    listing(*mount / "album", error);
    if (error != 0 && error != ENOENT) ++unexpected;
  }
  churn.join();
  EXPECT_EQ(unexpected, 0);
  expect_healthy_exit();
}

// Restores the soft descriptor limit of this process when it goes.
class FileLimit {
 public:
  explicit FileLimit(rlim_t soft) {
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = soft;
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~FileLimit() { setrlimit(RLIMIT_NOFILE, &saved); }

 private:
  rlimit saved{};
};

// Adds to a sanitizer's options for the daemons started in its scope.
class ExtraSanitizerOptions {
 public:
  ExtraSanitizerOptions(const char* variable, const std::string& extra) : variable(variable) {
    const char* current = getenv(variable);
    had_value = current != nullptr;
    if (had_value) saved = current;
    setenv(variable, (saved + ":" + extra).c_str(), 1);
  }
  ~ExtraSanitizerOptions() {
    if (had_value) {
      setenv(variable, saved.c_str(), 1);
    } else {
      unsetenv(variable);
    }
  }

 private:
  const char* variable;
  std::string saved;
  bool had_value = false;
};

TEST_F(Faults, RunningOutOfDescriptorsFailsOpensAndRecovers) {
  // Opens of one source share its decoder, so each open needs a source of its own.
  fixtures::AudioSpec short_spec;
  short_spec.total_samples = 44100 / 4;
  constexpr int kSources = 60;
  for (int i = 0; i < kSources; ++i) {
    ASSERT_TRUE(fixtures::write_flac(source / ("n" + std::to_string(i) + ".flac"), short_spec));
  }
  {
    // The daemon inherits the limit at spawn; this process gets its own back at once.
    // A continuous encoding keeps its decoder from the open on; segments open the source
    // again as they are made, and may fail with EIO when none is left.
    FileLimit limit(24);
    start({"--segments=off"});
  }
  std::vector<int> open_files;
  int failures = 0;
  for (int i = 0; i < kSources; ++i) {
    const int fd = open((*mount / ("n" + std::to_string(i) + ".mp3")).c_str(), O_RDONLY);
    if (fd >= 0) {
      open_files.push_back(fd);
    } else {
      ++failures;
    }
  }
  EXPECT_GT(failures, 0) << "the daemon never ran out of descriptors";
  // Every file that did open still reads.
  char buffer[4096];
  for (int fd : open_files) EXPECT_EQ(pread(fd, buffer, sizeof buffer, 0), 4096);
  for (int fd : open_files) close(fd);

  const int fd = open((*mount / "song.mp3").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0) << "no recovery after the descriptors were given back: " << strerror(errno);
  EXPECT_EQ(read_to_end(fd), 0);
  close(fd);
  expect_healthy_exit();
}

// Files still open when the mount goes are never released by the FUSE library:
// their readers are reclaimed by the process exit, by design. The leak check is
// off for this one daemon so that its exit status speaks of crashes only.
TEST_F(Faults, UnmountWhileReadsAreInFlightEndsTheProcessCleanly) {
  {
    ExtraSanitizerOptions no_leak_check("ASAN_OPTIONS", "detect_leaks=0");
    start();
  }
  constexpr int kReaders = 4;
  // Every reader arrives, opened or not, so that a failed open fails the test rather than
  // leaving it waiting for ever.
  std::latch opened(kReaders);
  std::atomic<int> failed_opens{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < kReaders; ++t) {
    readers.emplace_back([&, t] {
      // Close-on-exec, so that the fusermount children do not hold the files open too.
      const int fd =
          open((*mount / (t % 2 ? "song.mp3" : "other.mp3")).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) ++failed_opens;
      opened.count_down();
      if (fd < 0) return;
      read_to_end(fd);
      close(fd);
    });
  }
  opened.wait();
  EXPECT_EQ(failed_opens, 0);
  // A busy mount refuses a plain unmount; the lazy one detaches it at once and the
  // process ends when the last open file is closed.
  if (run_command({"fusermount", "-u", mount->point()}, command_timeout_ms) != 0) {
    EXPECT_EQ(run_command({"fusermount", "-uz", mount->point()}, command_timeout_ms), 0);
  }
  EXPECT_FALSE(is_mounted(mount->point()));
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(mount->unmount(), 0) << mount->output();
  EXPECT_FALSE(is_mounted(mount->point()));
}

}  // namespace
