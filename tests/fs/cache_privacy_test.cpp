// The cache directory holds copies of the sources' audio and the path of every source read, so
// nothing olvex keeps in it is readable by another user, whatever the umask and whatever a
// cache filled before left behind. Checked through a real mount, as user nobody.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fs/cache_mount.h"

namespace {

constexpr int kCommandTimeoutMs = 60000;

// Runs a command as user nobody, with no supplementary groups.
int as_nobody(std::vector<std::string> command, std::string* output = nullptr) {
  command.insert(command.begin(),
                 {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
  return run_command(command, kCommandTimeoutMs, output);
}

// The files among paths that nobody can read, one a line.
std::string readable_by_nobody(const std::vector<std::string>& paths) {
  std::vector<std::string> command = {
      "sh", "-c", "for f; do if cat -- \"$f\" >/dev/null 2>&1; then echo \"$f\"; fi; done", "sh"};
  command.insert(command.end(), paths.begin(), paths.end());
  std::string output;
  EXPECT_EQ(as_nobody(command, &output), 0) << output;
  return output;
}

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

// Every folder and file below dir (not dir itself), with its permission bits.
void modes_below(const std::string& dir, std::map<std::string, mode_t>& modes) {
  DIR* handle = opendir(dir.c_str());
  if (!handle) return;
  while (const dirent* entry = readdir(handle)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    modes[path] = st.st_mode & 07777;
    if (S_ISDIR(st.st_mode)) modes_below(path, modes);
  }
  closedir(handle);
}

class CachePrivacy : public CacheMounts {
 protected:
  void SetUp() override {
    CacheMounts::SetUp();
    if (IsSkipped()) return;
    // Reachable by others down to the cache directory, so that only its own modes stop them.
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    add_song("song.flac", 3);
  }

  // Fills dir as a cache of the version before, where everything was made with umask 022.
  void fill_as_before(const std::string& dir) {
    auto olvex = start({"--cachedir=" + dir});
    ASSERT_TRUE(olvex->live()) << olvex->output();
    ASSERT_FALSE(read_whole(*olvex / "song.mp3").empty());
    olvex->stop();
    ASSERT_TRUE(fixtures::write_file(dir + "/index.sqlite.damaged-1000", {'x'}));
    ASSERT_EQ(run_command({"chmod", "-R", "a+rX", dir}, kCommandTimeoutMs), 0);
  }
};

TEST_F(CachePrivacy, NobodyElseReadsTheCache) {
  const std::string control = scratch / "control";
  ASSERT_TRUE(fixtures::write_file(control, {'x'}));
  ASSERT_EQ(chmod(control.c_str(), 0644), 0);
  ASSERT_EQ(readable_by_nobody({control}), control + "\n") << "setpriv does not run as nobody";

  enum Before { kNothing, kEmptyFolder, kEarlierCache, kDamagedIndex };
  const struct {
    const char* what;
    std::string dir;  // below scratch
    Before before;
    mode_t umask;
    mode_t dir_mode;  // of the cache directory afterwards
  } cases[] = {
      // A umask of 0 keeps every bit olvex asks for; 0277 takes the owner's write and search.
      {"new, with missing parents, umask 000", "new0/a/b/cache", kNothing, 0, 0700},
      {"new, umask 277", "new277", kNothing, 0277, 0700},
      {"existing 0755 folder", "existing", kEmptyFolder, 022, 0755},
      {"filled before, files 0644", "earlier", kEarlierCache, 022, 0755},
      {"damaged index from before, 0644", "damaged", kDamagedIndex, 022, 0700},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = scratch / c.dir;
    switch (c.before) {
      case kNothing:
        break;
      case kEmptyFolder:
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        break;
      case kEarlierCache:
        fill_as_before(dir);
        ASSERT_FALSE(HasFatalFailure());
        break;
      case kDamagedIndex:
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        ASSERT_TRUE(fixtures::write_file(dir + "/index.sqlite", std::vector<uint8_t>(4096, 'x')));
        ASSERT_EQ(chmod((dir + "/index.sqlite").c_str(), 0644), 0);
        break;
    }

    const mode_t saved_umask = umask(c.umask);
    auto olvex = start({"--cachedir=" + dir});
    umask(saved_umask);
    ASSERT_TRUE(olvex->live()) << olvex->output();
    // Read to its end, so that an output is stored and the index has its -wal and -shm.
    EXPECT_FALSE(read_whole(*olvex / "song.mp3").empty());

    std::map<std::string, mode_t> modes;
    modes_below(dir, modes);
    std::vector<std::string> files;
    std::vector<std::string> names;
    for (const auto& [path, mode] : modes) {
      struct stat st;
      ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
      EXPECT_EQ(octal(mode), S_ISDIR(st.st_mode) ? "0700" : "0600") << path;
      if (S_ISREG(st.st_mode)) files.push_back(path);
      names.push_back(path.substr(path.rfind('/') + 1));
    }
    auto has = [&names](const std::string& start, const std::string& end = "") {
      return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return name.rfind(start, 0) == 0 && name.size() >= start.size() + end.size() &&
               name.compare(name.size() - end.size(), end.size(), end) == 0;
      });
    };
    EXPECT_TRUE(has("index.sqlite-wal") && has("index.sqlite-shm") && has("", ".out"))
        << "not all kinds of file were checked";
    if (c.before == kDamagedIndex) {
      EXPECT_TRUE(has("index.sqlite.damaged-")) << "not set aside";
    }
    EXPECT_EQ(readable_by_nobody(files), "");

    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(octal(st.st_mode & 07777), octal(c.dir_mode));
    // A folder olvex made is closed to others; one it found keeps its mode, and the warning
    // says what others can see.
    if (c.dir_mode == 0700) {
      EXPECT_NE(as_nobody({"ls", dir}), 0);
    }
    EXPECT_NE(as_nobody({"ls", dir + "/outputs"}), 0);
    const std::string warning = "cache directory " + dir + " (mode 0755) can be entered";
    const std::string log = olvex->log();
    size_t warnings = 0;
    for (size_t at = log.find(warning); at != std::string::npos; at = log.find(warning, at + 1)) {
      ++warnings;
    }
    EXPECT_EQ(warnings, c.dir_mode == 0755 ? 1u : 0u) << log;
    // Made private, a cache filled before is still used.
    if (c.before == kEarlierCache) {
      EXPECT_EQ(olvex->encodings(), 0) << log;
    }
    olvex->stop();
  }
}

}  // namespace
