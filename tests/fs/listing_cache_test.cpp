// The directory index and the attribute cache through the mount: whatever changes in the
// source between two stats, the mirror answers as a mount without either cache does.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/mount.h"

namespace {

constexpr int kCommandTimeoutMs = 60000;

struct Stat {
  int error = 0;  // errno of a failed stat
  off_t size = 0;
  bool operator==(const Stat&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Stat& s) {
  return out << (s.error ? std::string("errno ") + std::to_string(s.error)
                         : std::to_string(s.size) + " bytes");
}

Stat stat_of(const std::string& path) {
  struct stat record = {};
  if (stat(path.c_str(), &record) != 0) return {errno, 0};
  return {0, record.st_size};
}

// Directory changes come faster than the index keeps a listing; a pause makes the listing
// built before a change one that is kept, which is the case worth testing.
void settle() {
  usleep(120'000);
}

bool write_song(const std::string& path, uint64_t samples, const char* title = "Song") {
  fixtures::AudioSpec spec;
  spec.total_samples = samples;
  return fixtures::write_flac(path, spec, {std::string("TITLE=") + title});
}

// The same source tree mounted twice: with the default caches, and as the reference, with
// the attribute cache off. The kernel caches nothing, so every stat reaches olvex.
class ListingCaches : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FUSE();
    ASSERT_EQ(mkdir((source / "album").c_str(), 0755), 0);
    ASSERT_TRUE(write_song(source / "album/song.flac", 44100));
    ASSERT_TRUE(write_song(source / "album/other.flac", 22050));
    settle();
    const std::vector<std::string> no_kernel_cache = {"-o", "attr_timeout=0,entry_timeout=0"};
    cached = std::make_unique<Mount>(source.path(), no_kernel_cache);
    std::vector<std::string> plain = no_kernel_cache;
    plain.push_back("--attrcachesize=0");
    reference = std::make_unique<Mount>(source.path(), plain);
    ASSERT_TRUE(cached->live()) << cached->output();
    ASSERT_TRUE(reference->live()) << reference->output();
  }
  void TearDown() override {
    for (Mount* m : {cached.get(), reference.get()}) {
      if (!m) continue;
      EXPECT_EQ(m->unmount(), 0) << m->output();
    }
  }

  void expect_same(const std::string& name, const char* what) {
    EXPECT_EQ(stat_of(*cached / name), stat_of(*reference / name)) << what << ": " << name;
  }

  fixtures::TempDir source;
  std::unique_ptr<Mount> cached;
  std::unique_ptr<Mount> reference;
};

TEST_F(ListingCaches, EveryChangeToTheSourceShowsAtOnce) {
  const struct {
    const char* what;
    std::function<void(const fixtures::TempDir&)> change;
    std::vector<const char*> names;  // stat'ed before and after the change
  } cases[] = {
      {"rewritten longer",
       [](const fixtures::TempDir& s) { write_song(s / "album/song.flac", 44100 * 3); },
       {"album/song.mp3"}},
      {"retagged, same length",
       [](const fixtures::TempDir& s) {
         write_song(s / "album/song.flac", 44100 * 3, "A much longer title than before");
       },
       {"album/song.mp3"}},
      {"truncated",
       [](const fixtures::TempDir& s) { truncate((s / "album/song.flac").c_str(), 100); },
       {"album/song.mp3"}},
      {"replaced by cp -p",
       [](const fixtures::TempDir& s) {
         write_song(s / "spare.flac", 44100 * 2);
         run_command({"cp", "-p", s / "spare.flac", s / "album/song.flac"}, kCommandTimeoutMs);
       },
       {"album/song.mp3"}},
      {"mv over it",
       [](const fixtures::TempDir& s) {
         write_song(s / "spare.flac", 44100 / 2);
         std::rename((s / "spare.flac").c_str(), (s / "album/song.flac").c_str());
       },
       {"album/song.mp3"}},
      {"deleted",
       [](const fixtures::TempDir& s) { unlink((s / "album/song.flac").c_str()); },
       {"album/song.mp3"}},
      {"new sibling in the name tie",
       [](const fixtures::TempDir& s) {
         write_song(s / "album/other.ogg.flac", 44100 * 4);
         write_song(s / "album/other.a.flac", 44100 * 5);
       },
       {"album/other.mp3", "album/other.ogg.mp3", "album/other.a.mp3"}},
      {"directory renamed",
       [](const fixtures::TempDir& s) {
         std::rename((s / "album").c_str(), (s / "renamed").c_str());
       },
       {"album/other.mp3", "renamed/other.mp3"}},
      {"directory removed",
       [](const fixtures::TempDir& s) {
         run_command({"rm", "-rf", s / "renamed"}, kCommandTimeoutMs);
       },
       {"renamed/other.mp3"}},
      {"directory made again with other files",
       [](const fixtures::TempDir& s) {
         mkdir((s / "renamed").c_str(), 0755);
         write_song(s / "renamed/other.flac", 44100 * 6);
       },
       {"renamed/other.mp3"}},
  };
  for (const auto& c : cases) {
    for (const char* name : c.names) expect_same(name, c.what);  // fills the caches
    settle();
    c.change(source);
    for (const char* name : c.names) expect_same(name, c.what);
  }
}

// Listing many directories builds many indexes; the oldest go, and each directory is still
// answered right when it is looked at again.
TEST_F(ListingCaches, TenThousandDirectoriesListedOnce) {
  constexpr int kDirectories = 10000;
  const std::string many = source / "many";
  ASSERT_EQ(mkdir(many.c_str(), 0755), 0);
  for (int i = 0; i < kDirectories; ++i) {
    const std::string d = many + "/" + std::to_string(i);
    ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    // Names only matter to the index; the content is never read here.
    ASSERT_TRUE(fixtures::write_file(d + "/t" + std::to_string(i) + ".flac", {}));
  }
  settle();
  for (int i = 0; i < kDirectories; ++i) {
    const std::string name = "many/" + std::to_string(i) + "/t" + std::to_string(i) + ".mp3";
    ASSERT_EQ(stat_of(*cached / name).error, EIO) << name;  // found, and not a FLAC
  }
  for (int i : {0, kDirectories / 2, kDirectories - 1}) {
    const std::string dir = "many/" + std::to_string(i);
    EXPECT_EQ(stat_of(*cached / (dir + "/t" + std::to_string(i) + ".mp3")).error, EIO) << dir;
    EXPECT_EQ(stat_of(*cached / (dir + "/x.mp3")).error, ENOENT) << dir;
  }
}

}  // namespace

namespace {

std::vector<uint8_t> read_whole(const std::string& path) {
  return fixtures::read_file(path);
}

std::string last_128(const std::string& path, off_t size) {
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path;
  if (fd < 0) return {};
  char tag[128] = {};
  EXPECT_EQ(pread(fd, tag, sizeof tag, size - 128), 128);
  close(fd);
  return {tag, 3};
}

// A VBR file's exact size, learned in one mount, is what a stat reports in the next; with
// its stored output gone, the ID3v1 tag is still where that size says, read first thing.
TEST(CacheDirectory, ExactSizeAfterARemountEvenWithoutTheStoredOutput) {
  SKIP_WITHOUT_FUSE();
  fixtures::TempDir source;
  fixtures::TempDir cache;
  ASSERT_TRUE(write_song(source / "song.flac", 44100 * 3));
  const std::vector<std::string> options = {"-o", "attr_timeout=0,entry_timeout=0", "--vbr",
                                            "--statcachesize=100", "--cachedir=" + cache.path()};
  std::vector<uint8_t> whole;
  {
    Mount first(source.path(), options);
    ASSERT_TRUE(first.live()) << first.output();
    whole = read_whole(first / "song.mp3");
    EXPECT_EQ(stat_of(first / "song.mp3").size, static_cast<off_t>(whole.size()));
    EXPECT_EQ(first.unmount(), 0) << first.output();
  }
  ASSERT_GT(whole.size(), 1000u);
  ASSERT_EQ(run_command({"sh", "-c", "rm -f " + cache.path() + "/outputs/*/*"}, kCommandTimeoutMs),
            0);
  Mount second(source.path(), options);
  ASSERT_TRUE(second.live()) << second.output();
  EXPECT_EQ(stat_of(second / "song.mp3").size, static_cast<off_t>(whole.size()));
  EXPECT_EQ(last_128(second / "song.mp3", static_cast<off_t>(whole.size())), "TAG");
  EXPECT_EQ(read_whole(second / "song.mp3"), whole);
  EXPECT_EQ(second.unmount(), 0) << second.output();
}

}  // namespace
